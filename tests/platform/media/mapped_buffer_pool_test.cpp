#include "platform/media/mapped_buffer_pool.h"

#include <gtest/gtest.h>

#include <QColor>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <thread>
#include <vector>

namespace kestio::platform::media {
namespace {

constexpr std::size_t kBytes = 1 << 20;

// Taking and giving back buffers of one size and then of another, with the spares the pool
// keeps after each step.
struct PoolStep {
    const char* name;
    std::size_t spare;
    int taken;              // buffers taken at once, then all given back
    std::size_t freeAfter;  // free buffers left in the pool
};

void PrintTo(const PoolStep& step, std::ostream* out) {
    *out << step.name;
}

class PoolSpares : public ::testing::TestWithParam<PoolStep> {};

TEST_P(PoolSpares, KeepsAtMostItsSparesAndReusesThem) {
    const PoolStep step = GetParam();
    MappedBufferPool pool(step.spare);
    std::vector<MappedBufferPool::Lease*> leases;
    for (int n = 0; n < step.taken; ++n) {
        leases.push_back(pool.take(kBytes));
        ASSERT_NE(leases.back(), nullptr);
        std::memset(leases.back()->data, n, kBytes);  // the whole buffer is writable
    }
    EXPECT_EQ(pool.takenCount(), static_cast<std::size_t>(step.taken));
    std::vector<void*> returned;
    for (auto* lease : leases) {
        returned.push_back(lease->data);
        MappedBufferPool::giveBack(lease);
    }
    EXPECT_EQ(pool.takenCount(), 0u);
    EXPECT_EQ(pool.freeCount(), step.freeAfter);
    // The spares are the buffers given back first, and they are handed out again.
    for (std::size_t n = 0; n < step.freeAfter; ++n) {
        auto* again = pool.take(kBytes);
        ASSERT_NE(again, nullptr);
        EXPECT_NE(std::find(returned.begin(), returned.end(), again->data), returned.end());
        MappedBufferPool::giveBack(again);
    }
}

INSTANTIATE_TEST_SUITE_P(Steps, PoolSpares,
                         ::testing::Values(PoolStep{"NoSpare", 0, 3, 0},
                                           PoolStep{"OneSpareOfThree", 1, 3, 1},
                                           PoolStep{"TwoSparesOfOne", 2, 1, 1},
                                           PoolStep{"TwoSparesOfFive", 2, 5, 2}),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(MappedBufferPool, AnotherSizeDropsTheSparesOfTheOldOne) {
    MappedBufferPool pool(2);
    auto* first = pool.take(kBytes);
    auto* second = pool.take(kBytes);
    MappedBufferPool::giveBack(first);
    EXPECT_EQ(pool.freeCount(), 1u);
    auto* larger = pool.take(2 * kBytes);
    ASSERT_NE(larger, nullptr);
    EXPECT_EQ(pool.freeCount(), 0u);
    // A buffer of the old size given back now is not kept.
    MappedBufferPool::giveBack(second);
    EXPECT_EQ(pool.freeCount(), 0u);
    MappedBufferPool::giveBack(larger);
    EXPECT_EQ(pool.freeCount(), 1u);
    EXPECT_EQ(pool.takenCount(), 0u);
}

TEST(MappedBufferPool, TrimKeepsNoMoreThanAsked) {
    MappedBufferPool pool(3);
    std::vector<MappedBufferPool::Lease*> leases;
    for (int n = 0; n < 3; ++n) {
        leases.push_back(pool.take(kBytes));
    }
    for (auto* lease : leases) {
        MappedBufferPool::giveBack(lease);
    }
    EXPECT_EQ(pool.freeCount(), 3u);
    pool.trim(1);
    EXPECT_EQ(pool.freeCount(), 1u);
    pool.trim();
    EXPECT_EQ(pool.freeCount(), 0u);
}

TEST(MappedBufferPool, PicturesHaveAlignedRowsAndOutliveThePool) {
    QImage picture;
    {
        MappedBufferPool pool(1);
        picture = pooledPicture(pool, QSize(641, 3), QImage::Format_ARGB32_Premultiplied);
        ASSERT_FALSE(picture.isNull());
        EXPECT_EQ(picture.size(), QSize(641, 3));
        EXPECT_EQ(picture.format(), QImage::Format_ARGB32_Premultiplied);
        EXPECT_EQ(picture.bytesPerLine() % 64, 0);
        EXPECT_GE(picture.bytesPerLine(), 641 * 4);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(picture.constBits()) % 64, 0u);
        EXPECT_EQ(pool.takenCount(), 1u);
        // A copy shares the buffer: it goes back only once the last copy is gone.
        QImage copy = picture;
        picture = QImage();
        EXPECT_EQ(pool.takenCount(), 1u);
        picture = copy;
        copy = QImage();
        EXPECT_TRUE(pooledPicture(pool, QSize(0, 5), QImage::Format_ARGB32).isNull());
    }
    // The pool is gone: the picture is still whole and can be written.
    picture.fill(Qt::red);
    EXPECT_EQ(picture.pixel(640, 2), QColor(Qt::red).rgba());
    picture = QImage();  // unmapped here (AddressSanitizer would see a use after the pool)
}

TEST(MappedBufferPool, PicturesComeBackToThePoolWhenTheLastCopyGoes) {
    MappedBufferPool pool(1);
    const uchar* bits = nullptr;
    {
        QImage picture = pooledPicture(pool, QSize(64, 64), QImage::Format_ARGB32);
        bits = picture.constBits();
    }
    EXPECT_EQ(pool.freeCount(), 1u);
    QImage again = pooledPicture(pool, QSize(64, 64), QImage::Format_ARGB32);
    EXPECT_EQ(again.constBits(), bits);
    EXPECT_EQ(pool.freeCount(), 0u);
}

// Presenters, the main thread and decode threads let pictures go at once: the pool's counts stay
// whole and no buffer is kept twice.
TEST(MappedBufferPoolThreads, BuffersGivenBackFromManyThreadsAtOnce) {
    MappedBufferPool pool(4);
    constexpr int kThreads = 6;
    constexpr int kRounds = 200;
    std::atomic<bool> failed{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int n = 0; n < kRounds; ++n) {
                QImage picture = pooledPicture(pool, QSize(32, 32), QImage::Format_ARGB32);
                if (picture.isNull()) {
                    failed.store(true);
                    return;
                }
                picture.fill(static_cast<uint>(t));
                if (picture.pixel(31, 31) != static_cast<QRgb>(t)) {
                    failed.store(true);  // another thread wrote into this buffer
                }
                // Half of them let go on another thread.
                if (n % 2 == 0) {
                    std::thread([p = std::move(picture)]() mutable { p = QImage(); }).join();
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_FALSE(failed.load());
    EXPECT_EQ(pool.takenCount(), 0u);
    EXPECT_LE(pool.freeCount(), 4u);
}

}  // namespace
}  // namespace kestio::platform::media
