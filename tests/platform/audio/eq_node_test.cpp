#include "platform/audio/eq_node.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "engine_rig.h"
#include "platform/audio/peaking_filter.h"
#include "support/signal_analysis.h"

namespace kestio::test {
namespace {

using platform::audio::AudioFormat;
using platform::audio::BiquadCoefficients;
using platform::audio::EQBand;
using platform::audio::EQNode;

constexpr float kCentres[] = {80.0f, 315.0f, 800.0f, 1250.0f, 2500.0f, 3200.0f};

// A player feeding a six-band EQ (1 octave each, 0 dB) feeding the main mixer.
struct EqRig {
    explicit EqRig(double rate = 48000.0) : rig(rate, 2), link{rate, 2, false} {
        player = rig.makePlayer();
        eq = std::make_shared<EQNode>(6);
        for (int b = 0; b < 6; ++b) {
            eq->setBand(b, EQBand{EQBand::FilterType::Parametric, kCentres[b], 1.0f, 0.0f, false});
        }
        rig.engine.attach(eq);
        EXPECT_FALSE(rig.engine.connect(player, eq, link));
        EXPECT_FALSE(rig.engine.connect(eq, rig.engine.mainMixerNode(), link));
        EXPECT_FALSE(rig.engine.start());
        player->play();
    }

    // The gain in dB of a steady tone at `frequency` through the EQ.
    double measureGainDb(double frequency) {
        const double rate = link.sampleRate;
        const auto frames = std::size_t(rate * 1.5);
        player->scheduleBuffer(bufferOf(sineWave(frequency, rate, frames, 0.25), rate));
        rig.device->clearCaptured();
        rig.pull(uint32_t(frames));
        // Skip the filter's settling; measure over about a second of whole periods.
        const auto from = std::size_t(rate * 0.4);
        const auto count = std::size_t(std::floor(frequency) * rate / frequency);
        const double amplitude =
            toneAmplitude(rig.channel(0).subspan(from, count), rate, frequency);
        return 20.0 * std::log10(amplitude / 0.25);
    }

    EngineRig rig;
    AudioFormat link;
    std::shared_ptr<platform::audio::AudioPlayerNode> player;
    std::shared_ptr<EQNode> eq;
};

TEST(EQNode, EachBandHasItsGainAtItsCentre) {
    for (double rate : {48000.0, 44100.0}) {
        EqRig eqRig(rate);
        for (int b = 0; b < 6; ++b) {
            for (float gain : {12.0f, -9.0f}) {
                EQBand band = eqRig.eq->band(b);
                band.gain = gain;
                eqRig.eq->setBand(b, band);
                EXPECT_NEAR(eqRig.measureGainDb(kCentres[b]), gain, 0.1)
                    << kCentres[b] << " Hz at " << gain << " dB, " << rate << " Hz";
                band.gain = 0.0f;
                eqRig.eq->setBand(b, band);
            }
        }
    }
}

TEST(EQNode, AtZeroDecibelsOrBypassedItChangesNothing) {
    EqRig eqRig;
    std::mt19937 random(7);
    std::uniform_real_distribution<float> noise(-0.9f, 0.9f);
    std::vector<float> signal(20000);
    for (auto& s : signal) {
        s = noise(random);
    }
    eqRig.player->scheduleBuffer(bufferOf(signal, 48000.0));
    eqRig.rig.pull(20000);
    EXPECT_EQ(std::vector<float>(eqRig.rig.channel(0).begin(), eqRig.rig.channel(0).end()), signal);

    for (int b = 0; b < 6; ++b) {
        eqRig.eq->setBand(b,
                          EQBand{EQBand::FilterType::Parametric, kCentres[b], 1.0f, 12.0f, true});
    }
    eqRig.rig.device->clearCaptured();
    eqRig.player->scheduleBuffer(bufferOf(signal, 48000.0));
    eqRig.rig.pull(20000);
    EXPECT_EQ(std::vector<float>(eqRig.rig.channel(1).begin(), eqRig.rig.channel(1).end()), signal);
}

TEST(EQNode, AGainChangeKeepsTheFilterRunningSmoothly) {
    EqRig eqRig;
    const auto tone = sineWave(1250.0, 48000.0, 48000, 0.25);
    EQBand band = eqRig.eq->band(3);
    band.gain = 12.0f;
    eqRig.eq->setBand(3, band);
    eqRig.player->scheduleBuffer(bufferOf(tone, 48000.0));
    eqRig.rig.pull(24000);
    band.gain = 0.0f;
    eqRig.eq->setBand(3, band);
    eqRig.rig.pull(24000);

    const auto out = eqRig.rig.channel(0);
    // No step at the change: the largest slope change stays that of the louder tone.
    const double louder = 0.25 * std::pow(10.0, 12.0 / 20.0);
    EXPECT_LT(largestSecondDifference(out),
              louder * std::pow(2.0 * M_PI * 1250.0 / 48000.0, 2) * 1.5);
    // And the filter's memory dies away: back to the plain tone.
    double worst = 0.0;
    for (std::size_t n = 36000; n < 48000; ++n) {
        worst = std::max(worst, double(std::abs(out[n] - tone[n])));
    }
    EXPECT_LT(worst, 1e-4);
}

TEST(EQNode, BandsOutsideTheRangeAreIgnored) {
    EQNode eq(2);
    EXPECT_EQ(eq.bandCount(), 2);
    eq.setBand(5, EQBand{EQBand::FilterType::Parametric, 100.0f, 1.0f, 3.0f, false});
    eq.setBand(0, EQBand{EQBand::FilterType::Parametric, NAN, 1.0f, 3.0f, false});
    EXPECT_EQ(eq.band(0), EQBand{});
    EXPECT_EQ(eq.band(5), EQBand{});
}

TEST(PeakingFilter, FollowsTheCookbookFormula) {
    // w0 = 2π·1000/48000, A = 10^(6/40), alpha = sin w0 · sinh(ln2/2 · 1 · w0 / sin w0).
    const double w0 = 2.0 * M_PI * 1000.0 / 48000.0;
    const double a = std::pow(10.0, 6.0 / 40.0);
    const double alpha = std::sin(w0) * std::sinh(std::log(2.0) / 2.0 * w0 / std::sin(w0));
    const auto k = BiquadCoefficients::peaking(48000.0, 1000.0, 1.0, 6.0);
    const double a0 = 1.0 + alpha / a;
    EXPECT_DOUBLE_EQ(k.b0, (1.0 + alpha * a) / a0);
    EXPECT_DOUBLE_EQ(k.b1, -2.0 * std::cos(w0) / a0);
    EXPECT_DOUBLE_EQ(k.a2, (1.0 - alpha / a) / a0);
    EXPECT_NEAR(k.responseDb(48000.0, 1000.0), 6.0, 1e-9);
    // The band edges (half the gain in dB) lie an octave apart.
    EXPECT_NEAR(k.responseDb(48000.0, 1000.0 / std::sqrt(2.0)), 3.0, 0.15);
    EXPECT_NEAR(k.responseDb(48000.0, 1000.0 * std::sqrt(2.0)), 3.0, 0.15);
}

}  // namespace
}  // namespace kestio::test
