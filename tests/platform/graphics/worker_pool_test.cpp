#include "platform/graphics/worker_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

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

}  // namespace
}  // namespace kestio::platform
