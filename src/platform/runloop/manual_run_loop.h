#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/runloop/run_loop.h"

namespace kestio::platform {

// A run loop whose clock only moves when the test says so. Its host clock (hostClock()) is that
// virtual time, so the presenters and devices a test gives it read the test's time. Work runs in
// (due time, insertion) order; repeating timers follow the rule of RunLoop::every, as on the real
// loop. The loop is idle while advance() moves the clock, so every tick runs on time; stall() makes
// the loop's thread busy, so the test sees what late and missed ticks do. post() is safe from
// any thread, so work handed over by decode or audio threads is picked up by the next advance()
// or by waitForPosted().
class ManualRunLoop final : public RunLoop {
  public:
    explicit ManualRunLoop(HostTime startTime = HostTime())
        : ManualRunLoop(std::make_shared<ManualHostClock>(startTime)) {}
    ~ManualRunLoop() override;

    void post(std::function<void()> fn) override;
    TimerHandle after(double seconds, std::function<void()> fn) override;
    TimerHandle every(double seconds, std::function<void()> fn) override;

    // Moves the clock forward by `seconds`, running every piece of work that falls due on
    // the way at its own due time. If a callback stalls past the end, the clock stays where the
    // stall ended and the work that fell due meanwhile runs late. Returns the number of callbacks
    // run.
    int advance(double seconds);
    // The loop's thread is busy for `seconds` (from a callback: that callback takes so long):
    // the clock moves on and nothing runs; what fell due meanwhile runs late, at the next
    // advance() or runPending().
    void stall(double seconds);
    // Runs the work that is due now (including work posted while running it).
    int runPending() { return advance(0.0); }
    // Blocks until another thread posts work or `wallSeconds` pass; then runs what is due.
    // Returns false on time-out. Used to wait for real decode threads, never for timing.
    bool waitForPosted(double wallSeconds);
    // Number of pieces of work scheduled and not yet run or cancelled.
    std::size_t pendingCount() const;

  private:
    explicit ManualRunLoop(std::shared_ptr<ManualHostClock> clock)
        : RunLoop(clock), clock_(std::move(clock)) {}

    struct Item {
        double due;
        std::uint64_t seq;
        double interval;  // 0 for one-shot work
        std::shared_ptr<detail::TimerState> state;
        std::shared_ptr<std::function<void()>> fn;
    };
    TimerHandle schedule(double delay, double interval, std::function<void()> fn);
    void pushLocked(Item item);

    mutable std::mutex mutex_;
    std::condition_variable posted_;
    const std::shared_ptr<ManualHostClock> clock_;  // moved only by advance() and stall()
    std::uint64_t nextSeq_ = 0;
    std::uint64_t postsSeen_ = 0;
    std::vector<Item> items_;  // a heap ordered by (due, seq)
};

}  // namespace kestio::platform
