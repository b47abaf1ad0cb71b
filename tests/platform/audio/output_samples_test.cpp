// What leaves the mix for the sound server: interleaved, and clipped to full scale where a
// level above 0 dB took the mix over it; never wrapped, never undefined.

#include "platform/audio/output_samples.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "platform/audio/reconnect_backoff.h"

namespace kestio::test {
namespace {

using platform::audio::interleaveClipped;
using platform::audio::ReconnectBackoff;

TEST(OutputSamples, InterleavesAndClipsToFullScale) {
    struct Case {
        float in;
        float out;
    };
    const std::vector<Case> cases = {
        {0.0f, 0.0f},   {0.5f, 0.5f},     {-0.25f, -0.25f},   {1.0f, 1.0f},
        {-1.0f, -1.0f}, {1.0001f, 1.0f},  {2.0f, 1.0f},       {-3.98f, -1.0f},
        {1e30f, 1.0f},  {INFINITY, 1.0f}, {-INFINITY, -1.0f}, {NAN, 0.0f},
    };
    // Three channels: the values, the values negated, and a constant, so that a channel put in
    // another's place shows.
    std::vector<float> left, middle, right;
    for (const Case& c : cases) {
        left.push_back(c.in);
        middle.push_back(-c.in);
        right.push_back(0.125f);
    }
    const float* planes[] = {left.data(), middle.data(), right.data()};
    std::vector<float> out(cases.size() * 3, 99.0f);
    interleaveClipped(planes, 3, uint32_t(cases.size()), out.data());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(out[i * 3], cases[i].out) << "sample " << cases[i].in;
        EXPECT_EQ(out[i * 3 + 1], cases[i].out == 0.0f ? 0.0f : -cases[i].out)
            << "sample " << -cases[i].in;
        EXPECT_EQ(out[i * 3 + 2], 0.125f);
    }
}

// A 1 kHz tone at +6 dB over a full-scale one: the peaks are cut flat at full scale, the rest of
// each cycle passes as it is.
TEST(OutputSamples, ATooLoudToneIsCutFlatAtFullScale) {
    std::vector<float> tone(480);
    for (std::size_t i = 0; i < tone.size(); ++i) {
        tone[i] = float(2.0 * std::sin(2.0 * M_PI * 1000.0 * double(i) / 48000.0));
    }
    const float* planes[] = {tone.data()};
    std::vector<float> out(tone.size());
    interleaveClipped(planes, 1, uint32_t(tone.size()), out.data());
    int flat = 0;
    for (std::size_t i = 0; i < tone.size(); ++i) {
        ASSERT_LE(std::abs(out[i]), 1.0f);
        if (std::abs(tone[i]) < 1.0f) {
            EXPECT_EQ(out[i], tone[i]);
        } else {
            EXPECT_EQ(out[i], std::copysign(1.0f, tone[i]));
            ++flat;
        }
    }
    // A sine at twice full scale is at or over it for two thirds of every cycle.
    EXPECT_NEAR(flat / double(tone.size()), 2.0 / 3.0, 0.05);
}

TEST(ReconnectBackoff, WaitsLongerEachTimeUpToALimitAndStartsShortAgainAfterAnAnswer) {
    ReconnectBackoff backoff;
    const std::vector<double> expected = {0.5, 1.0, 2.0, 3.0, 3.0, 3.0};
    for (const double wait : expected) {
        EXPECT_EQ(backoff.next(), wait);
    }
    backoff.reset();
    EXPECT_EQ(backoff.next(), 0.5);
}

}  // namespace
}  // namespace kestio::test
