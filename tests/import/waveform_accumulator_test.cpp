#include "import/waveform_accumulator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <vector>

namespace kestio {
namespace {

// Interleaved stereo of a sine with `peak`, `frames` long, 48 samples per cycle.
std::vector<float> sine(float peak, int frames) {
    std::vector<float> samples;
    for (int i = 0; i < frames; ++i) {
        const float v = peak * static_cast<float>(std::sin(2.0 * std::numbers::pi * i / 48.0));
        samples.push_back(v);
        samples.push_back(v);
    }
    return samples;
}

std::vector<float> feedAll(WaveformAccumulator points, const std::vector<float>& samples) {
    points.addInterleavedStereo(samples.data(), samples.size());
    return std::move(points).finish();
}

TEST(WaveformAccumulator, PeaksAreTripledAndClippedToOne) {
    const auto full = feedAll(WaveformAccumulator(10, 4800), sine(1.0f, 4800));
    for (float p : full) {
        EXPECT_FLOAT_EQ(p, 1.0f);
    }
    const auto quarter = feedAll(WaveformAccumulator(10, 4800), sine(0.25f, 4800));
    for (float p : quarter) {
        EXPECT_NEAR(p, 0.75f, 1e-6f);
    }
    const auto third = feedAll(WaveformAccumulator(10, 4800), sine(0.34f, 4800));
    for (float p : third) {
        EXPECT_FLOAT_EQ(p, 1.0f);
    }
}

TEST(WaveformAccumulator, SilenceGivesZeros) {
    const auto points = feedAll(WaveformAccumulator(7, 700), std::vector<float>(1400, 0.0f));
    EXPECT_EQ(points, std::vector<float>(7, 0.0f));
}

TEST(WaveformAccumulator, AStretchCarriesItsPeakAcrossBuffers) {
    // Stretches of 4 frames; the loud frame of the first stretch comes in the first buffer,
    // its end in the second.
    WaveformAccumulator points(2, 8);
    const float first[] = {0.0f, 0.2f, 0.0f, 0.0f, 0.0f, 0.0f};  // frames 1..3
    const float second[] = {0.0f, 0.0f, 0.1f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
    EXPECT_FALSE(points.addInterleavedStereo(first, 6));
    EXPECT_TRUE(points.addInterleavedStereo(second, 10));
    const auto result = std::move(points).finish();
    ASSERT_EQ(result.size(), 2u);
    EXPECT_NEAR(result[0], 0.6f, 1e-6f);
    EXPECT_NEAR(result[1], 0.3f, 1e-6f);
}

TEST(WaveformAccumulator, StopsAtThePointCountAndIgnoresTheRest) {
    WaveformAccumulator points(3, 30);  // 10 frames a point
    std::vector<float> samples(2 * 50, 0.1f);
    EXPECT_TRUE(points.addInterleavedStereo(samples.data(), samples.size()));
    EXPECT_TRUE(points.addFrame(1.0f));
    const auto result = std::move(points).finish();
    EXPECT_EQ(result.size(), 3u);
    for (float p : result) {
        EXPECT_NEAR(p, 0.3f, 1e-6f);
    }
}

TEST(WaveformAccumulator, AShortMediaGivesOnePointPerFrameThenZeros) {
    WaveformAccumulator points(500, 100);
    EXPECT_EQ(points.step(), 1);
    const auto result = feedAll(std::move(points), std::vector<float>(200, 0.2f));
    ASSERT_EQ(result.size(), 500u);
    for (int i = 0; i < 100; ++i) {
        EXPECT_NEAR(result[i], 0.6f, 1e-6f) << i;
    }
    for (int i = 100; i < 500; ++i) {
        EXPECT_EQ(result[i], 0.0f) << i;
    }
}

TEST(WaveformAccumulator, AnUnfinishedLastStretchIsDroppedAndTheEndIsPadded) {
    // The media claims 100 frames (10 a point) but holds 35: three points and a half.
    const auto result = feedAll(WaveformAccumulator(10, 100), std::vector<float>(70, 0.5f));
    ASSERT_EQ(result.size(), 10u);
    EXPECT_EQ(result[0], 1.0f);
    EXPECT_EQ(result[2], 1.0f);
    EXPECT_EQ(result[3], 0.0f);
    EXPECT_EQ(result[9], 0.0f);
}

TEST(WaveformAccumulator, TheLouderChannelCountsAndALoneTrailingSampleIsAFrame) {
    WaveformAccumulator points(2, 2);  // one frame a point
    const float samples[] = {0.1f, -0.3f, 0.2f};
    points.addInterleavedStereo(samples, 3);
    const auto result = std::move(points).finish();
    EXPECT_NEAR(result[0], 0.9f, 1e-6f);
    EXPECT_NEAR(result[1], 0.6f, 1e-6f);
}

TEST(WaveformAccumulator, NotANumberNeverRaisesAPeakAndInfinityClips) {
    WaveformAccumulator points(2, 2);
    points.addFrame(std::numeric_limits<float>::quiet_NaN());
    points.addFrame(std::numeric_limits<float>::infinity());
    const auto result = std::move(points).finish();
    EXPECT_EQ(result[0], 0.0f);
    EXPECT_EQ(result[1], 1.0f);
}

TEST(WaveformAccumulator, ANonsensicalLengthStillGivesAStepOfAtLeastOne) {
    EXPECT_EQ(WaveformAccumulator(500, 0).step(), 1);
    EXPECT_EQ(WaveformAccumulator(500, -40).step(), 1);
    EXPECT_EQ(WaveformAccumulator(0, 100).step(), 100);  // at least one point
    EXPECT_EQ(WaveformAccumulator(200, 48000 * 300).step(), 72000);
}

}  // namespace
}  // namespace kestio
