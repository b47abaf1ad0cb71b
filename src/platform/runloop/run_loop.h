#pragma once

#include <atomic>
#include <functional>
#include <memory>

#include "platform/runloop/host_clock.h"

namespace kestio::platform {

namespace detail {
// Shared between a scheduled piece of work and the handle that can cancel it.
struct TimerState {
    std::atomic<bool> cancelled{false};
    // Called once by cancel(), on the loop's thread; lets a backend release its timer.
    std::function<void()> onCancel;
};

// The rule of RunLoop::every, shared by the backends: the due time of the tick that follows one
// due at `due` that ran at `ranAt` (not before `due`): the first of due + k × interval (k >= 1)
// after ranAt.
double nextTickDue(double due, double interval, double ranAt);
}  // namespace detail

// Cancels its work when cancel() is called, when it is reset or when it is destroyed.
// Cancelling from inside any callback of the same loop takes effect at once.
class TimerHandle {
  public:
    TimerHandle() = default;
    explicit TimerHandle(std::shared_ptr<detail::TimerState> state) : state_(std::move(state)) {}
    TimerHandle(const TimerHandle&) = delete;
    TimerHandle& operator=(const TimerHandle&) = delete;
    TimerHandle(TimerHandle&& other) noexcept = default;
    TimerHandle& operator=(TimerHandle&& other) noexcept;
    ~TimerHandle() { cancel(); }

    void cancel();
    // Lets the work run to its end without a handle (fire and forget).
    void detach() { state_.reset(); }
    // True while the work has neither been cancelled nor detached. A one-shot timer that
    // already fired still reports true; callers track that themselves where it matters.
    bool active() const { return state_ && !state_->cancelled.load(); }

  private:
    std::shared_ptr<detail::TimerState> state_;
};

// The one way to defer work. All callbacks run on the loop's (main) thread.
// post() may be called from any thread; after() and every() only from the loop's thread.
class RunLoop {
  public:
    virtual ~RunLoop() = default;

    // The host clock the loop runs on; presenters and output devices are given the same one.
    const std::shared_ptr<const HostClock>& hostClock() const { return clock_; }
    // Host time now: the host clock's monotonic seconds.
    HostTime now() const { return clock_->now(); }
    // Runs fn on the loop's thread after the work that is already due.
    virtual void post(std::function<void()> fn) = 0;
    // Runs fn once, `seconds` from now (never earlier). Durations are plain seconds.
    [[nodiscard]] virtual TimerHandle after(double seconds, std::function<void()> fn) = 0;
    // Runs fn every `seconds`, first `seconds` from now: ticks are due at start + k × seconds,
    // and none runs before it is due. Ticks keep their phase: a late tick does not shift the ones
    // that follow. Ticks missed while the loop's thread was busy (a long callback, a stall) are
    // not made up: the late tick runs once, and the next one is the first due time after it ran.
    [[nodiscard]] virtual TimerHandle every(double seconds, std::function<void()> fn) = 0;

  protected:
    explicit RunLoop(std::shared_ptr<const HostClock> clock) : clock_(std::move(clock)) {}

  private:
    std::shared_ptr<const HostClock> clock_;
};

}  // namespace kestio::platform
