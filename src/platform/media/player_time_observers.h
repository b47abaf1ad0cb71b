#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "platform/runloop/media_clock.h"
#include "platform/runloop/published.h"
#include "platform/runloop/run_loop.h"

namespace kestio::platform::media {

// What a player's time observers see of its current item. Read on the run loop's thread only.
class ObservedItemTimeline {
  public:
    virtual ~ObservedItemTimeline() = default;
    // True while there is a current item and its time moves.
    virtual bool playing() const = 0;
    // The player's current time: the current item's, 0 without one.
    virtual double currentTime() const = 0;
    // The item time at which the current item stops (+infinity when unknown).
    virtual double endTime() const = 0;
    // The clock time at which the current item reaches `itemTime`; not finite while it stands.
    virtual ClockTime clockTimeOf(double itemTime) const = 0;
};

// The periodic and boundary time observers of one player, and their run-loop timers.
//
// Periodic observers are called every `interval` of item time while the item plays, counted
// from where it stood when it last started, stopped, sought or changed; a call missed while the
// run loop was held up is not made up. postPeriodicCalls() makes the extra call each of those
// changes owes them. Boundary observers are called when the playing item crosses one of their
// times: a time a seek jumps over and a time the item stands on when it starts do not count.
// The player calls reschedule() after every change of item, rate, clock, seek or end.
//
// All on the run loop's thread. Nothing is called once this is destroyed or stop()ped.
class PlayerTimeObservers {
  public:
    // `timeline` must outlive this (the player owns both).
    PlayerTimeObservers(RunLoop& loop, const ObservedItemTimeline& timeline,
                        std::shared_ptr<const MediaClock> clock);
    ~PlayerTimeObservers();
    PlayerTimeObservers(const PlayerTimeObservers&) = delete;
    PlayerTimeObservers& operator=(const PlayerTimeObservers&) = delete;

    // The clock item times are mapped to; the player reschedules after changing it.
    void setClock(std::shared_ptr<const MediaClock> clock);

    // `interval` below a millisecond (or not finite) counts as a millisecond. The observer gets
    // the player's current time.
    [[nodiscard]] Subscription addPeriodic(double interval, std::function<void(double)> observer);
    // Times that are not finite are dropped.
    [[nodiscard]] Subscription addBoundary(std::vector<double> times,
                                           std::function<void()> observer);

    // Re-arms every observer from where the current item stands now.
    void reschedule();
    // Posts one call of every periodic observer (after a start, stop, seek or change of item).
    void postPeriodicCalls();
    // Cancels every timer for good; no observer is called after this.
    void stop();

    // Runs `action` once the clock reads `clockTime`, on a run-loop timer kept in `slot` while
    // `guard` lives; a timer that fires early (the clock drifts from host time) re-arms.
    void armAt(TimerHandle* slot, std::weak_ptr<void> guard, ClockTime clockTime,
               std::function<void()> action);

  private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace kestio::platform::media
