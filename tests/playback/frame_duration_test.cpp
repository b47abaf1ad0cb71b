#include "playback/frame_duration.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "playback/playback_text.h"

namespace kestio {
namespace {

TEST(FrameDuration, Table) {
    struct Row {
        std::optional<double> rate;
        double expected;
    } rows[] = {
        {std::nullopt, 1.0 / 30},
        {0.0, 1.0 / 30},
        {-5.0, 1.0 / 30},
        {std::numeric_limits<double>::quiet_NaN(), 1.0 / 30},
        {12.0, 50.0 / 600},
        {23.976, 1001.0 / 24000},
        {24.0, 1001.0 / 24000},
        {24.05, 1.0 / 24},
        {25.0, 1.0 / 25},
        {29.97, 1001.0 / 30000},
        {30.0, 1001.0 / 30000},
        {30.05, 1.0 / 30},
        {48.0, 1001.0 / 48000},
        {50.0, 1.0 / 50},
        {59.94, 1001.0 / 60000},
        {60.0, 1001.0 / 60000},
        // Just below the 1001 row of 120: an ordinary rate.
        {119.88, 5.0 / 600},
        {119.9, 1001.0 / 120000},
        {120.0, 1001.0 / 120000},
        {120.05, 1.0 / 120},
        // Any other rate: 1/r at the 1/600 s timescale.
        {7.0, std::round(600.0 / 7.0) / 600.0},
    };
    for (const auto& row : rows) {
        EXPECT_DOUBLE_EQ(frameDuration(row.rate), row.expected)
            << (row.rate ? std::to_string(*row.rate) : "none");
    }
}

TEST(PlaybackText, NumbersReadAsTheLogWritesThem) {
    EXPECT_EQ(shortestDouble(3.0), "3.0");
    EXPECT_EQ(shortestDouble(12.5), "12.5");
    EXPECT_EQ(shortestDouble(9.966666666666667), "9.966666666666667");
    EXPECT_EQ(shortestDouble(std::numeric_limits<double>::quiet_NaN()), "nan");
    EXPECT_EQ(sizeText(1920, 1080), "(1920.0, 1080.0)");
    EXPECT_EQ(wholePercent(100.9), "100");
    EXPECT_EQ(wholePercent(-0.5), "0");
    EXPECT_EQ(wholePercent(1e300), "1e+300");
    EXPECT_EQ(bankSlotText(0, 2), "BANK1 SLOT3");
}

}  // namespace
}  // namespace kestio
