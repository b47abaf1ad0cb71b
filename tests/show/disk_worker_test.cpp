#include "show/disk_worker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "platform/runloop/manual_run_loop.h"

namespace kestio {
namespace {

TEST(DiskWorker, RunsJobsInOrderOffTheMainThreadAndAnswersOnTheLoop) {
    platform::ManualRunLoop loop;
    DiskWorker worker(loop);
    const auto mainThread = std::this_thread::get_id();
    std::vector<int> answers;
    std::atomic<int> ran{0};
    for (int i = 0; i < 5; ++i) {
        worker.run<int>(
            [&, i] {
                EXPECT_NE(std::this_thread::get_id(), mainThread);
                EXPECT_EQ(ran.fetch_add(1), i);  // one at a time, in order
                return i * 10;
            },
            [&](int value) {
                EXPECT_EQ(std::this_thread::get_id(), mainThread);
                answers.push_back(value);
            });
    }
    EXPECT_TRUE(answers.empty());  // never inside run()
    for (int guard = 0; guard < 50 && answers.size() < 5; ++guard) {
        loop.waitForPosted(1.0);
    }
    EXPECT_EQ(answers, (std::vector<int>{0, 10, 20, 30, 40}));
}

TEST(DiskWorker, FinishesQueuedJobsOnDestructionButDeliversNoAnswer) {
    platform::ManualRunLoop loop;
    std::atomic<int> finished{0};
    bool answered = false;
    {
        DiskWorker worker(loop);
        for (int i = 0; i < 3; ++i) {
            worker.run<int>(
                [&] {
                    std::this_thread::yield();
                    return ++finished;
                },
                [&](int) { answered = true; });
        }
    }
    EXPECT_EQ(finished.load(), 3);  // a queued save is never dropped
    loop.runPending();
    EXPECT_FALSE(answered);
}

}  // namespace
}  // namespace kestio
