#include "platform/audio/render_helper_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <bit>
#include <chrono>
#include <functional>
#include <set>
#include <thread>
#include <vector>

#include "platform/audio/denormal_guard.h"

namespace kestio::test {
namespace {

using platform::audio::DenormalGuard;
using platform::audio::RenderHelperPool;

TEST(RenderHelperPool, HelpersLeaveOneCpuToTheRenderThreadAndStopAtThree) {
    const std::vector<std::pair<int, uint32_t>> table = {{1, 0}, {2, 1}, {3, 2},
                                                         {4, 3}, {8, 3}, {64, 3}};
    for (const auto& [cores, helpers] : table) {
        EXPECT_EQ(RenderHelperPool::helpersFor(cores), helpers) << cores << " CPUs";
    }
}

// Each task adds its number to its own slot, without atomics: what a helper wrote must be
// visible once run() returns (the thread sanitizer checks the hand-over too).
struct Tally {
    std::vector<uint32_t> runs;
    std::vector<std::thread::id> threads;

    static void task(void* context, uint32_t index) noexcept {
        auto& tally = *static_cast<Tally*>(context);
        tally.runs[index] += index + 1;
        tally.threads[index] = std::this_thread::get_id();
    }
};

TEST(RenderHelperPool, RunsEveryTaskOnceAndHandsTheirResultsBack) {
    for (const uint32_t helpers : {0u, 1u, 3u}) {
        RenderHelperPool pool(helpers);
        EXPECT_EQ(pool.helperCount(), helpers);
        for (const uint32_t count : {0u, 1u, 2u, 3u, 8u, 13u}) {
            Tally tally{std::vector<uint32_t>(count, 0), std::vector<std::thread::id>(count)};
            constexpr uint32_t kBlocks = 300;
            std::set<std::thread::id> threads;
            for (uint32_t block = 0; block < kBlocks; ++block) {
                pool.run(count, &Tally::task, &tally);
                threads.insert(tally.threads.begin(), tally.threads.end());
            }
            for (uint32_t i = 0; i < count; ++i) {
                EXPECT_EQ(tally.runs[i], kBlocks * (i + 1))
                    << "task " << i << " of " << count << " with " << helpers << " helpers";
            }
            if (helpers == 0 || count == 1) {
                EXPECT_LE(threads.size(), 1u) << "only the caller runs the tasks";
                if (count > 0) {
                    EXPECT_EQ(*threads.begin(), std::this_thread::get_id());
                }
            }
        }
    }
}

// Spins until `condition` holds; false after ten seconds, a guard against a hang.
bool waitUntil(const std::function<bool()>& condition) {
    const auto guard = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > guard) {
            return false;
        }
        std::this_thread::yield();
    }
    return true;
}

// Holds each helper at every wake until the test lets that wake through: a helper that the OS
// wakes late, made late on purpose.
struct Gate {
    std::atomic<uint32_t> arrived[3] = {};  // wakes of each helper that reached the gate
    std::atomic<uint32_t> admitted[3] = {};
    std::atomic<bool> gaveUp{false};

    static void hold(void* context, uint32_t helper) noexcept {
        auto& gate = *static_cast<Gate*>(context);
        const uint32_t turn = gate.arrived[helper].fetch_add(1);
        if (!waitUntil([&] { return gate.admitted[helper].load() > turn; })) {
            gate.gaveUp = true;
        }
    }
    void open() {
        for (auto& a : admitted) {
            a = 1u << 30;
        }
    }
};

// Block 1 wakes the helper and is over before the helper passes the gate. Block 2's first task
// lets the helper's wake for block 1 through while block 2 is live with tasks left, and waits
// until the helper is back at the gate (woken for block 2): that late wake must take nothing.
TEST(RenderHelperPool, ALateHelperNeitherHoldsUpItsBlockNorTakesATaskWhenItWakes) {
    Gate gate;
    RenderHelperPool pool(1, &Gate::hold, &gate);
    Tally first{std::vector<uint32_t>(3, 0), std::vector<std::thread::id>(3)};
    pool.run(3, &Tally::task, &first);
    EXPECT_FALSE(gate.gaveUp.load()) << "run() waited for a helper that had no task";
    EXPECT_EQ(first.runs, (std::vector<uint32_t>{1, 2, 3}));
    ASSERT_TRUE(waitUntil([&] { return gate.arrived[0].load() == 1; })) << "never woke";

    struct Second {
        Gate& gate;
        std::atomic<uint32_t> runs[3] = {};
        uint32_t takenByTheLateWake = 0;
        static void task(void* context, uint32_t index) noexcept {
            auto& s = *static_cast<Second*>(context);
            if (index == 0) {
                s.gate.admitted[0] = 1;
                EXPECT_TRUE(waitUntil([&] { return s.gate.arrived[0].load() == 2; }));
                s.takenByTheLateWake = s.runs[1] + s.runs[2];
                s.gate.admitted[0] = 2;
            }
            s.runs[index] += 1;
        }
    } second{gate};
    pool.run(3, &Second::task, &second);
    EXPECT_EQ(second.takenByTheLateWake, 0u) << "the wake for block 1 took tasks of block 2";
    for (uint32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(second.runs[i].load(), 1u) << "task " << i;
    }
    EXPECT_EQ(first.runs, (std::vector<uint32_t>{1, 2, 3})) << "a task of block 1 ran again";
    gate.open();
}

