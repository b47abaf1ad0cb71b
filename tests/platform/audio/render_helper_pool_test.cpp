#include "platform/audio/render_helper_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <bit>
#include <chrono>
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
