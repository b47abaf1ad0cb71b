#include "platform/graphics/worker_pool.h"

#include <gtest/gtest.h>
#include <sched.h>

#include <atomic>
#include <cstdlib>
#include <thread>
#include <vector>

#include "platform/runloop/usable_cores.h"
#include "support/allowed_cpus.h"

namespace kestio::platform {
namespace {

TEST(WorkerPool, RunsEveryPartExactlyOnce) {
    for (int workers : {0, 1, 3}) {
        WorkerPool pool(workers);
        EXPECT_EQ(pool.concurrency(), workers + 1);
        for (int count : {0, 1, 2, 7, 100}) {
            std::vector<std::atomic<int>> hits(static_cast<std::size_t>(count));
            pool.parallelFor(count, [&](int i) { hits[static_cast<std::size_t>(i)]++; });
            for (int i = 0; i < count; ++i) {
                EXPECT_EQ(hits[static_cast<std::size_t>(i)].load(), 1)
                    << workers << " workers, part " << i << " of " << count;
            }
        }
    }
}

TEST(WorkerPool, SeveralCallersAndNestedCallsAllFinish) {
    WorkerPool pool(2);
    std::atomic<int> total{0};
    std::vector<std::thread> callers;
    for (int c = 0; c < 4; ++c) {
        callers.emplace_back([&] {
            for (int round = 0; round < 50; ++round) {
                pool.parallelFor(
                    8, [&](int) { pool.parallelFor(3, [&](int) { total.fetch_add(1); }); });
            }
        });
    }
    for (auto& t : callers) {
        t.join();
    }
    EXPECT_EQ(total.load(), 4 * 50 * 8 * 3);
}

TEST(WorkerPool, TheSharedPoolIsOneInstance) {
    EXPECT_EQ(&WorkerPool::shared(), &WorkerPool::shared());
    EXPECT_GE(WorkerPool::shared().concurrency(), 1);
    EXPECT_LE(WorkerPool::shared().concurrency(), 8);
}

using test::firstAllowedCpus;

// A child process started afresh (the test binary run again for this test alone, so its shared
// pool is not yet made) is narrowed to a few CPUs, as `taskset` would, and exits with the
// concurrency of the shared pool it then makes.
TEST(WorkerPool, TheSharedPoolIsSizedByTheCpusTheProcessMayUse) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (const int cpus : {1, 2, 3}) {
        const cpu_set_t chosen = firstAllowedCpus(cpus);
        const int granted = CPU_COUNT(&chosen);
        if (granted < cpus) {
            continue;  // not enough CPUs on this machine
        }
        EXPECT_EXIT(
            {
                if (sched_setaffinity(0, sizeof chosen, &chosen) != 0 || usableCores() != cpus) {
                    std::_Exit(100);
                }
                std::_Exit(WorkerPool::shared().concurrency());
            },
            testing::ExitedWithCode(cpus), "")
            << cpus << " CPUs";
    }
}

}  // namespace
}  // namespace kestio::platform
