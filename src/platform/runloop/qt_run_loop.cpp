#include "platform/runloop/qt_run_loop.h"

#include <QPointer>
#include <QTimer>
#include <chrono>
#include <cmath>

namespace kestio::platform {

QtRunLoop::QtRunLoop() : context_(std::make_unique<QObject>()) {}

QtRunLoop::~QtRunLoop() = default;

double QtRunLoop::now() const {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

void QtRunLoop::post(std::function<void()> fn) {
    // Queued invocation is thread-safe; the call is dropped if the loop is gone by then.
    QMetaObject::invokeMethod(context_.get(), std::move(fn), Qt::QueuedConnection);
}

TimerHandle QtRunLoop::start(double seconds, bool repeating, std::function<void()> fn) {
    auto state = std::make_shared<detail::TimerState>();
    auto* timer = new QTimer(context_.get());
    timer->setTimerType(Qt::PreciseTimer);
    timer->setSingleShot(!repeating);
    const double ms = std::max(0.0, seconds * 1000.0);
    timer->setInterval(static_cast<int>(std::min(ms, 2.0e9)));
    QPointer<QTimer> guard(timer);
    state->onCancel = [guard] {
        if (guard) {
            guard->stop();
            guard->deleteLater();
        }
    };
    QObject::connect(timer, &QTimer::timeout, timer,
                     [state, guard, repeating, fn = std::move(fn)] {
                         if (state->cancelled.load()) {
                             return;
                         }
                         if (!repeating && guard) {
                             guard->deleteLater();
                         }
                         fn();
                     });
    timer->start();
    return TimerHandle(state);
}

TimerHandle QtRunLoop::after(double seconds, std::function<void()> fn) {
    return start(seconds, false, std::move(fn));
}

TimerHandle QtRunLoop::every(double seconds, std::function<void()> fn) {
    return start(seconds > 0.0 ? seconds : 0.001, true, std::move(fn));
}

}  // namespace kestio::platform
