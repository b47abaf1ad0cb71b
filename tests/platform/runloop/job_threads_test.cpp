// Jobs on threads of their own: the order they run in, a job that holds one thread while the
// others go on, what a flush waits for, and the jobs still queued when the threads end.

#include "platform/runloop/job_threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

namespace kestio::platform {
namespace {

using namespace std::chrono_literals;

// A job that waits until the test opens it.
struct Gate {
    std::promise<void> open;
    std::shared_future<void> opened = open.get_future().share();
    std::function<void()> job(std::atomic<bool>& finished) {
        return [this, &finished] {
            opened.wait();
            finished = true;
        };
    }
};

TEST(SerialWorker, RunsJobsOneAtATimeInTheOrderHandedOverAndFinishesTheQueueWhenItEnds) {
    std::vector<int> order;
    std::atomic<int> inside{0};
    bool overlapped = false;
    {
        SerialWorker worker;
        for (int i = 0; i < 200; ++i) {
            worker.submit([&, i] {
                overlapped = overlapped || inside.fetch_add(1) != 0;
                order.push_back(i);
                inside.fetch_sub(1);
            });
        }
    }
    ASSERT_EQ(order.size(), 200u);
    for (int i = 0; i < 200; ++i) {
        EXPECT_EQ(order[static_cast<std::size_t>(i)], i);
    }
    EXPECT_FALSE(overlapped);
}

TEST(JobThreads, AJobThatHoldsOneThreadHoldsNoLaterJobWhileAnotherThreadIsFree) {
    JobThreads threads(2);
    Gate gate;
    std::atomic<bool> heldFinished{false};
    std::promise<void> laterRan;
    threads.submit(gate.job(heldFinished));
    threads.submit([&] { laterRan.set_value(); });
    EXPECT_EQ(laterRan.get_future().wait_for(10s), std::future_status::ready);
    EXPECT_FALSE(heldFinished);
    EXPECT_FALSE(threads.idle());
    gate.open.set_value();
    threads.flush();
    EXPECT_TRUE(heldFinished);
    EXPECT_TRUE(threads.idle());
}

// A later job finishing first must not end the wait for an earlier one that still runs.
TEST(JobThreads, AFlushWaitsForEveryEarlierJobEvenWhenALaterOneFinishedFirst) {
    JobThreads threads(2);
    Gate gate;
    std::atomic<bool> earlierFinished{false};
    std::promise<void> laterRan;
    threads.submit(gate.job(earlierFinished));
    threads.submit([&] { laterRan.set_value(); });
    laterRan.get_future().wait();

    auto flushed = std::async(std::launch::async, [&] {
        threads.flush();
        return earlierFinished.load();
    });
    // While the earlier job is held, the flush must still be waiting.
    EXPECT_EQ(flushed.wait_for(200ms), std::future_status::timeout);
    gate.open.set_value();
    EXPECT_TRUE(flushed.get());
}

TEST(JobThreads, AFlushWithNothingHandedOverReturnsAtOnceAndOneAfterAJobWaitsForIt) {
    SerialWorker worker;
    worker.flush();  // nothing handed over: returns at once
    std::atomic<bool> ran{false};
    worker.submit([&] { ran = true; });
    worker.flush();
    EXPECT_TRUE(ran);
    EXPECT_TRUE(worker.idle());
}

}  // namespace
}  // namespace kestio::platform
