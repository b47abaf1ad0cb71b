#include "output/color_settings_box.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace kestio::output {
namespace {

ColorSettings uniform(float v) {
    return {v, v, v, v, v, v, v, v};
}

TEST(ColorSettingsBoxTest, ObserversHearEachNewSetOnce) {
    ColorSettingsBox box;
    EXPECT_EQ(box.value(), ColorSettings{});

    std::vector<ColorSettings> heard;
    auto subscription = box.onChange([&](const ColorSettings& s) { heard.push_back(s); });
    const auto before = box.snapshot();
    box.setValue(uniform(0.5f));
    box.setValue(uniform(0.5f));  // the same set: no change
    box.setValue(ColorSettings{});
    subscription.reset();
    box.setValue(uniform(2.0f));

    EXPECT_EQ(heard, (std::vector<ColorSettings>{uniform(0.5f), ColorSettings{}}));
    EXPECT_EQ(*before, ColorSettings{}) << "a set once taken stays as it was";
    EXPECT_EQ(box.value(), uniform(2.0f));
}

// A reader on another thread only ever sees whole sets, each one a set that was written,
// while the main thread replaces them as fast as it can.
TEST(ColorSettingsBoxTest, ReadersNeverSeeAMixtureOfTwoSets) {
    ColorSettingsBox box(uniform(1.0f));
    std::atomic<bool> done{false};
    std::atomic<int> reads{0};
    std::atomic<int> torn{0};
    std::thread reader([&] {
        while (!done.load()) {
            const auto s = box.snapshot();
            if (!(*s == uniform(1.0f) || *s == uniform(2.0f))) {
                ++torn;
            }
            ++reads;
        }
    });
    // Let the reader start before the writes, with a generous guard.
    const auto guard = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (reads.load() == 0 && std::chrono::steady_clock::now() < guard) {
        std::this_thread::yield();
    }
    for (int i = 0; i < 100000; ++i) {
        box.setValue(uniform(i % 2 == 0 ? 2.0f : 1.0f));
    }
    done = true;
    reader.join();
    EXPECT_GT(reads.load(), 0);
    EXPECT_EQ(torn.load(), 0);
}

}  // namespace
}  // namespace kestio::output
