#include "platform/audio/audio_converter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "support/signal_analysis.h"

namespace kestio::test {
namespace {

using platform::audio::AudioConverter;
using platform::audio::AudioFormat;
using platform::audio::PcmBuffer;

// Six channels, each a different constant: channel c holds (c + 1) / 10.
std::shared_ptr<PcmBuffer> sixChannels(uint32_t frames) {
    std::vector<std::vector<float>> channels;
    for (int c = 0; c < 6; ++c) {
        channels.emplace_back(frames, float(c + 1) / 10.0f);
    }
    return bufferOf(channels, 48000.0);
}

// A multichannel file on a stereo output keeps its first two channels.
TEST(AudioConverter, KeepsChannelsOneAndTwoOfASixChannelSource) {
    auto converter = AudioConverter::make({48000.0, 6, false}, {48000.0, 2, false});
    ASSERT_TRUE(converter);
    EXPECT_EQ(converter->channelMap(), (std::vector<int>{0, 1}));
    auto out = PcmBuffer::make({48000.0, 2, false}, 1000);
    ASSERT_FALSE(converter->convert(*out, *sixChannels(1000)));
    ASSERT_EQ(out->frameLength(), 1000u);
    EXPECT_FLOAT_EQ(out->channel(0)[500], 0.1f);
    EXPECT_FLOAT_EQ(out->channel(1)[999], 0.2f);
}

TEST(AudioConverter, FollowsItsChannelMapWithSilenceForMinusOne) {
    auto converter = AudioConverter::make({48000.0, 6, false}, {48000.0, 3, true});
    ASSERT_TRUE(converter->setChannelMap({5, -1, 2}));
    auto out = PcmBuffer::make({48000.0, 3, true}, 10);
    ASSERT_FALSE(converter->convert(*out, *sixChannels(10)));
    const float* samples = out->interleavedData();
    EXPECT_FLOAT_EQ(samples[3 * 4 + 0], 0.6f);
    EXPECT_FLOAT_EQ(samples[3 * 4 + 1], 0.0f);
    EXPECT_FLOAT_EQ(samples[3 * 4 + 2], 0.3f);

    EXPECT_FALSE(converter->setChannelMap({0, 1})) << "one entry per output channel";
    EXPECT_FALSE(converter->setChannelMap({0, 1, 6})) << "the source has no channel 7";
    EXPECT_EQ(converter->channelMap(), (std::vector<int>{5, -1, 2}));
}

TEST(AudioConverter, AMonoSourceFeedsBothChannels) {
    auto converter = AudioConverter::make({48000.0, 1, false}, {48000.0, 2, false});
    auto out = PcmBuffer::make({48000.0, 2, false}, 4);
    ASSERT_FALSE(converter->convert(*out, *bufferOf(std::vector<float>{1, 2, 3, 4}, 48000.0, 1)));
    EXPECT_EQ(std::vector<float>(out->channel(1), out->channel(1) + 4),
              (std::vector<float>{1, 2, 3, 4}));
}

TEST(AudioConverter, ChangesTheSampleRateOfAWholeBuffer) {
    auto converter = AudioConverter::make({44100.0, 2, false}, {48000.0, 2, false});
    const auto tone = sineWave(1000.0, 44100.0, 44100, 0.5);
    auto out = PcmBuffer::make({48000.0, 2, false}, converter->outputFramesFor(44100));
    ASSERT_FALSE(converter->convert(*out, *bufferOf(tone, 44100.0)));
    EXPECT_NEAR(double(out->frameLength()), 48000.0, 2.0);
    std::span<const float> samples(out->channel(0), out->frameLength());
    EXPECT_NEAR(zeroCrossingFrequency(samples.subspan(100, 47000), 48000.0), 1000.0, 0.01);
    EXPECT_NEAR(toneAmplitude(samples.subspan(1000, 46000), 48000.0, 1000.0), 0.5, 0.005);
    EXPECT_NEAR(toneDelay(samples.subspan(1000, 46000), 48000.0, 1000.0, 1000.0), 0.0, 0.05)
        << "no added delay";
}

TEST(AudioConverter, RefusesBuffersThatDoNotFit) {
    EXPECT_FALSE(AudioConverter::make({0.0, 2, false}, {48000.0, 2, false}));
    auto converter = AudioConverter::make({48000.0, 2, false}, {48000.0, 2, false});
    auto small = PcmBuffer::make({48000.0, 2, false}, 10);
    EXPECT_TRUE(converter->convert(*small, *bufferOf(std::vector<float>(20, 0.1f), 48000.0)));
    auto wrong = PcmBuffer::make({44100.0, 2, false}, 100);
    EXPECT_TRUE(converter->convert(*wrong, *bufferOf(std::vector<float>(20, 0.1f), 48000.0)));
}

}  // namespace
}  // namespace kestio::test
