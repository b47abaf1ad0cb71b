// Gain ramps where a player's chain enters the main mixer, rendered on the null device and
// compared with a constant tone times the ramp worked out here in closed form.

#include "platform/audio/mixing_gain.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "engine_rig.h"
#include "support/signal_analysis.h"

namespace kestio::test {
namespace {

constexpr double kRate = 48000.0;

// The gain of frame `frame` for a ramp from `from` to `to` starting on frame `first` and
// lasting `length` frames.
double rampGain(double from, double to, double first, double length, double frame) {
    if (frame < first) {
        return from;
    }
    if (frame >= first + length) {
        return to;
    }
    return from + (to - from) * (frame - first) / length;
}

// Compares rendered frames with the expectation, reporting the first frame that differs.
void expectFrames(std::span<const float> out, const std::function<double(std::size_t)>& expected,
                  std::size_t count, const std::string& what) {
    ASSERT_GE(out.size(), count) << what;
    for (std::size_t i = 0; i < count; ++i) {
        ASSERT_NEAR(out[i], expected(i), 2e-6) << what << ": frame " << i;
    }
}

// A 1 kHz tone at 0.5 through a ramp started at a clock time: the frames before its first one
// keep the old gain, the first is at the old gain exactly, and the target holds from `length`
// frames on, whatever the blocks.
TEST(MixingGain, ARampBeginsOnTheFrameHeardAtItsTimeAndReachesItsTargetAfterItsDuration) {
    struct Case {
        uint32_t first;   // frame heard at the ramp's clock time
        uint32_t length;  // frames of the ramp
        uint32_t block;
        float from;
        float to;
    };
    for (const Case c : {Case{1000, 4800, 1024, 1.0f, 0.0f}, Case{700, 240, 1024, 0.2f, 0.9f},
                         Case{4096, 9600, 4096, 0.5f, 1.0f}, Case{1500, 48000, 480, 1.0f, 0.25f},
                         Case{333, 1, 128, 0.0f, 1.0f}}) {
        const std::string what = "ramp at frame " + std::to_string(c.first) + " over " +
                                 std::to_string(c.length) + " in blocks of " +
                                 std::to_string(c.block);
        EngineRig rig;
        auto player = rig.startedPlayer();
        const uint32_t total = c.first + c.length + 2000;
        const auto tone = sineWave(1000.0, kRate, total, 0.5);
        player->scheduleBuffer(bufferOf(tone, kRate));
        player->setVolume(c.from);
        player->rampVolume(c.to, c.length / kRate, platform::ClockTime(c.first / kRate));
        EXPECT_EQ(player->volume(), c.to);
        player->play();
        rig.pull(total, c.block);
        for (uint32_t channel = 0; channel < 2; ++channel) {
            expectFrames(
                rig.channel(channel),
                [&](std::size_t i) {
                    return tone[i] * rampGain(c.from, c.to, c.first, c.length, double(i));
                },
                total, what);
        }
    }
}

// Two players, each with its own ramps at its own times: the mix is the sum of each tone times
// its own ramp.
TEST(MixingGain, RampsOnTwoSourcesAreIndependent) {
    EngineRig rig;
    auto low = rig.startedPlayer();
    auto high = rig.makePlayer();
    ASSERT_FALSE(rig.engine.connect(high, rig.engine.mainMixerNode(), rig.device->renderFormat()));
    constexpr uint32_t kTotal = 12000;
    const auto lowTone = sineWave(500.0, kRate, kTotal, 0.4);
    const auto highTone = sineWave(3000.0, kRate, kTotal, 0.3);
    low->scheduleBuffer(bufferOf(lowTone, kRate));
    high->scheduleBuffer(bufferOf(highTone, kRate));
    low->rampVolume(0.0f, 2400 / kRate,
                    platform::ClockTime(1200 / kRate));  // out from frame 1200 to 3600
    high->setVolume(0.0f);
    high->rampVolume(1.0f, 4800 / kRate,
                     platform::ClockTime(2000 / kRate));  // in from frame 2000 to 6800
    low->play();
    high->play();
    rig.pull(kTotal, 512);
    expectFrames(
        rig.channel(0),
        [&](std::size_t i) {
            return lowTone[i] * rampGain(1.0, 0.0, 1200, 2400, double(i)) +
                   highTone[i] * rampGain(0.0, 1.0, 2000, 4800, double(i));
        },
        kTotal, "two sources");
}

// Ramps asked for out of order run in the order of their times; each starts from where the
// gain is at its first frame, even in the middle of another ramp. A step then cancels the ramps
// asked for before it and holds, and a ramp asked for after the step follows it.
TEST(MixingGain, RampsFollowTheirTimesAndAStepCancelsEarlierOnes) {
    EngineRig rig;
    auto player = rig.startedPlayer();
    constexpr uint32_t kTotal = 20000;
    const std::vector<float> level(kTotal, 0.8f);
    player->scheduleBuffer(bufferOf(level, kRate));
    player->rampVolume(1.0f, 1000 / kRate,
                       platform::ClockTime(3000 / kRate));  // asked first, runs second
    player->rampVolume(0.0f, 2000 / kRate,
                       platform::ClockTime(1000 / kRate));  // 1000-3000: 1 down to 0
    player->play();
    rig.pull(2000, 700);
    // Halfway through the first ramp to run: the second begins at 0.5.
    player->rampVolume(0.1f, 1000 / kRate, platform::ClockTime(2500 / kRate));
    rig.pull(6000, 700);
    // At frame 8000: the step cancels a ramp waiting for frame 9000 and holds from the next
    // block; the ramp asked for afterwards (at 10000) still runs.
    player->rampVolume(1.0f, 100 / kRate, platform::ClockTime(9000 / kRate));
    player->setVolume(0.5f);
    player->rampVolume(0.0f, 4000 / kRate, platform::ClockTime(10000 / kRate));
    rig.pull(kTotal - 8000, 700);

    const auto gain = [](double i) {
        if (i < 2500) {
            return rampGain(1.0, 0.0, 1000, 2000, i);  // reaches 0.25 at 2500
        }
        if (i < 3000) {
            return rampGain(0.25, 0.1, 2500, 1000, i);  // reaches 0.175 at 3000
        }
        if (i < 8000) {
            return rampGain(0.175, 1.0, 3000, 1000, i);  // the one asked for first
        }
        return rampGain(0.5, 0.0, 10000, 4000, i);
    };
    expectFrames(
        rig.channel(0), [&](std::size_t i) { return 0.8 * gain(double(i)); }, kTotal,
        "ramps and a step");
}

// Requests while the engine does not run wait for it; more than the queue holds leaves the gain
// at the newest target rather than losing it.
TEST(MixingGain, RequestsWaitForAStoppedEngineAndOverflowSetsTheTarget) {
    platform::audio::MixingGain gain(1.0f);
    for (int i = 0; i < 200; ++i) {
        gain.ramp(float(i % 2), 1.0, 100.0 + i);  // far ahead, more than fit
    }
    gain.ramp(0.125f, 1.0, 1000.0);
    EXPECT_EQ(gain.target(), 0.125f);
    std::vector<float> gains(256);
    float constant = -1.0f;
    ASSERT_TRUE(gain.render(0.0, kRate, 256, gains.data(), constant));
    EXPECT_EQ(constant, 0.125f) << "the overflow became a step to the newest target";
}

// A gain above one boosts (the mix is float; what leaves for the device is clipped there); a
// negative gain or one that is not a number silences; both for steps and for ramps.
TEST(MixingGain, KeepsGainsAboveOneAndSilencesNegativeOrNonFiniteOnes) {
    struct Case {
        float asked;
        float kept;
    };
    for (const Case c : {Case{2.0f, 2.0f}, Case{3.981072f, 3.981072f}, Case{1.0f, 1.0f},
                         Case{-0.5f, 0.0f}, Case{INFINITY, 0.0f}, Case{NAN, 0.0f}}) {
        const std::string what = "gain " + std::to_string(c.asked);
        platform::audio::MixingGain stepped(0.5f);
        stepped.set(c.asked);
        EXPECT_EQ(stepped.target(), c.kept) << what;
        std::vector<float> gains(256);
        float constant = -1.0f;
        ASSERT_TRUE(stepped.render(0.0, kRate, 256, gains.data(), constant)) << what;
        EXPECT_EQ(constant, c.kept) << what;

        platform::audio::MixingGain ramped(0.5f);
        ramped.ramp(c.asked, 128 / kRate, 0.0);
        EXPECT_FALSE(ramped.render(0.0, kRate, 256, gains.data(), constant)) << what;
        EXPECT_NEAR(gains[64], 0.5 + (c.kept - 0.5) * 0.5, 1e-5) << what;
        EXPECT_EQ(gains[200], c.kept) << what;
    }
}

}  // namespace
}  // namespace kestio::test
