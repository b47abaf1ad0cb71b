#pragma once

// Clip clocks and end watchers: the position published while a clip plays, and the decision
// that its out point or its end has come. Video and audio-only clips are watched on their
// player's time, which follows the engine clock of the sound heard; the out point is a
// boundary observer on that time, so the post-roll comes on the frame, whatever the run
// loop's timers do. A still's clock is the host clock.

//
// Owns: the watchers of the clip on air (position, out point, end), the still and audio-only
// clocks and their timers. What follows the end is the post-roll policy's answer, read when the
// end comes; the controller carries it out. The controller's removeObservers() ends it all.

#include <cstdint>
#include <memory>
#include <optional>

#include "platform/runloop/published.h"
#include "platform/runloop/run_loop.h"
#include "platform/runloop/time_types.h"

namespace kestio::platform::media {
class PlayerItem;
class QueuePlayer;
}  // namespace kestio::platform::media
namespace kestio::output {
class PlaybackSlot;
}

namespace kestio {

class PlaybackController;

class ClipClock {
  public:
    ClipClock(PlaybackController& controller, platform::RunLoop& loop);
    ~ClipClock();
    ClipClock(const ClipClock&) = delete;
    ClipClock& operator=(const ClipClock&) = delete;

    // A video on `slot`: its position published, its out point (a frame ahead) and its end
    // watched.
    void watchVideo(output::PlaybackSlot& slot, std::optional<double> outPoint, double inPoint,
                    double fps);
    void watchEnd(const std::shared_ptr<platform::media::PlayerItem>& item);
    // A still on air for `seconds` from now, on the host clock.
    void startStill(double seconds);
    // The still clock goes on as it was (its start and length kept).
    void resumeStill();
    // The audio-only clip on `slot`, from clip time `start` to `end`; startAudio() alone starts
    // the slot's clock again from `start`.
    void watchAudio(output::PlaybackSlot& slot, double start, double end);
    void startAudio(double start, double end);
    void stopAudio();
    bool isAudioRunning() const { return audioTimer_.active(); }
    // The end the audio-only clock runs to.
    double audioEnd() const { return audioEnd_; }
    double stillDuration() const { return stillDuration_; }
    // Ends every watcher and timer.
    void stop();

  private:
    void outPointReached(std::uint64_t generation);
    void periodicTime(std::uint64_t generation, double time);
    void firePostRollForCurrentSlot(std::uint64_t generation);
    void firePostRoll(std::uint64_t generation, int bank, int slot);
    void itemDidPlayToEnd(std::uint64_t generation);
    void stillTick(std::uint64_t generation);
    void audioTick(std::uint64_t generation);
    std::weak_ptr<bool> weakSelf() const { return alive_; }

    PlaybackController& pc_;
    platform::RunLoop& loop_;
    platform::Subscription timeObserver_;
    platform::Subscription outPointObserver_;
    platform::Subscription endObserver_;
    // The player the clip clocks watch.
    std::shared_ptr<platform::media::QueuePlayer> watchedPlayer_;
    platform::TimerHandle stillTimer_;
    platform::TimerHandle stillEndTimer_;
    platform::TimerHandle audioTimer_;
    platform::TimerHandle audioEndTimer_;
    // Still clock: the host time the still went on air and its duration.
    platform::HostTime stillStartedAt_;
    double stillDuration_ = 0.0;
    // Audio-only clock: the clip time the sound starts at, and the end it runs to.
    double audioStart_ = 0.0;
    double audioEnd_ = 0.0;
    // The slot an audio-only clip plays in (its player's time is the clip's position).
    output::PlaybackSlot* audioSlot_ = nullptr;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace kestio
