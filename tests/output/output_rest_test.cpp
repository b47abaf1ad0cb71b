// The output's rest against every change that may make sound heard: each change made while the
// output rests (a second and more with nothing to play) and while it is awake, on a null device
// that rests as the real one does. What is heard must follow from the change alone: the cue
// from its first sample on, at its position and level, whatever the output did before.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "chain_rig.h"
#include "output/test_tone.h"
#include "platform/audio/audio_engine.h"
#include "support/signal_analysis.h"
#include "support/temporary_folder.h"

namespace kestio::test {
namespace {

using platform::audio::AudioEngine;

constexpr double kRate = 48000.0;
constexpr uint32_t kBlock = 480;

// The left channel's frame n holds n / 2^20, so a sample heard names the frame it came from.
float frameValue(int64_t frame) {
    return float(double(frame) / 1048576.0);
}

struct OutputRest : ::testing::Test {
    void SetUp() override {
        std::vector<float> ramp(std::size_t(3 * kRate));
        for (std::size_t n = 0; n < ramp.size(); ++n) {
            ramp[n] = frameValue(int64_t(n));
        }
        path = writeSound(folder, "cue.caf", {ramp, sineWave(1000.0, kRate, ramp.size(), 0.25)},
                          kRate);
        rig.device->restWhenAllowed(true);
        ASSERT_FALSE(rig.engine.start());  // as the output starts with the program
    }
    void idle(double seconds) { rig.pull(uint32_t(seconds * kRate), kBlock); }
    std::size_t now() const {
        const auto& heard = rig.device->captured();
        return heard.empty() ? 0 : heard[0].size();
    }
    // The frames heard from `from` on are the cue's frames from `frame` on, at `gain`.
    void expectCue(std::size_t from, int64_t frame, double gain, std::size_t count) {
        const auto heard = rig.channel(0, from, count);
        ASSERT_EQ(heard.size(), count) << "not rendered";
        for (std::size_t k = 0; k < count; ++k) {
            ASSERT_NEAR(heard[k], gain * frameValue(frame + int64_t(k)), 1e-6)
                << "frame " << k << " after the change";
        }
    }

