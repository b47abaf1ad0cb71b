// The slot audio chain on a null device: its wiring, what rate, equaliser and level do to the
// sound heard, seeking, looping and the meter.

#include "output/audio_engine_controller.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "chain_rig.h"
#include "platform/audio/eq_node.h"
#include "platform/audio/mixer_node.h"
#include "platform/audio/time_pitch_node.h"
#include "platform/runloop/console.h"

namespace kestio::test {
namespace {

using platform::Console;
using platform::audio::AudioFormat;

constexpr double kRate = 48000.0;

// A chain with a 4 s file loaded: left channel a ramp (frame n holds n / 2^20) so that a
// rendered sample names its frame, right channel a 1 kHz tone.
struct LoadedChain : ::testing::Test {
    void SetUp() override {
        std::vector<float> ramp(std::size_t(4 * kRate));
        for (std::size_t n = 0; n < ramp.size(); ++n) {
            ramp[n] = float(double(n) / 1048576.0);
        }
        const auto path = writeSound(folder, "clip.caf",
                                     {ramp, sineWave(1000.0, kRate, ramp.size(), 0.25)}, kRate);
        rig.load(chain, path, 0.0);
        ASSERT_TRUE(chain.isReady());
    }
    static float frameValue(int64_t frame) { return float(double(frame) / 1048576.0); }

