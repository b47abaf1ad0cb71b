#include "platform/runloop/manual_run_loop.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "stall_cases.h"

namespace kestio::platform {
namespace {

using test::StallCase;

TEST(ManualRunLoop, WorkDueAtTheSameTimeRunsInInsertionOrder) {
    ManualRunLoop loop;
    std::string order;
    auto a = loop.after(0.5, [&] { order += 'a'; });
    loop.post([&] { order += 'p'; });
    auto b = loop.after(0.5, [&] { order += 'b'; });
    auto c = loop.after(0.25, [&] { order += 'c'; });
    auto d = loop.after(0.5, [&] { order += 'd'; });
    EXPECT_EQ(loop.advance(1.0), 5);
    EXPECT_EQ(order, "pcabd");
}

TEST(ManualRunLoop, ZeroDelayPostFromACallbackRunsAfterWorkAlreadyDue) {
    ManualRunLoop loop;
    std::string order;
    auto first = loop.after(1.0, [&] {
        order += '1';
        loop.post([&] { order += 'p'; });
    });
    auto second = loop.after(1.0, [&] { order += '2'; });
    loop.advance(1.0);
    EXPECT_EQ(order, "12p");
}

TEST(ManualRunLoop, CallbacksSeeTheirOwnDueTime) {
    ManualRunLoop loop(HostTime(10.0));
    std::vector<double> seen;
    auto t1 = loop.after(0.3, [&] { seen.push_back(loop.now().seconds()); });
    auto t2 = loop.after(0.7, [&] { seen.push_back(loop.now().seconds()); });
    loop.advance(2.0);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_DOUBLE_EQ(seen[0], 10.3);
    EXPECT_DOUBLE_EQ(seen[1], 10.7);
    EXPECT_DOUBLE_EQ(loop.now().seconds(), 12.0);
}

TEST(ManualRunLoop, CancellingInsideACallbackTakesEffectAtOnce) {
    ManualRunLoop loop;
    int secondRan = 0;
    int ticks = 0;
    TimerHandle second;
    TimerHandle repeating;
    auto first = loop.after(1.0, [&] { second.cancel(); });
    second = loop.after(1.0, [&] { ++secondRan; });
    repeating = loop.every(0.1, [&] {
        if (++ticks == 3) {
            repeating.cancel();
        }
    });
    loop.advance(5.0);
    EXPECT_EQ(secondRan, 0);
    EXPECT_EQ(ticks, 3);
    EXPECT_EQ(loop.pendingCount(), 0u);
}

TEST(ManualRunLoop, HandlesCancelWhenDestroyedOrReassigned) {
    ManualRunLoop loop;
    int ran = 0;
    {
        auto handle = loop.after(0.1, [&] { ++ran; });
    }
    auto reassigned = loop.after(0.1, [&] { ++ran; });
    reassigned = loop.after(0.2, [&] { ran += 10; });
    auto detached = loop.after(0.1, [&] { ran += 100; });
    detached.detach();
    loop.advance(1.0);
    EXPECT_EQ(ran, 110);
}

TEST(ManualRunLoop, RepeatingTimerKeepsItsPhaseAcrossLargeSteps) {
    ManualRunLoop loop;
    std::vector<double> ticks;
    auto timer = loop.every(0.05, [&] { ticks.push_back(loop.now().seconds()); });
    loop.advance(0.12);  // ticks at 0.05 and 0.10
    loop.advance(0.01);
    loop.advance(0.5);  // the loop is idle all along: every tick runs at its own time
    ASSERT_EQ(ticks.size(), 12u);
    for (std::size_t i = 0; i < ticks.size(); ++i) {
        EXPECT_NEAR(ticks[i], 0.05 * static_cast<double>(i + 1), 1e-9) << "tick " << i;
    }
}

class ManualRunLoopStall : public ::testing::TestWithParam<StallCase> {};

TEST_P(ManualRunLoopStall, MissedTicksRunOnceAndKeepThePhase) {
    const StallCase& item = GetParam();
    const double period = 0.0107;
    ManualRunLoop loop(HostTime(100.0));
    std::vector<double> ticks;
    auto timer = loop.every(period, [&] {
        ticks.push_back((loop.now().seconds() - 100.0) / period);
        if (static_cast<int>(ticks.size()) == item.stallingTick) {
            if (item.posted) {
                loop.post([&] { loop.stall(item.stallPeriods * period); });
            } else {
                loop.stall(item.stallPeriods * period);
            }
        }
    });
    loop.advance(period * (item.ticks.back() + 0.5));
    ASSERT_EQ(ticks.size(), item.ticks.size());
    for (std::size_t i = 0; i < ticks.size(); ++i) {
        EXPECT_NEAR(ticks[i], item.ticks[i], 1e-9) << "tick " << i + 1;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ManualRunLoopStall, ::testing::ValuesIn(test::stallCases()));

TEST(ManualRunLoop, StallBetweenStepsRunsOverdueWorkOnceAtTheNextTurn) {
    ManualRunLoop loop;
    std::vector<double> ticks;
    int once = 0;
    auto timer = loop.every(1.0, [&] { ticks.push_back(loop.now().seconds()); });
    auto oneShot = loop.after(0.5, [&] { ++once; });
    loop.stall(3.25);
    EXPECT_DOUBLE_EQ(loop.now().seconds(), 3.25);
    EXPECT_EQ(loop.runPending(), 2);
    loop.advance(1.0);
    EXPECT_EQ(once, 1);
    EXPECT_EQ(ticks, (std::vector<double>{3.25, 4.0}));
}

TEST(ManualRunLoop, PostsFromOtherThreadsAreRunByTheLoop) {
    ManualRunLoop loop;
    int value = 0;
    std::thread worker([&] { loop.post([&] { value = 42; }); });
    EXPECT_TRUE(loop.waitForPosted(10.0));
    worker.join();
    EXPECT_EQ(value, 42);
    EXPECT_FALSE(loop.waitForPosted(0.0));
}

// Work left unrun when the loop goes can hold something whose destructor posts to the loop (a
// player handing its last word to the main thread); the loop must drop that too, once.
TEST(ManualRunLoop, WorkThatPostsMoreAsItIsDroppedIsDroppedWithTheLoop) {
    struct PostsWhenDropped {
        PostsWhenDropped(ManualRunLoop& loop, int& dropped) : loop(loop), dropped(dropped) {}
        PostsWhenDropped(const PostsWhenDropped&) = delete;
        PostsWhenDropped& operator=(const PostsWhenDropped&) = delete;
        ~PostsWhenDropped() {
            ++dropped;
            loop.post([] {});
            loop.after(1.0, [] {});
        }
        ManualRunLoop& loop;
        int& dropped;
    };
    int dropped = 0;
    {
        auto loop = std::make_unique<ManualRunLoop>();
        for (int i = 0; i < 9; ++i) {
            auto holder = std::make_shared<PostsWhenDropped>(*loop, dropped);
            loop->after(5.0 + i, [holder] {});
        }
        EXPECT_EQ(dropped, 0);
    }
    EXPECT_EQ(dropped, 9);
}

}  // namespace
}  // namespace kestio::platform
