#include "output/channel_levels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "platform/audio/pcm_buffer.h"

namespace kestio::test {
namespace {

using platform::audio::AudioFormat;
using platform::audio::PcmBuffer;

// A buffer of `channels` channels whose channel c, frame n holds sample(c, n).
std::shared_ptr<PcmBuffer> makeBuffer(uint32_t channels, uint32_t frames,
                                      const std::function<float(uint32_t, uint32_t)>& sample) {
    auto buffer = PcmBuffer::make(AudioFormat{48000.0, channels, false}, frames);
    buffer->setFrameLength(frames);
    for (uint32_t c = 0; c < channels; ++c) {
        for (uint32_t n = 0; n < frames; ++n) {
            buffer->channel(c)[n] = sample(c, n);
        }
    }
    return buffer;
}

struct MeterCase {
    const char* name;
    uint32_t channels;
    std::function<float(uint32_t, uint32_t)> sample;
    // Expected level and peak of channel c; the floor for channels beyond the measured ones.
    std::function<std::pair<float, float>(uint32_t)> expected;
    friend void PrintTo(const MeterCase& c, std::ostream* out) { *out << c.name; }
};

constexpr float kFloor = ChannelLevels::kSilenceDb;
const double kPi = std::acos(-1.0);

const MeterCase kCases[] = {
    {"DigitalSilence", 2, [](uint32_t, uint32_t) { return 0.0f; },
     [](uint32_t) {
         return std::pair{kFloor, kFloor};
     }},
    {"FullScaleSquare", 2, [](uint32_t, uint32_t n) { return n % 2 ? 1.0f : -1.0f; },
     [](uint32_t c) {
         return c < 2 ? std::pair{0.0f, 0.0f} : std::pair{kFloor, kFloor};
     }},
    // 1 kHz at 48 kHz: 48 samples a period, 1024 frames hold no whole number of periods, so
    // the RMS is a little off -3.01 dB; the tolerance below allows for it.
    {"FullScaleSine", 1,
     [](uint32_t, uint32_t n) {
         return float(std::sin(2.0 * kPi * (n + 0.25) * 1000.0 / 48000.0));
     },
     [](uint32_t c) {
         return c == 0 ? std::pair{-3.0103f, 0.0f} : std::pair{kFloor, kFloor};
     }},
    {"HalfScaleOnTheSecondOnly", 3, [](uint32_t c, uint32_t) { return c == 1 ? -0.5f : 0.0f; },
     [](uint32_t c) {
         return c == 1 ? std::pair{-6.0206f, -6.0206f} : std::pair{kFloor, kFloor};
     }},
    // Ten channels, each at its own level: only the first eight are measured.
    {"TenChannels", 10, [](uint32_t c, uint32_t) { return 0.05f * float(c + 1); },
     [](uint32_t c) {
         const float db = 20.0f * std::log10(0.05f * float(c + 1));
         return std::pair{db, db};
     }},
    // Far below the floor: still the floor, never lower.
    {"BelowTheFloor", 1, [](uint32_t, uint32_t) { return 1e-9f; },
     [](uint32_t) {
         return std::pair{kFloor, kFloor};
     }},
};

class ChannelLevelsMeasure : public ::testing::TestWithParam<MeterCase> {};

TEST_P(ChannelLevelsMeasure, GivesEightLevelsAndPeaks) {
    const MeterCase& c = GetParam();
    const auto levels = measureChannelLevels(*makeBuffer(c.channels, 1024, c.sample));
    for (uint32_t ch = 0; ch < ChannelLevels::kChannels; ++ch) {
        const auto [level, peak] = c.expected(ch);
        EXPECT_NEAR(levels.levels[ch], level, 0.02) << "level of channel " << ch + 1;
        EXPECT_NEAR(levels.peaks[ch], peak, 0.01) << "peak of channel " << ch + 1;
        EXPECT_TRUE(std::isfinite(levels.levels[ch]) && std::isfinite(levels.peaks[ch]));
    }
}

INSTANTIATE_TEST_SUITE_P(Buffers, ChannelLevelsMeasure, ::testing::ValuesIn(kCases),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(ChannelLevels, AnEmptyOrInterleavedBufferMeasuresNothing) {
    auto empty = makeBuffer(2, 16, [](uint32_t, uint32_t) { return 1.0f; });
    empty->setFrameLength(0);
    EXPECT_EQ(measureChannelLevels(*empty), ChannelLevels{});

    auto interleaved = PcmBuffer::make(AudioFormat{48000.0, 2, true}, 16);
    interleaved->setFrameLength(16);
    std::fill(interleaved->interleavedData(), interleaved->interleavedData() + 32, 1.0f);
    EXPECT_EQ(measureChannelLevels(*interleaved), ChannelLevels{});
}

}  // namespace
}  // namespace kestio::test
