#pragma once

// Metering of the program sound and the output device's name: a tap on the engine's main mixer
// measures each block on the engine's tap thread into a VuMeter; a timer on the run loop takes
// the newest reading and publishes it in the controller's level values (30 times a second while
// sound is measured, or until shown levels have fallen to silence; otherwise it sleeps until the
// tap measures again). The default output device's name and channel count are published as they
// change.
//
// Owns: the meter, the tap, the timer and the device subscription. The published values are the
// controller's. Main thread, except the tap's measurement, which shares only the VuMeter.

#include <memory>
#include <string>
#include <vector>

#include "platform/runloop/published.h"
#include "platform/runloop/run_loop.h"
#include "playback/play_events.h"
#include "playback/vu_meter.h"

namespace kestio::platform::audio {
class AudioEngine;
}

namespace kestio {

class ProgramMeter {
  public:
    // Levels are dBFS; this stands for silence and is the floor.
    static constexpr float kSilenceDb = -100.0f;
    static constexpr std::size_t kMeterChannels = 8;

    // The values the meter publishes, as the controller publishes them.
    struct Values {
        platform::Published<float>& levelL;
        platform::Published<float>& levelR;
        platform::Published<std::vector<float>>& levels;
        platform::Published<int>& channelCount;
        platform::Published<std::string>& outputDeviceName;
    };

    ProgramMeter(platform::RunLoop& loop, platform::audio::AudioEngine& engine, Values values,
                 PlayEvents& events);
    // Removes the tap and cancels the timer and the device subscription.
    ~ProgramMeter();
    ProgramMeter(const ProgramMeter&) = delete;
    ProgramMeter& operator=(const ProgramMeter&) = delete;

    // Publishes the device, installs the tap and starts the timer.
    void start();
    // Peak (true) or RMS (false) levels; read by the tap on its own thread.
    bool isPeak() const { return meter_->isPeak(); }
    void setPeak(bool peak) { meter_->setPeak(peak); }
    // Drops what was measured and shows silence at once.
    void silence();
    // Publishes the default output device's name and channel count.
    void refreshOutputDevice();

  private:
    void wake();
    void sleep();
    void tick();
    void publish(const VuReading& reading);
    std::weak_ptr<bool> weakSelf() const { return alive_; }

    platform::RunLoop& loop_;
    platform::audio::AudioEngine& engine_;
    Values values_;
    PlayEvents& events_;
    std::shared_ptr<VuMeter> meter_ = std::make_shared<VuMeter>();
    platform::TimerHandle timer_;
    platform::Subscription deviceSubscription_;
    bool tapInstalled_ = false;
    bool lastPublishedWasSilent_ = true;
    int ticksWithoutReading_ = 0;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace kestio
