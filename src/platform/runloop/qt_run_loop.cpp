#include "platform/runloop/qt_run_loop.h"

#include <QPointer>
#include <QTimer>
#include <algorithm>
#include <cmath>

#include "platform/runloop/qt_hand_over.h"

namespace kestio::platform {

QtRunLoop::QtRunLoop() : QtRunLoop(std::make_shared<SteadyHostClock>()) {}

QtRunLoop::QtRunLoop(std::shared_ptr<const HostClock> clock)
    : RunLoop(std::move(clock)), context_(std::make_unique<QObject>()) {}

QtRunLoop::~QtRunLoop() = default;

namespace {

// Whole milliseconds from `now` until `due`, rounded up (a QTimer counts whole milliseconds, and
// rounding down would fire early), within what a QTimer takes; longer waits are re-armed.
int millisecondsUntil(double due, double now) {
    return static_cast<int>(std::clamp(std::ceil((due - now) * 1000.0), 0.0, 2.0e9));
}

}  // namespace

void QtRunLoop::post(std::function<void()> fn) {
    // Queued invocation is thread-safe; the call is dropped if the loop is gone by then.
    postToThreadOf(context_.get(), std::move(fn));
}

// Each timer is a single-shot QTimer armed for the time left until its own due time, kept here
// in seconds. A repeating QTimer would not do: it counts whole milliseconds (a 1/60 s period
// drifts), and after a stall it counts its next tick from the late one, losing the phase.
TimerHandle QtRunLoop::start(double seconds, double interval, std::function<void()> fn) {
    auto state = std::make_shared<detail::TimerState>();
    auto* timer = new QTimer(context_.get());
    timer->setTimerType(Qt::PreciseTimer);
    timer->setSingleShot(true);
    QPointer<QTimer> guard(timer);
    state->onCancel = [guard] {
        if (guard) {
            guard->stop();
            guard->deleteLater();
        }
    };
    const std::shared_ptr<const HostClock>& clock = hostClock();
    const double startedAt = clock->now().seconds();
    // Shared with the slot, which Qt calls as const.
    auto due = std::make_shared<double>(startedAt + std::max(0.0, seconds));
    QObject::connect(timer, &QTimer::timeout, timer,
                     [state, guard, interval, due, clock, fn = std::move(fn)] {
                         if (state->cancelled.load() || !guard) {
                             return;
                         }
                         const double ranAt = clock->now().seconds();
                         if (ranAt < *due) {
                             guard->start(millisecondsUntil(*due, ranAt));  // not yet due
                             return;
                         }
                         if (interval > 0.0) {
                             // Armed before the callback runs, so a cancel inside it wins and
                             // a callback that overruns finds its next tick already due.
                             *due = detail::nextTickDue(*due, interval, ranAt);
                             guard->start(millisecondsUntil(*due, ranAt));
                         } else {
                             guard->deleteLater();
                         }
                         fn();
                     });
    timer->start(millisecondsUntil(*due, startedAt));
    return TimerHandle(state);
}

TimerHandle QtRunLoop::after(double seconds, std::function<void()> fn) {
    return start(seconds, 0.0, std::move(fn));
}

TimerHandle QtRunLoop::every(double seconds, std::function<void()> fn) {
    const double interval = seconds > 0.0 ? seconds : 0.001;
    return start(interval, interval, std::move(fn));
}

}  // namespace kestio::platform
