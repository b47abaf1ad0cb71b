#pragma once

// Clip clocks and end watchers: the position published while a clip plays, and the decision
// that its out point or its end has come. Video and audio-only clips are watched on their
// player's time, which follows the engine clock of the sound heard; the out point is a
// boundary observer on that time, so the post-roll comes on the frame, whatever the run
// loop's timers do. A still's clock is the host clock.

//
// Owns: the watchers of the clip on air (position, out point, end), the still and audio-only
// clocks and their timers. What follows the end is the post-roll policy's answer, read when the
// end comes; it is reported as due, and the controller carries it out.
//
// Life, as every part of a play has it: start(play, what) binds the clock to `play` (held
// weakly) and watches a video, a still or an audio-only clip for it; stop() ends every watcher
// and timer and releases the play. runAudio() and stopAudio() act for the play bound; every
// step a watcher takes acts for the play it was started for only.

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

    // A video on `slot` with its current item `item`: its position published, its out point
    // (a frame ahead of `outPoint`, when after `inPoint`) and its end watched.
    struct VideoWatch {
        output::PlaybackSlot& slot;
        std::shared_ptr<platform::media::PlayerItem> item;
        std::optional<double> outPoint;
        double inPoint = 0.0;
        double fps = 30.0;
    };
    // A still on air for `seconds` from `since` (none: from now), on the host clock.
    struct StillWatch {
        double seconds = 0.0;
        std::optional<platform::HostTime> since;
    };
    // The audio-only clip on `slot`, from clip time `from` to `end` on its player's time.
    struct AudioWatch {
        output::PlaybackSlot& slot;
        double from = 0.0;
        double end = 0.0;
    };

    void start(Play& play, const VideoWatch& video);
    void start(Play& play, const StillWatch& still);
    void start(Play& play, const AudioWatch& audio);
    // The audio-only clock of the play bound runs again on the slot it watches, from clip time
    // `from` to `end`; stopAudio() stops it where it is.
    void runAudio(double from, double end);
    // The video of the play bound ends at `outPoint` from now on (none: at its item's end): its
    // out point is watched there, a frame ahead of it as at the start, and no longer where it
    // was; one the player has reached already ends the clip now.
    void moveOutPoint(std::optional<double> outPoint);
    // The audio-only clock runs to `end` from now on (an out point set on air): one the sound
    // has reached already ends the clip at the clock's next look.
    void moveAudioEnd(double end);
    void stopAudio();
    bool isAudioRunning() const { return audioTimer_.active(); }
    // The end the audio-only clock runs to.
    double audioEnd() const { return audioEnd_; }
    // The still clock as it runs (or ran last): its length and the host time it went on air.
    StillWatch still() const { return {stillDuration_, stillStartedAt_}; }
    // Ends every watcher and timer and releases the play.
    void stop();

  private:
    // Watches the out point of the video of `play` on `player` (nothing without one after the
    // in point); the player time it is watched at.
    std::optional<double> armOutPoint(Play& play, platform::media::QueuePlayer& player,
                                      std::optional<double> outPoint);
    void outPointReached(Play& play);
    // Seconds of host time until item time `end` from `time` at the watched player's rate (0
    // when it is not ahead).
    double timeUntil(double end, double time) const;
    // The post-roll of `onAir`, decided `untilEnd` seconds ahead of its end (its out point's
    // frame, or a freeze's margin), is carried out in the mode its record gives now. A freeze
    // holds the clip until that end only: a mode chosen meanwhile is carried out there.
    void dueAheadOfTheEnd(Play& play, SlotRef onAir, double untilEnd);
    void periodicTime(Play& play, double time);
    void itemDidPlayToEnd(Play& play);
    void stillTick();
    void audioTick(Play& play);
    void startAudio(Play& play, double from, double end);
    // The slot on air, as the output surface records it.
    std::optional<SlotRef> slotOnAir() const;

    platform::RunLoop& loop_;
    const output::OutputSurface& view_;
    NowPlaying now_;
    const PostRollPolicy& policy_;
    PlayEvents& events_;
    // The play the clock watches for.
    std::weak_ptr<Play> play_;
    platform::Subscription timeObserver_;
    platform::Subscription outPointObserver_;
    platform::Subscription endObserver_;
    // The player the clip clocks watch.
    std::shared_ptr<platform::media::QueuePlayer> watchedPlayer_;
    // A video is watched (not a still or an audio-only clip), from this in point at this rate.
    bool watchesVideo_ = false;
    double videoInPoint_ = 0.0;
    double videoFps_ = 30.0;
    platform::TimerHandle stillTimer_;
    platform::TimerHandle stillEndTimer_;
    platform::TimerHandle audioTimer_;
    platform::TimerHandle audioEndTimer_;
    // The end of a clip frozen ahead of it (see dueAheadOfTheEnd()).
    platform::TimerHandle frozenEnd_;
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