    TemporaryFolder folder;
    std::filesystem::path path;
    ChainRig rig;
    AudioEngineController& chain = rig.addChain("A");
};

struct WakeRow {
    const char* name;
    // Makes the change after `idle` seconds of the output with nothing heard.
    std::function<void(OutputRest&, double idle)> run;
};

struct WakeCase {
    WakeRow row;
    bool resting;
    friend void PrintTo(const WakeCase& c, std::ostream* out) {
        *out << c.row.name << (c.resting ? " resting" : " awake");
    }
};

class OutputWakes : public OutputRest, public ::testing::WithParamInterface<WakeCase> {};

const WakeRow kRows[] = {
    {"FirstCue",
     [](OutputRest& t, double idle) {
         t.rig.load(t.chain, t.path, 0.0);
         t.idle(idle);
         const std::size_t fired = t.now();
         ChainRig::startSound(t.chain);
         t.idle(0.2);
         t.expectCue(fired, 0, 1.0, std::size_t(0.2 * kRate));
     }},
    {"StoodByCueTaken",
     [](OutputRest& t, double idle) {
         t.rig.load(t.chain, t.path, 0.5);
         t.chain.playerNode()->scheduleSegment(t.chain.audioFile(), t.chain.fileStartFrame(),
                                               t.chain.fileTotalFrames());
         t.idle(idle);
         const std::size_t taken = t.now();
         t.chain.playerNode()->play();
         t.idle(0.2);
         t.expectCue(taken, int64_t(0.5 * kRate), 1.0, std::size_t(0.2 * kRate));
     }},
    // A cue fired muted plays on unheard: unmuted, it is heard where it is by then.
    {"Unmute",
     [](OutputRest& t, double idle) {
         t.rig.load(t.chain, t.path, 0.0);
         t.chain.setLevel(0.0f, true);
         const std::size_t fired = t.now();
         ChainRig::startSound(t.chain);
         t.idle(idle);
         t.chain.setLevel(0.0f, false);
         t.idle(AudioEngineController::kLevelRampSeconds + 0.1);
         const std::size_t from = t.now() - std::size_t(0.1 * kRate);
         t.expectCue(from, int64_t(from - fired), 1.0, std::size_t(0.1 * kRate));
     }},
    {"LevelFromTheBottom",
     [](OutputRest& t, double idle) {
         t.rig.load(t.chain, t.path, 0.0);
         t.chain.setLevel(AudioEngineController::kSilentGainDb - 20.0f, false);
         const std::size_t fired = t.now();
         ChainRig::startSound(t.chain);
         t.idle(idle);
         t.chain.setLevel(-6.0f, false);
         t.idle(AudioEngineController::kLevelRampSeconds + 0.1);
         const std::size_t from = t.now() - std::size_t(0.1 * kRate);
         t.expectCue(from, int64_t(from - fired), std::pow(10.0, -6.0 / 20.0),
                     std::size_t(0.1 * kRate));
     }},
    {"EqualiserThenUnmute",
     [](OutputRest& t, double idle) {
         t.rig.load(t.chain, t.path, 0.0);
         t.chain.setLevel(0.0f, true);
         ChainRig::startSound(t.chain);
         t.idle(idle);
         EqualizerSettings boost;
         boost.khz1_25 = 12.0f;
         t.chain.applyEqualizer(boost);
         t.chain.setLevel(0.0f, false);
         t.idle(0.2);
         // A +12 dB band at 1.25 kHz lifts the 1 kHz tone by about 9.5 dB.
         const double level = rms(t.rig.channel(1, t.now() - 9600, 9600));
         EXPECT_GT(20.0 * std::log10(level / (0.25 / std::sqrt(2.0))), 6.0);
     }},
    {"TestTone",
     [](OutputRest& t, double idle) {
         output::TestToneGenerator tone;
         t.idle(idle);
         const std::size_t on = t.now();
         tone.start(t.rig.engine, -20.0);
         t.idle(0.1);
         EXPECT_NEAR(rms(t.rig.channel(1, on, 4800)), 0.1 / std::sqrt(2.0), 0.002)
             << "the tone from its first block on";
         tone.stop(t.rig.engine);
     }},
    // Every pass of a loop follows the last one at once, frame for frame: the heard frames
    // count the passes exactly.
    {"LoopPasses",
     [](OutputRest& t, double idle) {
         t.rig.load(t.chain, t.path, 0.25, 0.5);
         const auto pass = int64_t(t.chain.fileTotalFrames());
         ASSERT_EQ(pass, int64_t(0.25 * kRate));
         t.idle(idle);
         const std::size_t fired = t.now();
         t.chain.startEngineIfNeeded();
         t.chain.setLooping(true);
         t.chain.scheduleLoop();
         t.chain.playerNode()->play();
         t.idle(3.0);
         const auto heard = t.rig.channel(0, fired);
         for (std::size_t k = 0; k < std::size_t(3.0 * kRate); ++k) {
             ASSERT_EQ(heard[k], frameValue(int64_t(0.25 * kRate) + int64_t(k) % pass))
                 << "frame " << k << ", pass " << int64_t(k) / pass;
         }
     }},
};

TEST_P(OutputWakes, TheChangeIsHeardFromItsFirstSampleDue) {
    const WakeCase& c = GetParam();
    const double idle = c.resting ? AudioEngine::kRestAfterSeconds + 1.0 : 0.3;
    c.row.run(*this, idle);
}

std::vector<WakeCase> wakeCases() {
    std::vector<WakeCase> cases;
    for (const WakeRow& row : kRows) {
        cases.push_back({row, true});
        cases.push_back({row, false});
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Changes, OutputWakes, ::testing::ValuesIn(wakeCases()),
                         [](const auto& param) {
                             return std::string(param.param.row.name) +
                                    (param.param.resting ? "_Resting" : "_Awake");
                         });

// The output rests while nothing plays, whatever the rate of the device against the rate of
// the chains: after a cue at another rate too, and again after every cue.
TEST_F(OutputRest, RestsAfterEveryCueWhateverTheDeviceRate) {
    for (const double deviceRate : {kRate, 44100.0, kRate}) {
        rig.load(chain, path, 0.0, 0.3);
        rig.device->changeTo(deviceRate, 2);  // after the chain was wired: the mixer converts
        ChainRig::startSound(chain);
        rig.pull(kBlock * 4, kBlock);
        EXPECT_FALSE(rig.device->resting()) << "at rest while a cue plays, at " << deviceRate;
        rig.pull(uint32_t((0.3 + AudioEngine::kRestAfterSeconds + 0.1) * deviceRate), kBlock);
        EXPECT_TRUE(rig.device->resting()) << "no rest after a cue at " << deviceRate << " Hz";
    }
}

}  // namespace
}  // namespace kestio::test
