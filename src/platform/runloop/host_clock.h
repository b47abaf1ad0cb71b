#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "platform/runloop/time_types.h"

namespace kestio::platform {

// The host's monotonic clock, in seconds: the one clock that host time is read from. The run
// loop runs on it (RunLoop::now()), and presenters and output devices are given it rather than
// reading a system clock of their own, so that under a test's manual clock all of them read the
// test's time.
//
// Every function is safe to call from any thread.
class HostClock {
  public:
    virtual ~HostClock() = default;
    // Host time now.
    virtual HostTime now() const = 0;
    // Blocks the calling thread until now() reaches `time`, or until `stop` is set and wake()
    // is called.
    virtual void waitUntil(HostTime time, const std::atomic<bool>& stop) const = 0;
    // Wakes every waitUntil() so that it looks at its stop flag.
    virtual void wake() const = 0;
};

// std::chrono::steady_clock: the application's host clock.
class SteadyHostClock final : public HostClock {
  public:
    HostTime now() const override;
    void waitUntil(HostTime time, const std::atomic<bool>& stop) const override;
    void wake() const override;

  private:
    mutable std::mutex mutex_;
    mutable std::condition_variable wake_;
};

// A clock that moves only when told to: the virtual time of a ManualRunLoop, or of a test that
// drives a presenter by itself. Waiters wake as it moves.
class ManualHostClock final : public HostClock {
  public:
    explicit ManualHostClock(HostTime start = HostTime()) : now_(start.seconds()) {}

    HostTime now() const override { return HostTime(now_.load()); }
    void waitUntil(HostTime time, const std::atomic<bool>& stop) const override;
    void wake() const override;

    void advance(double seconds);
    // Moves the clock on to `time`; a time before now leaves it where it is.
    void advanceTo(HostTime time);

  private:
    mutable std::mutex mutex_;
    mutable std::condition_variable wake_;
    std::atomic<double> now_;
};

}  // namespace kestio::platform
