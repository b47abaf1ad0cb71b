#include "platform/audio/stream_resampler.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "support/signal_analysis.h"

namespace kestio::test {
namespace {

using platform::audio::ResamplerTable;
using platform::audio::StreamResampler;

// Runs `input` through a resampler in blocks of `block` output frames, feeding exactly what it
// asks for; returns the output and counts the input it took.
std::vector<float> stream(const std::vector<float>& input, uint32_t from, uint32_t to,
                          uint32_t block, std::size_t outputFrames, std::size_t& consumed) {
    auto table = ResamplerTable::make(from, to);
    StreamResampler resampler(1, block, double(from) / to);
    resampler.setTable(table.get(), 1);
    std::vector<float> output(outputFrames);
    consumed = 0;
    std::vector<float> zeros(resampler.maxInputFrames(), 0.0f);
    for (std::size_t at = 0; at < outputFrames; at += block) {
        const auto n = uint32_t(std::min<std::size_t>(block, outputFrames - at));
        const uint32_t need = resampler.inputFramesFor(n);
        const float* in = consumed + need <= input.size() ? input.data() + consumed : zeros.data();
        float* out = output.data() + at;
        resampler.process(&in, need, &out, n);
        consumed += need;
    }
    return output;
}

TEST(StreamResampler, ConvertsWithoutDriftOrDelay) {
    struct Case {
        uint32_t from, to;
    };
    for (const Case c : {Case{44100, 48000}, Case{48000, 44100}, Case{96000, 48000},
                         Case{22050, 48000}, Case{48000, 48001}}) {
        const auto input = sineWave(1000.0, c.from, std::size_t(c.from) * 10, 0.5);
        std::size_t consumed = 0;
        const auto out = stream(input, c.from, c.to, 333, std::size_t(c.to) * 9, consumed);
        SCOPED_TRACE(std::to_string(c.from) + " -> " + std::to_string(c.to));
        // Nine seconds out took nine seconds in (plus the filter's look-ahead).
        EXPECT_NEAR(double(consumed), double(c.from) * 9 + ResamplerTable::kHalfWidth, 2.0);
        const std::span<const float> settled(out.begin() + 100, out.end());
        EXPECT_NEAR(zeroCrossingFrequency(settled, c.to), 1000.0, 0.001);
        EXPECT_NEAR(toneAmplitude(settled, c.to, 1000.0), 0.5, 0.5 * 0.001);
        EXPECT_NEAR(toneDelay(settled, c.to, 1000.0, 100.0), 0.0, 0.01);
    }
}

TEST(StreamResampler, KeepsContentBelowTheCutoffAndRemovesWhatWouldAlias) {
    // 18 kHz passes between 44.1 and 48 kHz both ways; 23 kHz at 48 kHz cannot exist at
    // 44.1 kHz and must go rather than fold back into the audible band.
    std::size_t consumed = 0;
    for (const auto& [from, to] : {std::pair{44100u, 48000u}, std::pair{48000u, 44100u}}) {
        const auto high =
            stream(sineWave(18000.0, from, from * 2, 0.5), from, to, 512, to, consumed);
        EXPECT_NEAR(toneAmplitude(std::span(high).subspan(1000, 40000), to, 18000.0), 0.5,
                    0.5 * 0.012)
            << from << " -> " << to;  // 0.1 dB
    }
    const auto alias =
        stream(sineWave(23000.0, 48000, 48000 * 2, 0.5), 48000, 44100, 512, 44100, consumed);
    EXPECT_LT(20.0 * std::log10(rms(std::span(alias).subspan(1000, 40000)) / 0.5), -70.0);
}

TEST(StreamResampler, RefusesRatiosBeyondItsRange) {
    EXPECT_FALSE(ResamplerTable::make(768000, 8000));
    EXPECT_FALSE(ResamplerTable::make(0, 48000));
    auto table = ResamplerTable::make(96000, 48000);
    StreamResampler narrow(2, 256, 1.1);  // made for ratios up to 1.1
    narrow.setTable(table.get(), 2);
    EXPECT_EQ(narrow.table(), nullptr);
    EXPECT_EQ(narrow.inputFramesFor(256), 0u);
}

}  // namespace
}  // namespace kestio::test
