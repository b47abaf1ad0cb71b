#include "platform/media/player_time_observers.h"

#include <algorithm>
#include <cmath>

namespace kestio::platform::media {

namespace {
constexpr double kEpsilon = 1e-6;
// Below this a timer counts as on time (clock readings round).
constexpr double kClockSlack = 1e-9;
constexpr double kShortestInterval = 0.001;
}  // namespace

struct PlayerTimeObservers::State : std::enable_shared_from_this<State> {
    struct Periodic {
        double interval = 0.05;
        std::function<void(double)> observer;
        TimerHandle timer;
        bool alive = true;
        // Calls fall due at item times base + k × interval.
        double base = 0.0;
        int count = 0;
    };
    struct Boundary {
        std::vector<double> times;
        std::function<void()> observer;
        TimerHandle timer;
        bool alive = true;
    };

    State(RunLoop& runLoop, const ObservedItemTimeline& itemTimeline,
          std::shared_ptr<const MediaClock> mediaClock)
        : loop(runLoop), timeline(&itemTimeline), clock(std::move(mediaClock)) {}

    void armAt(TimerHandle* slot, std::weak_ptr<void> guard, ClockTime clockTime,
               std::function<void()> action);
    void restartPeriodic(const std::shared_ptr<Periodic>& periodic);
    void armPeriodic(const std::shared_ptr<Periodic>& periodic);
    void scheduleBoundary(const std::shared_ptr<Boundary>& boundary, double after);

