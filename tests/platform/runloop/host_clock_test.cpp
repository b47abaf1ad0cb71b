#include "platform/runloop/host_clock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <vector>

#include "platform/runloop/manual_run_loop.h"

namespace kestio::platform {
namespace {

// Generous guard for a real thread to wake; never a measure of timing.
constexpr auto kGuard = std::chrono::seconds(10);
constexpr auto kMoment = std::chrono::milliseconds(50);

// The loop's host clock is its virtual time: it reads what the loop's callbacks read, at each
// due time on the way through advance(), and after a stall.
TEST(ManualRunLoopHostClock, ReadsTheLoopsVirtualTimeAtEveryStep) {
    ManualRunLoop loop(HostTime(3.0));
    const std::shared_ptr<const HostClock> clock = loop.hostClock();
    EXPECT_EQ(clock->now(), HostTime(3.0));
    std::vector<double> seen;
    auto a = loop.after(0.25, [&] { seen.push_back(clock->now().seconds()); });
    auto b = loop.after(0.75, [&] {
        seen.push_back(clock->now().seconds());
        loop.stall(0.5);
    });
    loop.advance(1.0);
    EXPECT_EQ(seen, (std::vector<double>{3.25, 3.75}));
    EXPECT_EQ(clock->now(), HostTime(4.25)) << "the stall carried the clock past the advance's end";
    EXPECT_EQ(loop.now(), clock->now());
}

// A thread waiting on the loop's clock (a presenter's) sleeps until the loop's time reaches
// its deadline, however many steps that takes, and a stop with wake() releases it early.
TEST(ManualRunLoopHostClock, AWaiterWakesWhenTheLoopReachesItsTime) {
    ManualRunLoop loop;
    std::atomic<bool> stop{false};
    auto waiter = std::async(std::launch::async, [&] {
        loop.hostClock()->waitUntil(HostTime(1.0), stop);
        return loop.now();
    });
    loop.advance(0.6);
    EXPECT_EQ(waiter.wait_for(kMoment), std::future_status::timeout) << "woke before its time";
    loop.advance(0.6);
    ASSERT_EQ(waiter.wait_for(kGuard), std::future_status::ready);
    EXPECT_GE(waiter.get(), HostTime(1.0));

    auto stopped =
        std::async(std::launch::async, [&] { loop.hostClock()->waitUntil(HostTime(50.0), stop); });
    EXPECT_EQ(stopped.wait_for(kMoment), std::future_status::timeout);
    stop = true;
    loop.hostClock()->wake();
    EXPECT_EQ(stopped.wait_for(kGuard), std::future_status::ready);
}

// A manual clock of its own (a test driving a presenter without a loop) only moves forward.
TEST(ManualHostClock, MovesOnlyForward) {
    ManualHostClock clock(HostTime(10.0));
    clock.advance(0.5);
    EXPECT_EQ(clock.now(), HostTime(10.5));
    clock.advanceTo(HostTime(10.25));
    EXPECT_EQ(clock.now(), HostTime(10.5));
    clock.advance(-1.0);
    EXPECT_EQ(clock.now(), HostTime(10.5));
    clock.advanceTo(HostTime(12.0));
    EXPECT_EQ(clock.now(), HostTime(12.0));
}

}  // namespace
}  // namespace kestio::platform