    TemporaryFolder folder;
    ChainRig rig;
    AudioEngineController& chain = rig.addChain("A");
};

TEST(AudioEngineControllerWiring, ConnectsThroughEffectsOrStraightToTheMixer) {
    ChainRig rig;
    auto& chain = rig.addChain("A");
    const AudioFormat first{48000.0, 2, false};
    EXPECT_EQ(chain.currentFormat(), first);
    EXPECT_EQ(chain.playerNode()->outputFormat(0), first);
    EXPECT_EQ(chain.timePitchNode()->outputFormat(0), first);
    EXPECT_EQ(chain.eqNode()->outputFormat(0), first);
    EXPECT_EQ(chain.eqNode()->bandCount(), 6);
    for (int i = 0; i < 6; ++i) {
        const auto band = chain.eqNode()->band(i);
        EXPECT_EQ(band.frequency, AudioEngineController::kBandFrequencies[std::size_t(i)]);
        EXPECT_EQ(band.bandwidth, 1.0f);
        EXPECT_EQ(band.gain, 0.0f);
        EXPECT_FALSE(band.bypass);
    }

    // For a clip of six channels at 44.1 kHz, without effects: the player goes straight to the
    // mixer, still in the engine's format.
    const AudioFormat six{44100.0, 6, false};
    chain.connectGraph(six, false);
    EXPECT_EQ(chain.currentFormat(), six);
    EXPECT_EQ(chain.linkFormat(), rig.engine.outputFormat());
    EXPECT_EQ(chain.playerNode()->outputFormat(0), rig.engine.outputFormat());
    EXPECT_EQ(chain.timePitchNode()->outputFormat(0).channelCount, 0u) << "left unconnected";
    EXPECT_EQ(chain.eqNode()->outputFormat(0).channelCount, 0u);
    EXPECT_TRUE(rig.engine.isAttached(*chain.timePitchNode()));
    EXPECT_TRUE(rig.engine.isAttached(*chain.eqNode()));

    Console::Capture console;
    chain.connectGraph(AudioFormat{0.0, 2, false}, true);
    EXPECT_TRUE(console.contains("connect error [A]"));
    EXPECT_EQ(chain.currentFormat(), six) << "an invalid format changes nothing";
}

TEST(AudioEngineControllerWiring, DestructionDetachesTheChain) {
    ChainRig rig;
    const auto before = rig.engine.attachedNodes().size();
    {
        AudioEngineController chain(rig.loop, rig.engine, "B");
        EXPECT_EQ(rig.engine.attachedNodes().size(), before + 3);
    }
    EXPECT_EQ(rig.engine.attachedNodes().size(), before);
}

TEST(AudioEngineControllerWiring, AnEngineThatFailsToStartIsALogLine) {
    ChainRig rig;
    auto& chain = rig.addChain("B");
    Console::Capture console;
    rig.device->failNextStart("no device");
    chain.startEngineIfNeeded();
    EXPECT_TRUE(console.contains("engine start error [B]: no device"));
    EXPECT_FALSE(rig.engine.isRunning());
    chain.startEngineIfNeeded();
    EXPECT_TRUE(rig.engine.isRunning());
}

TEST_F(LoadedChain, AtRateOneWithFlatBandsTheSoundPassesBitForBit) {
    chain.setRate(1.0f);
    ChainRig::startSound(chain);
    rig.pull(48000);
    const auto heard = rig.channel(0);
    for (std::size_t n = 0; n < heard.size(); ++n) {
        ASSERT_EQ(heard[n], frameValue(int64_t(n))) << "frame " << n;
    }
}

TEST_F(LoadedChain, AtRateTwoTheSpanPassesTwiceAsFast) {
    chain.setRate(2.0f);
    ChainRig::startSound(chain);
    rig.pull(48000);
    // One second heard has taken about two seconds of the span, at the tone's own pitch.
    const auto tail = rig.channel(0, 47000, 1000);
    EXPECT_NEAR(tail[500] * 1048576.0, 2.0 * 47500.0, 2400.0);
    EXPECT_NEAR(zeroCrossingFrequency(rig.channel(1, 12000, 24000), kRate), 1000.0, 2.0);
}

TEST_F(LoadedChain, EqualiserBandsShapeTheSoundOnlyWhileConnected) {
    EqualizerSettings settings;
    settings.khz1_25 = 12.0f;  // the band nearest the 1 kHz tone
    chain.applyEqualizer(settings);
    EXPECT_EQ(chain.eqNode()->band(3).gain, 12.0f);
    ChainRig::startSound(chain);
    rig.pull(24000);
    const double boosted = rms(rig.channel(1, 12000, 9600));

    chain.connectGraph(AudioFormat{kRate, 2, false}, false);
    rig.pull(24000);
    const double flat = rms(rig.channel(1, 36000, 9600));
    EXPECT_NEAR(flat, 0.25 / std::sqrt(2.0), 1e-3);
    // A peaking band of 1 octave at 1250 Hz, +12 dB: about +9.5 dB at 1 kHz.
    EXPECT_GT(20.0 * std::log10(boosted / flat), 6.0);

    chain.connectGraph(AudioFormat{kRate, 2, false}, true);
    rig.pull(24000);
    EXPECT_NEAR(rms(rig.channel(1, 60000, 9600)), boosted, boosted * 0.01)
        << "the gains last set apply again";
}

struct LevelCase {
    const char* name;
    float gainDb;
    bool muted;
    double expectedGain;
    friend void PrintTo(const LevelCase& c, std::ostream* out) { *out << c.name; }
};

class ChainLevel : public LoadedChain, public ::testing::WithParamInterface<LevelCase> {};

const LevelCase kLevels[] = {
    {"Unity", 0.0f, false, 1.0},
    {"MinusSix", -6.0f, false, 0.501187},
    // Above 0 dB the sound is louder than the file: the mixer carries it in float.
    {"PlusSix", 6.0f, false, 1.995262},
    {"PlusTwelve", 12.0f, false, 3.981072},
    {"Muted", 0.0f, true, 0.0},
    {"AtTheSilentGain", -40.0f, false, 0.0},
    {"JustAboveIt", -39.9f, false, 0.010116},
    {"NotANumber", NAN, false, 0.0},
};

TEST_P(ChainLevel, ScalesTheSoundWhereItEntersTheMixer) {
    chain.setLevel(GetParam().gainDb, GetParam().muted);
    ChainRig::startSound(chain);
    rig.pull(24000);
    EXPECT_NEAR(rms(rig.channel(1, 4800, 9600)), GetParam().expectedGain * 0.25 / std::sqrt(2.0),
                1e-4);
    // The meter reads the player's own output, before the level.
    rig.waitFor([&] { return chain.channelLevels()[1] > -20.0f; });
    EXPECT_NEAR(chain.channelLevels()[1], 20.0 * std::log10(0.25 / std::sqrt(2.0)), 0.1);
    EXPECT_NEAR(chain.channelPeaks()[1], 20.0 * std::log10(0.25), 0.1);
    EXPECT_EQ(chain.channelLevels()[2], ChannelLevels::kSilenceDb);
}

INSTANTIATE_TEST_SUITE_P(Levels, ChainLevel, ::testing::ValuesIn(kLevels),
                         [](const auto& param) { return std::string(param.param.name); });

struct SeekCase {
    const char* name;
    double target;
    double offset;
    bool playingBefore;
    int64_t expectedFirstFrame;  // -1: the player stays stopped
    friend void PrintTo(const SeekCase& c, std::ostream* out) { *out << c.name; }
};

const SeekCase kSeeks[] = {
    {"IntoTheSpan", 2.5, 0.5, true, 96000}, {"BeforeTheSpanStart", 0.2, 0.5, true, 0},
    {"ToTheSpanEnd", 4.5, 0.5, true, -1},   {"BeyondTheEnd", 9.0, 0.5, true, -1},
    {"WhileStopped", 1.5, 0.5, false, -1},
};

class ChainSeek : public LoadedChain, public ::testing::WithParamInterface<SeekCase> {};

TEST_P(ChainSeek, RestartsAtThePositionInTheSpan) {
    const SeekCase& c = GetParam();
    ChainRig::startSound(chain);
    if (!c.playingBefore) {
        chain.playerNode()->stop();
    }
    rig.pull(4800);
    chain.seek(c.target, c.offset);
    EXPECT_EQ(chain.playerNode()->isPlaying(), c.expectedFirstFrame >= 0);
    rig.pull(4800);
    // What follows the stop's 5 ms fade.
    const auto after = rig.channel(0, 4800 + 480, 100);
    if (c.expectedFirstFrame < 0) {
        EXPECT_EQ(peak(after), 0.0);
    } else {
        EXPECT_EQ(after[0], frameValue(c.expectedFirstFrame + 480));
    }
}

INSTANTIATE_TEST_SUITE_P(Seeks, ChainSeek, ::testing::ValuesIn(kSeeks),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(AudioEngineControllerSeek, WithNothingLoadedAPlayingPlayerIsLeftAlone) {
    ChainRig rig;
    auto& chain = rig.addChain("A");
    TemporaryFolder folder;
    const auto path = writeSound(folder, "tone.caf", toneChannels(2, kRate, 1.0), kRate);
    chain.startEngineIfNeeded();
    chain.playerNode()->scheduleSegment(platform::audio::AudioFile::openForReading(path), 0, 48000);
    chain.playerNode()->play();
    chain.seek(0.5, 0.0);
    EXPECT_TRUE(chain.playerNode()->isPlaying());
    rig.pull(9600);
    EXPECT_GT(rms(rig.channel(0, 4800)), 0.1);
}

struct LoopLoad {
    const char* name;
    // The clip's own load before the loop's: to this end (none: the sound's end), and still
    // under way when the loop asks.
    std::optional<double> clipEnd;
    bool underWay;
    // The loop's sound: the same file or another, from `start` to `end`.
    bool sameFile;
    double start;
    std::optional<double> end;
    // The clip's load is kept (its open file serves the loop).
    bool kept;
};

class LoopSound : public LoadedChain, public ::testing::WithParamInterface<LoopLoad> {};

// A loop's sound comes from the clip's own load when that one opened the same file from the
// same start and reaches as far; anything else is loaded anew. Either way the loop is answered
// once, as the latest load, with the sound ready.
TEST_P(LoopSound, ComesFromTheClipsLoadWhenItCoversTheLoop) {
    const auto clip = folder.path() / "clip.caf";
    bool clipLoaded = false;
    chain.load(clip, 0.0, GetParam().clipEnd, [&](bool) { clipLoaded = true; });
    if (!GetParam().underWay) {
        rig.waitFor([&] { return clipLoaded; });
    }
    const auto loadedFile = chain.audioFile();
    const auto loop = GetParam().sameFile ? clip
                                          : writeSound(folder, "other.caf",
                                                       {std::vector<float>(48000, 0.5f)}, kRate);
    int answers = 0;
    bool latest = false;
    chain.loadForLoop(loop, GetParam().start, GetParam().end, [&](bool asLatest) {
        ++answers;
        latest = asLatest;
    });
    rig.waitFor([&] { return answers > 0; });
    rig.loop.runPending();
    EXPECT_EQ(answers, 1);
    EXPECT_TRUE(latest);
    EXPECT_TRUE(chain.isReady());
    if (!GetParam().underWay) {
        EXPECT_EQ(chain.audioFile() == loadedFile, GetParam().kept);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Loads, LoopSound,
    ::testing::Values(LoopLoad{"ToTheSoundsEnd", std::nullopt, false, true, 0.0, 1.5, true},
                      LoopLoad{"ToTheSameEnd", 1.5, false, true, 0.0, 1.5, true},
                      LoopLoad{"UnderWay", std::nullopt, true, true, 0.0, 1.5, true},
                      LoopLoad{"EndingBeforeTheLoop", 1.0, false, true, 0.0, 1.5, false},
                      LoopLoad{"FromAnotherStart", std::nullopt, false, true, 1.0, 1.5, false},
                      LoopLoad{"OfAnotherFile", std::nullopt, false, false, 0.0, 0.5, false}),
    [](const ::testing::TestParamInfo<LoopLoad>& param) { return param.param.name; });

TEST_F(LoadedChain, LoopPassesFollowEachOtherWithoutAGap) {
    // A span of 0.5 s from 1 s, looped for six seconds: every frame is where the loop says.
    rig.load(chain, folder.path() / "clip.caf", 1.0, 1.5);
    ASSERT_EQ(chain.fileTotalFrames(), 24000u);
    ChainRig::startSound(chain);
    chain.setLooping(true);
    chain.scheduleLoop();
    chain.scheduleLoop();  // a second call adds nothing
    rig.pull(6 * 48000);
    const auto heard = rig.channel(0);
    for (std::size_t n = 0; n < heard.size(); ++n) {
        ASSERT_EQ(heard[n], frameValue(48000 + int64_t(n % 24000))) << "frame " << n;
    }
}

TEST_F(LoadedChain, ASeekWhileLoopingIsFollowedByWholePasses) {
    rig.load(chain, folder.path() / "clip.caf", 1.0, 1.5);
    ChainRig::startSound(chain);
    chain.setLooping(true);
    chain.scheduleLoop();
    rig.pull(4800);
    chain.seek(1.25, 1.0);  // the middle of the span
    rig.pull(3 * 48000);
    const auto heard = rig.channel(0, 4800 + 480);
    for (std::size_t n = 0; n < heard.size(); ++n) {
        const int64_t expected = 48000 + int64_t((12000 + 480 + n) % 24000);
        ASSERT_EQ(heard[n], frameValue(expected)) << "frame " << n;
    }
}

TEST_F(LoadedChain, StopWhileLoopingSchedulesNoFurtherPass) {
    rig.load(chain, folder.path() / "clip.caf", 1.0, 1.5);
    ChainRig::startSound(chain);
    chain.setLooping(true);
    chain.scheduleLoop();
    rig.pull(24000);
    chain.stop();
    EXPECT_FALSE(chain.isLooping());
    chain.playerNode()->play();
    rig.pull(3 * 48000);
    EXPECT_EQ(peak(rig.channel(0, 24000 + 480)), 0.0) << "nothing left to play after the stop";
}

}  // namespace
}  // namespace kestio::test
