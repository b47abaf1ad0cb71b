#pragma once

// Looping and loop release.
//
// A loop runs on the slot's clip player: the looper repeats the range on the picture side and the
// sound's passes are scheduled ahead on the chain's player node, so a seam needs no step of the
// main thread; the controller only learns of each seam (the seam log) and publishes the position.
// A release ends the loop at its next seam on both sides at once (ClipPlayer::endLoop) and
// carries out the chosen post-roll there: a post-roll that starts another clip is asked for
// 0.1 s ahead of the seam, so that clip has that long to get ready, or at once when the release
// comes later than that; one that starts nothing (black, freeze, loop) takes effect at the seam
// itself. The end of the last pass applies it too, should the seam's boundary never be crossed.

//
// Owns: whether a loop runs and the slot it runs in, its seam (the out point), the wait for its
// slot to be ready to switch in, and its own observations (position, seam log, an armed release),
// all for the play it runs for. A loop always starts at its in point: from the item a preload
// held paused there, or loaded here.
//
// Life, as every part of a play has it: start(play, ...) binds the runner to `play` (held weakly)
// and starts a loop for it, or takes over one found running; stop() ends every observation,
// forgets the loop and releases the play. release() and markEnded() act for the play bound.

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

#include "model/model_enums.h"
#include "model/slot_data.h"
#include "platform/runloop/published.h"
#include "platform/runloop/run_loop.h"
#include "playback/play.h"
#include "playback/play_events.h"

namespace kestio::output {
class OutputSurface;
class PlaybackSlot;
}  // namespace kestio::output

namespace kestio {

class PostRollPolicy;
class SlotSound;
class VideoStart;
class WarmUp;

class LoopRunner {
  public:
    // The parts a loop drives.
    struct Parts {
        VideoStart& video;
        WarmUp& warmUp;
        SlotSound& sound;
        const PostRollPolicy& policy;
    };

    LoopRunner(platform::RunLoop& loop, output::OutputSurface& view, NowPlaying now,
               PlayEvents& events, Parts parts);
    ~LoopRunner();
    LoopRunner(const LoopRunner&) = delete;
    LoopRunner& operator=(const LoopRunner&) = delete;

    // A loop runs on air or is starting (until released or stopped).
    bool isRunning() const { return running_; }
    // Puts `play` on air looping (its slot from its file, by the record `data`): loaded into the
    // hidden slot, started at its in point, and switched in once its slot is ready.
    void start(Play& play, const SlotData& data);
    // Ends the running loop at its next seam and carries out `postRoll` there; a loop still
    // starting is released once it runs, by the slot's post-roll then.
    void release(PostRollMode postRoll);
    // A loop found running on air (a failed cue left it there): its slot and its seam.
    struct RunningLoop {
        output::PlaybackSlot& slot;
        std::optional<double> outPoint;
    };
    // Takes over `running` and watches it for `play`.
    void start(Play& play, const RunningLoop& running);
    // The loop is over (a freeze stopped it): nothing more is decided for it.
    void markEnded() { running_ = false; }
    // Ends the observations, forgets the loop and releases the play.
    void stop();

  private:
    struct ReadyWait;

    void cutWhenReady(Play& play, output::PlaybackSlot& slot, TransitionMode transition,
                      double dissolveDuration, std::function<void()> onReady);
    void watch(Play& play, output::PlaybackSlot& slot, std::optional<double> outPoint);
    void periodicTime(double time);
    void itemChanged(output::PlaybackSlot& slot);
    void boundaryFired(PostRollMode postRoll);
    // The loop's post-roll is carried out.
    void postRollDue(PostRollMode postRoll);
    // The post-roll and the in point of the loop's own slot (its play's) by its record now.
    PostRollMode postRollModeOnAir() const;
    double inPointOnAir() const;
    std::weak_ptr<bool> weakSelf() const { return alive_; }

    platform::RunLoop& loop_;
    output::OutputSurface& view_;
    NowPlaying now_;
    PlayEvents& events_;
    Parts parts_;
    // The play the loop runs for.
    std::weak_ptr<Play> play_;
    bool running_ = false;
    output::PlaybackSlot* slot_ = nullptr;
    std::optional<double> boundary_;
    std::shared_ptr<ReadyWait> readyWait_;
    platform::Subscription timeObserver_;
    platform::Subscription boundaryObserver_;
    platform::Subscription endObserver_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace kestio