// Helpers dawdle at some wakes, so that their wakes land in later blocks of every size; each
// block's context is its own row of counts, so a late run of an old task shows too.
TEST(RenderHelperPool, BlocksInARowRunEachTaskOnceWhileHelpersWakeLate) {
    struct Dawdle {
        std::atomic<uint32_t> wakes{0};
        static void hook(void* context, uint32_t helper) noexcept {
            const uint32_t n = static_cast<Dawdle*>(context)->wakes.fetch_add(1);
            for (uint32_t i = (n * 7 + helper) % 5 == 0 ? 200 : 0; i > 0; --i) {
                std::this_thread::yield();
            }
        }
    } dawdle;
    // A few microseconds of work each, so that helpers that do wake in time take some.
    auto count = [](void* context, uint32_t index) noexcept {
        for (int i = 0; i < 3000; ++i) {
            asm volatile("");
        }
        (*static_cast<std::vector<uint32_t>*>(context))[index] += 1;
    };
    RenderHelperPool pool(3, &Dawdle::hook, &dawdle);
    std::vector<std::vector<uint32_t>> blocks(3000);
    for (std::size_t b = 0; b < blocks.size(); ++b) {
        blocks[b].assign((b * 5 + b / 7) % 14, 0);
        pool.run(uint32_t(blocks[b].size()), count, &blocks[b]);
        ASSERT_EQ(blocks[b], std::vector<uint32_t>(blocks[b].size(), 1)) << "block " << b;
    }
    pool.run(0, count, nullptr);  // a last block: late wakes go back to sleep
    for (std::size_t b = 0; b < blocks.size(); ++b) {
        ASSERT_EQ(blocks[b], std::vector<uint32_t>(blocks[b].size(), 1)) << "block " << b;
    }
}

// The pool goes while helpers are still on their way from their wakes, or in a late wake.
TEST(RenderHelperPool, StopsWithHelpersStillWakingOrLate) {
    for (int round = 0; round < 100; ++round) {
        RenderHelperPool pool(3);
        Tally tally{std::vector<uint32_t>(4, 0), std::vector<std::thread::id>(4)};
        pool.run(4, &Tally::task, &tally);
        ASSERT_EQ(tally.runs, (std::vector<uint32_t>{1, 2, 3, 4}));
    }
    Gate gate;
    RenderHelperPool pool(3, &Gate::hold, &gate);
    Tally tally{std::vector<uint32_t>(4, 0), std::vector<std::thread::id>(4)};
    pool.run(4, &Tally::task, &tally);
    ASSERT_TRUE(
        waitUntil([&] { return gate.arrived[0] + gate.arrived[1] + gate.arrived[2] == 3; }));
    gate.open();
}

// Two tasks that each wait until the other has started can only finish side by side.
TEST(RenderHelperPool, TasksRunSideBySideWithTheCaller) {
    RenderHelperPool pool(1);
    struct Meeting {
        std::atomic<int> started{0};
        std::atomic<bool> metEveryTime{true};
        std::set<std::thread::id> threads;
        std::thread::id seen[2];
    } meeting;
    auto task = [](void* context, uint32_t index) noexcept {
        auto& m = *static_cast<Meeting*>(context);
        m.seen[index] = std::this_thread::get_id();
        m.started.fetch_add(1);
        const auto guard = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (m.started.load() % 2 != 0) {
            if (std::chrono::steady_clock::now() > guard) {
                m.metEveryTime = false;
                return;
            }
        }
    };
    for (int block = 0; block < 50; ++block) {
        pool.run(2, task, &meeting);
        meeting.threads.insert(std::begin(meeting.seen), std::end(meeting.seen));
    }
    EXPECT_TRUE(meeting.metEveryTime.load());
    EXPECT_EQ(meeting.threads.size(), 2u);
    EXPECT_TRUE(meeting.threads.count(std::this_thread::get_id()));
}

// A product that falls below the smallest normal float comes out as zero on every thread, as
// it does on the render thread, so that a chain sounds the same whichever thread renders it.
TEST(RenderHelperPool, HelpersFlushDenormalsToZeroAsTheRenderThreadDoes) {
    RenderHelperPool pool(3);
    struct Products {
        std::thread::id caller = std::this_thread::get_id();
        std::atomic<bool> helped{false};
        volatile float tiny = 1e-30f;
        float out[8] = {};
    } products;
    auto task = [](void* context, uint32_t index) noexcept {
        auto& p = *static_cast<Products*>(context);
        if (std::this_thread::get_id() != p.caller) {
            p.helped = true;
        }
        p.out[index] = p.tiny * 1e-10f;  // 1e-40: a denormal
        // The first task waits for a helper to take one, so that helpers take part.
        const auto guard = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (index == 0 && !p.helped && std::chrono::steady_clock::now() < guard) {
        }
    };
    const DenormalGuard denormalsAreZero;
    pool.run(8, task, &products);
    EXPECT_TRUE(products.helped.load()) << "no helper took a task";
    for (int i = 0; i < 8; ++i) {
        // Bits, not a float comparison: this thread takes denormal inputs as zero.
        EXPECT_EQ(std::bit_cast<uint32_t>(products.out[i]), 0u) << "task " << i;
    }
}

}  // namespace
}  // namespace kestio::test
