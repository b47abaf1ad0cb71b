#include <gtest/gtest.h>

#include <limits>

#include "panels/timeline_scale.h"

namespace kestio::panels {
namespace {

TEST(Timeline, NothingLoadedSpansOneSecondWithTheBandAcross) {
    const auto s = timelineScale(0, 0, std::nullopt, std::nullopt);
    EXPECT_EQ(s.span, 1.0);
    EXPECT_EQ(s.inFraction, 0.0);
    EXPECT_EQ(s.outFraction, 1.0);
    EXPECT_EQ(s.played, 0.0);
    EXPECT_FALSE(s.showInMark);
    EXPECT_FALSE(s.showOutMark);
}

TEST(Timeline, ShortClipsSpanOneSecondAndPointersMapToTime) {
    const auto s = timelineScale(0.4, 0.2, std::nullopt, std::nullopt);
    EXPECT_EQ(s.timeAt(300, 300), 1.0);  // the right end is one second, not 0.4
    EXPECT_EQ(s.timeAt(500, 300), 1.0);  // beyond either end holds at the end
    EXPECT_EQ(s.timeAt(-5, 300), 0.0);
    const auto twenty = timelineScale(20, 0, std::nullopt, std::nullopt);
    EXPECT_EQ(twenty.timeAt(300, 400), 15.0);  // three quarters of 20 s
    // A bar without width maps nothing.
    EXPECT_FALSE(twenty.timeAt(0, 0).has_value());
    EXPECT_FALSE(twenty.timeAt(3, -1).has_value());
    EXPECT_FALSE(twenty.timeAt(std::numeric_limits<double>::quiet_NaN(), 100).has_value());
}

TEST(Timeline, MarkThresholdsAndPlayedFraction) {
    struct Case {
        std::optional<double> in, out;
        bool inMark, outMark;
    };
    const Case cases[] = {
        {0.0, std::nullopt, false, false},   // an in point at the start draws no mark
        {0.01, std::nullopt, false, false},  // 0.001 of 10 s is 0.01: not past it
        {0.02, std::nullopt, true, false},
        {std::nullopt, 9.99, false, false},  // at 0.999 of the span: no out mark
        {std::nullopt, 9.98, false, true},
        {7.0, 3.0, true, true},  // past each other: both marks
    };
    for (const auto& c : cases) {
        const auto s = timelineScale(10, 5, c.in, c.out);
        EXPECT_EQ(s.showInMark, c.inMark);
        EXPECT_EQ(s.showOutMark, c.outMark);
    }
    EXPECT_EQ(timelineScale(10, 25, std::nullopt, std::nullopt).played, 1.0);
    EXPECT_EQ(timelineScale(10, -1, std::nullopt, std::nullopt).played, 0.0);
    EXPECT_EQ(
        timelineScale(std::numeric_limits<double>::quiet_NaN(), 0.5, std::nullopt, std::nullopt)
            .played,
        0.5);
}

TEST(Timeline, WaveformIsDrawnOnlyAboveTheFloor) {
    EXPECT_FALSE(drawsWaveform(std::nullopt));
    EXPECT_FALSE(drawsWaveform(std::vector<float>{}));
    EXPECT_FALSE(drawsWaveform(std::vector<float>(50, 0.02f)));
    auto one = std::vector<float>(50, 0.0f);
    one[49] = 0.021f;
    EXPECT_TRUE(drawsWaveform(one));
}

}  // namespace
}  // namespace kestio::panels