    RunLoop& loop;
    // Null once stopped.
    const ObservedItemTimeline* timeline;
    std::shared_ptr<const MediaClock> clock;
    std::vector<std::shared_ptr<Periodic>> periodic;
    std::vector<std::shared_ptr<Boundary>> boundaries;
};

void PlayerTimeObservers::State::armAt(TimerHandle* slot, std::weak_ptr<void> guard,
                                       ClockTime clockTime, std::function<void()> action) {
    const HostTime due = clock->hostTimeAt(clockTime);
    std::weak_ptr<State> weakSelf = weak_from_this();
    *slot = loop.after(std::max(0.0, due - loop.now()),
                       [weakSelf, guard, slot, clockTime, action = std::move(action)]() mutable {
                           auto self = weakSelf.lock();
                           auto alive = guard.lock();
                           if (!self || !self->timeline || !alive) {
                               return;
                           }
                           const HostTime now = self->loop.now();
                           if (self->clock->timeAt(now) < clockTime - kClockSlack &&
                               self->clock->hostTimeAt(clockTime) > now + kClockSlack) {
                               // Early: the clock ran slower than host time. Wait for the
                               // remainder. (Re-arming replaces this timer: nothing of it is
                               // touched after.)
                               auto later = std::move(action);
                               self->armAt(slot, alive, clockTime, std::move(later));
                               return;
                           }
                           auto run = std::move(action);
                           run();
                       });
}

void PlayerTimeObservers::State::restartPeriodic(const std::shared_ptr<Periodic>& p) {
    p->timer.cancel();
    if (!p->alive || !timeline || !timeline->playing()) {
        return;
    }
    p->base = timeline->currentTime();
    p->count = 0;
    armPeriodic(p);
}

void PlayerTimeObservers::State::armPeriodic(const std::shared_ptr<Periodic>& p) {
    if (!timeline || !timeline->playing()) {
        return;
    }
    // A call missed while the run loop was held up is not made up.
    const double behind = (timeline->currentTime() - p->base) / p->interval;
    p->count = std::max(p->count + 1, static_cast<int>(std::floor(behind + 1e-9)) + 1);
    const ClockTime due = timeline->clockTimeOf(p->base + p->count * p->interval);
    if (!due.isFinite()) {
        return;
    }
    std::weak_ptr<State> weakSelf = weak_from_this();
    std::weak_ptr<Periodic> weakPeriodic = p;
    armAt(&p->timer, p, due, [weakSelf, weakPeriodic] {
        auto self = weakSelf.lock();
        auto periodic = weakPeriodic.lock();
        if (self && self->timeline && periodic && periodic->alive) {
            periodic->observer(self->timeline->currentTime());
            if (periodic->alive) {
                self->armPeriodic(periodic);
            }
        }
    });
}

void PlayerTimeObservers::State::scheduleBoundary(const std::shared_ptr<Boundary>& b,
                                                  double after) {
    b->timer.cancel();
    if (!b->alive || !timeline || !timeline->playing()) {
        return;
    }
    const double end = timeline->endTime();
    auto next = std::find_if(b->times.begin(), b->times.end(),
                             [&](double t) { return t > after + kEpsilon; });
    if (next == b->times.end() || *next > end + kEpsilon) {
        return;
    }
    const double time = *next;
    std::weak_ptr<State> weakSelf = weak_from_this();
    std::weak_ptr<Boundary> weakBoundary = b;
    armAt(&b->timer, b, timeline->clockTimeOf(time), [weakSelf, weakBoundary, time] {
        auto self = weakSelf.lock();
        auto boundary = weakBoundary.lock();
        if (!self || !self->timeline || !boundary || !boundary->alive) {
            return;
        }
        boundary->observer();
        if (boundary->alive) {
            self->scheduleBoundary(boundary, std::max(time, self->timeline->currentTime()));
        }
    });
}

PlayerTimeObservers::PlayerTimeObservers(RunLoop& loop, const ObservedItemTimeline& timeline,
                                         std::shared_ptr<const MediaClock> clock)
    : state_(std::make_shared<State>(loop, timeline, std::move(clock))) {}

PlayerTimeObservers::~PlayerTimeObservers() {
    stop();
}

void PlayerTimeObservers::stop() {
    state_->timeline = nullptr;
    for (auto& periodic : state_->periodic) {
        periodic->alive = false;
        periodic->timer.cancel();
    }
    for (auto& boundary : state_->boundaries) {
        boundary->alive = false;
        boundary->timer.cancel();
    }
}

void PlayerTimeObservers::setClock(std::shared_ptr<const MediaClock> clock) {
    state_->clock = std::move(clock);
}

Subscription PlayerTimeObservers::addPeriodic(double interval,
                                              std::function<void(double)> observer) {
    auto periodic = std::make_shared<State::Periodic>();
    periodic->interval =
        std::isfinite(interval) && interval > kShortestInterval ? interval : kShortestInterval;
    periodic->observer = std::move(observer);
    state_->periodic.push_back(periodic);
    state_->restartPeriodic(periodic);
    std::weak_ptr<State> weakState = state_;
    std::weak_ptr<State::Periodic> weakPeriodic = periodic;
    return Subscription([weakState, weakPeriodic] {
        auto p = weakPeriodic.lock();
        if (p) {
            p->alive = false;
            p->timer.cancel();
        }
        if (auto state = weakState.lock()) {
            std::erase(state->periodic, p);
        }
    });
}

Subscription PlayerTimeObservers::addBoundary(std::vector<double> times,
                                              std::function<void()> observer) {
    auto boundary = std::make_shared<State::Boundary>();
    std::erase_if(times, [](double t) { return !std::isfinite(t); });
    std::sort(times.begin(), times.end());
    boundary->times = std::move(times);
    boundary->observer = std::move(observer);
    state_->boundaries.push_back(boundary);
    if (state_->timeline) {
        state_->scheduleBoundary(boundary, state_->timeline->currentTime());
    }
    std::weak_ptr<State> weakState = state_;
    std::weak_ptr<State::Boundary> weakBoundary = boundary;
    return Subscription([weakState, weakBoundary] {
        auto b = weakBoundary.lock();
        if (b) {
            b->alive = false;
            b->timer.cancel();
        }
        if (auto state = weakState.lock()) {
            std::erase(state->boundaries, b);
        }
    });
}

void PlayerTimeObservers::reschedule() {
    for (auto& boundary : state_->boundaries) {
        boundary->timer.cancel();
    }
    for (auto& periodic : state_->periodic) {
        state_->restartPeriodic(periodic);
    }
    const ObservedItemTimeline* timeline = state_->timeline;
    if (timeline && timeline->playing()) {
        const double t = timeline->currentTime();
        for (auto& boundary : state_->boundaries) {
            state_->scheduleBoundary(boundary, t);
        }
    }
}

void PlayerTimeObservers::postPeriodicCalls() {
    std::weak_ptr<State> weakState = state_;
    for (const auto& periodic : state_->periodic) {
        std::weak_ptr<State::Periodic> weakPeriodic = periodic;
        state_->loop.post([weakState, weakPeriodic] {
            auto state = weakState.lock();
            auto p = weakPeriodic.lock();
            if (state && state->timeline && p && p->alive) {
                p->observer(state->timeline->currentTime());
            }
        });
    }
}

void PlayerTimeObservers::armAt(TimerHandle* slot, std::weak_ptr<void> guard, ClockTime clockTime,
                                std::function<void()> action) {
    state_->armAt(slot, std::move(guard), clockTime, std::move(action));
}

}  // namespace kestio::platform::media
