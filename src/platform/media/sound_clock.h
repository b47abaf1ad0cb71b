#pragma once

#include <cmath>
#include <memory>
#include <vector>

#include "platform/media/atomic_snapshot.h"
#include "platform/runloop/media_clock.h"
#include "platform/runloop/run_loop.h"

namespace kestio::platform::audio {
class AudioPlayerNode;
}

namespace kestio::platform::media {

// The clock a clip's picture follows while the clip's sound plays: the engine clock's time at
// which the sound heard now was due. The plan says when the sound's schedule starts and at what
// pace it moves (start(), changeRate()); the player node says where in its schedule the sound
// heard at an engine-clock time is (AudioPlayerNode::playerTime). While the sound is heard as
// planned this reads as the engine clock; where it starts late, runs dry or is held, it holds
// with it and then runs on from where the sound is, so a picture timed on this clock shows the
// item time of the sound being heard, with no step of the run loop's thread.
//
// Without a plan, or while the node has nothing heard to say, it is the engine clock.
//
// start(), changeRate() and stop() on the run loop's thread; timeAt() and hostTimeAt() from any
// thread.
class SoundClock final : public MediaClock {
  public:
    SoundClock(const RunLoop& loop, std::shared_ptr<const MediaClock> engineClock,
               std::shared_ptr<const audio::AudioPlayerNode> node);

    ClockTime timeAt(HostTime hostTime) const override;
    // Assumes the sound keeps its present lag (timers armed on it re-arm when it falls behind).
    HostTime hostTimeAt(ClockTime clockTime) const override;

    // The node's schedule starts being heard at engine-clock time `clockTime`, moving `rate`
    // seconds of schedule per second, and lasts `length` seconds of schedule. Replaces the
    // plan. Once the sound has played to its end the clock is the engine clock again (a picture
    // longer than its sound runs on).
    void start(ClockTime clockTime, double rate = 1.0, double length = INFINITY);
    // From engine-clock time `clockTime` on the schedule moves at `rate` (0: held). A change
    // before one already planned replaces the later ones.
    void changeRate(double rate, ClockTime clockTime);
    // The schedule now lasts `length` seconds (a loop's sound ended at a seam), the plan kept.
    void setLength(double length);
    // No plan: the clock is the engine clock again.
    void stop();

    const std::shared_ptr<const MediaClock>& engineClock() const { return engineClock_; }

    // The plan: from `clock` on the schedule moves at `rate`, from `schedule` seconds.
    struct Segment {
        ClockTime clock{};
        double schedule = 0.0;
        double rate = 0.0;
    };
    using Plan = std::vector<Segment>;
    // Where the plan has the schedule at engine-clock time `clockTime` (0 before its start).
    static double scheduleAt(const Plan& plan, ClockTime clockTime);
    // The engine-clock time at which the plan has the schedule at `scheduleTime`, the one
    // nearest `clockTime` where it holds there for a while.
    static ClockTime clockOf(const Plan& plan, double scheduleTime, ClockTime clockTime);

  private:
    const RunLoop& loop_;
    std::shared_ptr<const MediaClock> engineClock_;
    std::shared_ptr<const audio::AudioPlayerNode> node_;
    struct Planned {
        Plan plan;
        double length = 0.0;
    };
    AtomicSnapshot<const Planned> plan_;
};

}  // namespace kestio::platform::media
