#include "playback/vu_meter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace kestio {
namespace {

std::vector<float> sine(float amplitude, int frames = 1024) {
    std::vector<float> samples(std::size_t(frames), 0.0f);
    for (int i = 0; i < frames; ++i) {
        // 1 kHz at 48 kHz: whole periods in 48 frames.
        samples[std::size_t(i)] =
            amplitude * float(std::sin(2.0 * std::numbers::pi * 1000.0 * i / 48000.0));
    }
    return samples;
}

struct Block {
    std::vector<std::vector<float>> channels;
    std::vector<const float*> pointers;
    explicit Block(std::vector<std::vector<float>> c) : channels(std::move(c)) {
        for (const auto& channel : channels) {
            pointers.push_back(channel.data());
        }
    }
    void into(VuMeter& meter) const {
        meter.measure(pointers.data(), uint32_t(pointers.size()),
                      uint32_t(channels.front().size()));
    }
};

TEST(VuMeter, FullScaleSineIsZeroPeakAndMinusThreeRms) {
    const auto wave = sine(1.0f, 960);
    EXPECT_NEAR(blockLevelDb(wave.data(), wave.size(), true), 0.0, 0.01);
    EXPECT_NEAR(blockLevelDb(wave.data(), wave.size(), false), -3.0103, 0.01);
}

TEST(VuMeter, LevelsOfKnownSignals) {
    const std::vector<float> square(512, 0.5f);
    const std::vector<float> silence(512, 0.0f);
    const float half = 20.0f * std::log10(0.5f);
    struct Case {
        const std::vector<float>* samples;
        bool peak;
        float expected;
    } cases[] = {
        {&square, true, half},
        {&square, false, half},
        {&silence, true, -100.0f},
        {&silence, false, -100.0f},
    };
    for (const auto& c : cases) {
        EXPECT_NEAR(blockLevelDb(c.samples->data(), c.samples->size(), c.peak), c.expected, 1e-4);
    }
    EXPECT_EQ(blockLevelDb(nullptr, 0, true), -100.0f);
}

TEST(VuMeter, MonoCountsOneChannelAndLeavesTheRightSilent) {
    VuMeter meter;
    Block({sine(0.5f)}).into(meter);
    const VuReading reading = meter.take().value();
    EXPECT_EQ(reading.channelCount, 1);
    EXPECT_NEAR(reading.levels[0], 20.0f * std::log10(0.5f), 0.01);
    EXPECT_EQ(reading.levels[1], -100.0f);
}

TEST(VuMeter, TenChannelsAreMeteredAsEight) {
    VuMeter meter;
    std::vector<std::vector<float>> channels;
    for (int c = 0; c < 10; ++c) {
        channels.push_back(sine(0.1f * float(c + 1)));
    }
    Block(channels).into(meter);
    const VuReading reading = meter.take().value();
    EXPECT_EQ(reading.channelCount, 8);
    EXPECT_NEAR(reading.levels[7], 20.0f * std::log10(0.8f), 0.01);
}

TEST(VuMeter, APeakBetweenTwoReadsIsNotLost) {
    VuMeter meter;
    Block({sine(1.0f), sine(1.0f)}).into(meter);
    Block({sine(0.01f), sine(0.01f)}).into(meter);
    Block({sine(0.01f), sine(0.01f)}).into(meter);
    // The loud block came first: the read still shows it.
    EXPECT_NEAR(meter.take()->levels[0], 0.0, 0.01);
    // The next span holds only what came after.
    Block({sine(0.01f), sine(0.01f)}).into(meter);
    EXPECT_NEAR(meter.take()->levels[0], -40.0, 0.01);
    // Nothing new: no reading.
    EXPECT_FALSE(meter.take());
}

TEST(VuMeter, RmsModeMeasuresTheRootMeanSquare) {
    VuMeter meter;
    meter.setPeak(false);
    Block({sine(1.0f, 960), sine(1.0f, 960)}).into(meter);
    EXPECT_NEAR(meter.take()->levels[1], -3.0103, 0.01);
}

TEST(VuMeter, SilenceIsBelowMinusEightyOnEveryChannel) {
    VuReading reading;
    EXPECT_TRUE(reading.isSilent());
    reading.levels[5] = -79.0f;
    EXPECT_FALSE(reading.isSilent());
    reading.levels[5] = -85.0f;
    EXPECT_TRUE(reading.isSilent());
}

}  // namespace
}  // namespace kestio
