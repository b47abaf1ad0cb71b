#pragma once

// Clip clocks and end watchers: the position published while a clip plays, and the decision
// that its out point or its end has come. Video and audio-only clips are watched on their
// player's time, which follows the engine clock of the sound heard; the out point is a
// boundary observer on that time, so the post-roll comes on the frame, whatever the run
// loop's timers do. A still's clock is the host clock.

//
// Owns: the watchers of the clip on air (position, out point, end), the still and audio-only
// clocks and their timers. What follows the end is the post-roll policy's answer, read when the
// end comes; it is reported as due, and the controller carries it out. Every watcher acts for
// the play it was started for only; stop() ends them all.

#include <memory>
#include <optional>

#include "platform/runloop/published.h"
#include "platform/runloop/run_loop.h"
#include "platform/runloop/time_types.h"
#include "playback/play.h"
#include "playback/play_events.h"

namespace kestio::platform::media {
class PlayerItem;
class QueuePlayer;
}  // namespace kestio::platform::media
namespace kestio::output {
class OutputSurface;
class PlaybackSlot;
}  // namespace kestio::output

namespace kestio {

class PostRollPolicy;

class ClipClock {
  public:
    ClipClock(platform::RunLoop& loop, const output::OutputSurface& view, NowPlaying now,
              const PostRollPolicy& policy, PlayEvents& events);
    ~ClipClock();
    ClipClock(const ClipClock&) = delete;
    ClipClock& operator=(const ClipClock&) = delete;

    // A video on `slot`: its position published, its out point (a frame ahead) and its end
    // watched.
    void watchVideo(Play& play, output::PlaybackSlot& slot, std::optional<double> outPoint,
                    double inPoint, double fps);
    void watchEnd(Play& play, const std::shared_ptr<platform::media::PlayerItem>& item);
    // A still on air for `seconds` from now, on the host clock.
    void startStill(Play& play, double seconds);
    // The still clock goes on as it was (its start and length kept).
    void resumeStill(Play& play);
    // The audio-only clip on `slot`, from clip time `start` to `end`; startAudio() alone starts
    // the slot's clock again from `start`.
    void watchAudio(Play& play, output::PlaybackSlot& slot, double start, double end);
    void startAudio(Play& play, double start, double end);
    void stopAudio();
    bool isAudioRunning() const { return audioTimer_.active(); }
    // The end the audio-only clock runs to.
    double audioEnd() const { return audioEnd_; }
    double stillDuration() const { return stillDuration_; }
    // Ends every watcher and timer.
    void stop();

  private:
    void outPointReached(Play& play);
    void periodicTime(Play& play, double time);
    void itemDidPlayToEnd(Play& play);
    void stillTick();
    void audioTick(Play& play);
    // The slot on air, as the output surface records it.
    std::optional<SlotRef> slotOnAir() const;

    platform::RunLoop& loop_;
    const output::OutputSurface& view_;
    NowPlaying now_;
    const PostRollPolicy& policy_;
    PlayEvents& events_;
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
};

}  // namespace kestio
