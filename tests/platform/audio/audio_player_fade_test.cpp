// A player that stops or pauses mid-waveform fades its sound out over 5 ms instead of cutting
// it: rendered on the null device and compared with the tone times a straight fade worked out
// here.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "engine_rig.h"
#include "support/signal_analysis.h"

namespace kestio::test {
namespace {

constexpr double kRate = 48000.0;
constexpr uint32_t kFade = 240;  // 5 ms
constexpr double kAmplitude = 0.8;
constexpr double kFrequency = 1000.0;

// The largest step between neighbouring samples that a sine of the tone's amplitude and
// frequency takes, plus what a straight fade over 5 ms adds.
double allowedStep() {
    return kAmplitude * 2.0 * M_PI * kFrequency / kRate + kAmplitude / kFade + 1e-6;
}

double largestStep(std::span<const float> samples) {
    double largest = 0.0;
    for (std::size_t i = 1; i < samples.size(); ++i) {
        largest = std::max(largest, double(std::abs(samples[i] - samples[i - 1])));
    }
    return largest;
}

struct Interruption {
    uint32_t at;  // frame at which the node is stopped or paused
    uint32_t block;
};

class PlayerFade : public ::testing::TestWithParam<Interruption> {};

// Stopped at a peak, at a crossing and in between, whatever the blocks: the tone runs on 5 ms
// at a straight fade from full level to nothing, and then there is silence.
TEST_P(PlayerFade, AStopFadesOutInsteadOfCutting) {
    const auto [at, block] = GetParam();
    EngineRig rig;
    auto player = rig.startedPlayer();
    const auto tone = sineWave(kFrequency, kRate, 48000, kAmplitude);
    player->scheduleBuffer(bufferOf(tone, kRate));
    player->play();
    rig.pull(at, block);
    player->stop();
    rig.pull(4800, block);

    const auto out = rig.channel(0);
    EXPECT_LE(largestStep(out), allowedStep());
    for (uint32_t i = 0; i < at + kFade; ++i) {
        const double fade = i < at ? 1.0 : double(kFade - (i - at)) / kFade;
        ASSERT_NEAR(out[i], tone[i] * fade, 1e-6) << "frame " << i;
    }
    EXPECT_EQ(peak(out.subspan(at + kFade)), 0.0) << "silent once the fade is over";
}

// Paused the same way: the fade, silence while paused, and on resuming the tone goes on from
// where the fade left it.
TEST_P(PlayerFade, APauseFadesOutAndResumesAfterTheFade) {
    const auto [at, block] = GetParam();
    EngineRig rig;
    auto player = rig.startedPlayer();
    const auto tone = sineWave(kFrequency, kRate, 48000, kAmplitude);
    player->scheduleBuffer(bufferOf(tone, kRate));
    player->play();
    rig.pull(at, block);
    player->pause();
    rig.pull(2000, block);
    EXPECT_NEAR(*player->playerTime(), (at + kFade) / kRate, 1e-9)
        << "the position moves on through the fade, then holds";
    player->play();
    rig.pull(2000, block);

    const auto out = rig.channel(0);
    for (uint32_t i = at; i < at + kFade; ++i) {
        ASSERT_NEAR(out[i], tone[i] * double(kFade - (i - at)) / kFade, 1e-6) << "frame " << i;
    }
    EXPECT_LE(largestStep(out.subspan(0, at + 2000)), allowedStep());
    EXPECT_EQ(peak(out.subspan(at + kFade, 2000 - kFade)), 0.0);
    const auto resumed = out.subspan(at + 2000);
    for (uint32_t i = 0; i < 2000; ++i) {
        ASSERT_EQ(resumed[i], tone[at + kFade + i]) << "resumed frame " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Interruptions, PlayerFade,
                         ::testing::Values(Interruption{3012, 1024},  // a peak
                                           Interruption{3024, 1024},  // a crossing
                                           Interruption{3017, 128},   // fade over blocks
                                           Interruption{2990, 4096}),
                         [](const auto& param) {
                             return std::to_string(param.param.at) + "_in_" +
                                    std::to_string(param.param.block);
                         });

// A tone resampled on its way (44.1 kHz into a 48 kHz link) fades out as smoothly.
TEST(PlayerFade, AResampledToneFadesOutAsSmoothly) {
    EngineRig rig;
    auto player = rig.startedPlayer();
    player->scheduleBuffer(bufferOf(sineWave(kFrequency, 44100.0, 44100, kAmplitude), 44100.0));
    player->play();
    rig.pull(5012, 1024);
    player->stop();
    rig.pull(4800, 1024);
    const auto out = rig.channel(0);
    EXPECT_GT(peak(out.subspan(4000, 1012)), 0.75);
    // No step larger than the converted tone's own (its level ripples a little) plus the fade's.
    EXPECT_LE(largestStep(out), largestStep(out.subspan(0, 5012)) + kAmplitude / kFade + 1e-6);
    EXPECT_EQ(peak(out.subspan(5012 + kFade)), 0.0);
}

}  // namespace
}  // namespace kestio::test
