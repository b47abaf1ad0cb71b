#include "playback/program_meter.h"

#include <string>
#include <vector>

#include "platform/audio/audio_engine.h"
#include "platform/audio/audio_output_device.h"
#include "platform/audio/mixer_node.h"
#include "playback/playback_controller.h"

namespace kestio {

namespace {
// The meter's tap: frames per measurement, and the timer's period.
constexpr uint32_t kTapFrames = 1024;
constexpr double kVuPeriod = 1.0 / 30.0;
// Ticks without a measurement after which the meters show silence.
constexpr int kTicksBeforeSilence = 3;
}  // namespace

ProgramMeter::ProgramMeter(PlaybackController& controller, platform::RunLoop& loop,
                           platform::audio::AudioEngine& engine)
    : controller_(controller), loop_(loop), engine_(engine) {}

ProgramMeter::~ProgramMeter() {
    alive_.reset();
    timer_.cancel();
    deviceSubscription_.reset();
    if (tapInstalled_) {
        engine_.mainMixerNode()->removeTap(0);
    }
}

void ProgramMeter::start() {
    refreshOutputDevice();
    deviceSubscription_ = engine_.device().defaultOutput.subscribe(
        [this](const platform::audio::OutputDeviceInfo&) { refreshOutputDevice(); });
    // The tap holds the meter and a weak hold of this part, never the part itself, so a block
    // still running while the controller goes touches nothing of it; the loop outlives both.
    auto meter = meter_;
    auto woken = [&loop = loop_, weak = weakSelf(), this] {
        loop.post([weak, this] {
            if (weak.lock() && !timer_.active()) {
                wake();
                tick();  // the sound that woke the meter is shown at once
            }
        });
    };
    if (auto failure = engine_.mainMixerNode()->installTap(
            0, kTapFrames, std::nullopt, [meter, woken](const platform::audio::PcmBuffer& buffer) {
                if (meter->measure(buffer)) {
                    woken();
                }
            })) {
        controller_.log("VU: tap not installed: " + *failure);
    } else {
        tapInstalled_ = true;
    }
    wake();
}

void ProgramMeter::silence() {
    meter_->reset();
    controller_.vuLevels.set(
        std::vector<float>(PlaybackController::kMeterChannels, PlaybackController::kSilenceDb));
    controller_.vuLevelL.set(PlaybackController::kSilenceDb);
    controller_.vuLevelR.set(PlaybackController::kSilenceDb);
    lastPublishedWasSilent_ = true;
}

void ProgramMeter::wake() {
    if (timer_.active()) {
        return;
    }
    ticksWithoutReading_ = 0;
    timer_ = loop_.every(kVuPeriod, [weak = weakSelf(), this] {
        if (weak.lock()) {
            tick();
        }
    });
}

void ProgramMeter::sleep() {
    timer_.cancel();
    if (!meter_->sleep()) {
        wake();  // a measurement came in meanwhile
    }
}

void ProgramMeter::tick() {
    auto taken = meter_->take();
    if (taken) {
        ticksWithoutReading_ = 0;
    } else if (++ticksWithoutReading_ < kTicksBeforeSilence) {
        // Blocks come unevenly: a tick without one keeps what is shown.
        return;
    } else if (lastPublishedWasSilent_) {
        // Nothing is measured and silence is shown: nothing to do until the tap measures.
        sleep();
        return;
    } else {
        // No sound is being rendered: the meters fall to silence.
        taken = VuReading();
        taken->channelCount = controller_.vuChannelCount.get();
    }
    const bool silent = taken->isSilent();
    if (silent && lastPublishedWasSilent_) {
        return;
    }
    lastPublishedWasSilent_ = silent;
    publish(*taken);
}

void ProgramMeter::publish(const VuReading& reading) {
    controller_.vuLevels.set(std::vector<float>(reading.levels.begin(), reading.levels.end()));
    controller_.vuLevelL.set(reading.levels[0]);
    controller_.vuLevelR.set(reading.levels[1]);
    controller_.vuChannelCount.set(reading.channelCount);
}

void ProgramMeter::refreshOutputDevice() {
    const auto info = engine_.device().defaultOutput.get();
    if (!info.present) {
        controller_.outputDeviceName.set("\u2014");
    } else if (info.channelCount < 1) {
        controller_.outputDeviceName.set(info.name);
    } else {
        controller_.outputDeviceName.set(info.name + " (" + std::to_string(info.channelCount) +
                                         "ch)");
    }
}

}  // namespace kestio
