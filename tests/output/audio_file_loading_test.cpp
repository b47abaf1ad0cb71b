// Loading a clip's sound into a slot chain: the span, the channels streamed, the sound of
// video files, overlapping loads, and media that is wrong or goes away; then playing what was
// loaded, measured on the null device's output.

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "chain_rig.h"
#include "platform/runloop/console.h"
#include "support/media_fixtures.h"
#include "support/process_runner.h"

namespace kestio::test {
namespace {

using platform::Console;
using platform::audio::AudioFormat;

constexpr double kRate = 48000.0;

struct SpanCase {
    const char* name;
    double start;
    std::optional<double> end;
    bool ready;
    int64_t startFrame;
    uint64_t frames;
    friend void PrintTo(const SpanCase& c, std::ostream* out) { *out << c.name; }
};

const SpanCase kSpans[] = {
    {"WholeSound", 0.0, std::nullopt, true, 0, 192000},
    {"NegativeStartCountsAsZero", -1.0, 1.0, true, 0, 48000},
    {"EndBeyondTheSoundIsClamped", 1.0, 10.0, true, 48000, 144000},
    {"NoEndTakesTheSoundToItsEnd", 1.5, std::nullopt, true, 72000, 120000},
    {"FramesAreTruncated", 0.00001, 0.99999, true, 0, 47999},
    {"EndAtTheStart", 2.0, 2.0, false, 0, 0},
    {"EndBeforeTheStart", 3.0, 1.0, false, 0, 0},
    {"StartBeyondTheEnd", 5.0, std::nullopt, false, 0, 0},
    {"StartNotANumber", NAN, 0.5, true, 0, 24000},
    {"EndInfinite", 3.0, INFINITY, true, 144000, 48000},
};

class LoadSpan : public ::testing::TestWithParam<SpanCase> {};

TEST_P(LoadSpan, CoversTheSoundBetweenStartAndEnd) {
    const SpanCase& c = GetParam();
    TemporaryFolder folder;
    const auto path = writeSound(folder, "four.caf", toneChannels(2, kRate, 4.0), kRate);
    ChainRig rig;
    auto& chain = rig.addChain("A");
    rig.load(chain, path, c.start, c.end);
    EXPECT_TRUE(chain.loadFinished());
    EXPECT_TRUE(chain.hasAudio());
    EXPECT_EQ(chain.isReady(), c.ready);
    EXPECT_EQ(chain.audioFile() != nullptr, c.ready);
    EXPECT_EQ(chain.fileTotalFrames(), c.frames);
    if (c.ready) {
        EXPECT_EQ(chain.fileStartFrame(), c.startFrame);
        EXPECT_EQ(chain.fileChannelCount(), 2u);
    }
}

INSTANTIATE_TEST_SUITE_P(Spans, LoadSpan, ::testing::ValuesIn(kSpans),
                         [](const auto& param) { return std::string(param.param.name); });

struct ChannelCase {
    const char* name;
    uint32_t sourceChannels;
    uint32_t outputChannels;  // of the chain's connection
    uint32_t streamed;
    bool downmixLine;
    friend void PrintTo(const ChannelCase& c, std::ostream* out) { *out << c.name; }
};

const ChannelCase kChannels[] = {
    {"SixOnTwo", 6, 2, 2, true},
    {"SixOnEight", 6, 8, 6, false},
    {"MonoOnTwo", 1, 2, 1, false},
    {"StereoOnTwo", 2, 2, 2, false},
};

class LoadChannels : public ::testing::TestWithParam<ChannelCase> {};

TEST_P(LoadChannels, StreamsNoMoreChannelsThanTheConnectionCarries) {
    const ChannelCase& c = GetParam();
    TemporaryFolder folder;
    const auto path =
        writeSound(folder, "many.caf", toneChannels(c.sourceChannels, kRate, 1.0), kRate);
    ChainRig rig;
    auto& chain = rig.addChain("B");
    chain.connectGraph(AudioFormat{kRate, c.outputChannels, false}, c.outputChannels <= 2);
    Console::Capture console;
    rig.load(chain, path, 0.0);
    ASSERT_TRUE(chain.isReady());
    EXPECT_EQ(chain.fileChannelCount(), c.streamed);
    EXPECT_EQ(chain.audioFile()->processingFormat().channelCount, c.streamed);
    EXPECT_TRUE(console.contains("audio load [B]: 48000 frames at 48000.0Hz (streaming) ch=" +
                                 std::to_string(c.streamed)));
    EXPECT_EQ(console.contains("ch→2ch ダウンミックス (ch1/2)"), c.downmixLine);

    // Heard: the source's first channel on the left, its second (or the first again) on the
    // right; when two channels are streamed from more, nothing of the third.
    ChainRig::startSound(chain);
    rig.pull(24000);
    const auto left = rig.channel(0, 4800, 9600);
    const auto right = rig.channel(1, 4800, 9600);
    EXPECT_NEAR(toneAmplitude(left, kRate, 400.0), 0.2, 0.002);
    EXPECT_NEAR(toneAmplitude(right, kRate, c.sourceChannels > 1 ? 700.0 : 400.0), 0.2, 0.002);
    if (c.downmixLine) {
        EXPECT_LT(toneAmplitude(left, kRate, 1000.0), 1e-3);
        EXPECT_LT(toneAmplitude(right, kRate, 1000.0), 1e-3);
    }
}

INSTANTIATE_TEST_SUITE_P(Counts, LoadChannels, ::testing::ValuesIn(kChannels),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(LoadVideoSound, IsAlwaysStreamedAsTwoChannelsAtTheMediaRate) {
    TemporaryFolder folder;
    const auto clip = writeSixChannelClip(folder);
    ChainRig rig;
    auto& chain = rig.addChain("B");
    // Even on a connection of eight channels, the sound of a video comes as two.
    chain.connectGraph(AudioFormat{kRate, 8, false}, false);
    Console::Capture console;
    rig.load(chain, clip, 0.5, 1.5);
    ASSERT_TRUE(chain.isReady());
    EXPECT_EQ(chain.fileChannelCount(), 2u);
    EXPECT_EQ(chain.fileStartFrame(), 22050);
    EXPECT_EQ(chain.fileTotalFrames(), 44100u);
    EXPECT_TRUE(console.contains("audio load [B]: 44100 frames at 44100.0Hz (streaming) ch=2"));
    EXPECT_TRUE(console.contains("6ch→2ch ダウンミックス (ch1/2)"));

    chain.connectGraph(AudioFormat{kRate, 2, false}, true);
    ChainRig::startSound(chain);
    rig.pull(24000);
    EXPECT_NEAR(zeroCrossingFrequency(rig.channel(0, 4800, 9600), kRate), 400.0, 1.0);
    EXPECT_NEAR(zeroCrossingFrequency(rig.channel(1, 4800, 9600), kRate), 700.0, 1.0);
    EXPECT_LT(toneAmplitude(rig.channel(0, 4800, 9600), kRate, 1000.0), 2e-3);
}

TEST(LoadVideoSound, GeneratedClipsOfEveryContainer) {
    const auto& fixtures = mediaFixtures();
    ChainRig rig;
    auto& chain = rig.addChain("A");
    for (const MediaFile& clip : fixtures.videoContainers) {
        SCOPED_TRACE(clip.path.filename().string());
        Console::Capture console;
        rig.load(chain, clip.path, 0.0);
        EXPECT_TRUE(chain.loadFinished());
        EXPECT_EQ(chain.hasAudio(), clip.hasAudio());
        EXPECT_EQ(chain.isReady(), clip.hasAudio());
        if (clip.hasAudio()) {
            EXPECT_EQ(chain.fileChannelCount(), 2u);
            EXPECT_NEAR(double(chain.fileTotalFrames()) / clip.sampleRate, clip.duration, 0.1);
        } else {
            EXPECT_TRUE(console.contains("audio load [A]: no sound to play"));
        }
    }
}

TEST(LoadOverlapping, TheLatestLoadWins) {
    TemporaryFolder folder;
    const auto longer = writeSound(folder, "long.caf", toneChannels(2, kRate, 3.0), kRate);
    const auto shorter = writeSound(folder, "short.caf", toneChannels(1, 44100.0, 1.0), 44100.0);
    ChainRig rig;
    auto& chain = rig.addChain("A");
    // Whichever load's thread ends first, only the last one asked for sets the fields.
    for (int round = 0; round < 10; ++round) {
        std::vector<bool> answers;
        chain.load(longer, 0.0, std::nullopt, [&](bool latest) { answers.push_back(latest); });
        chain.load(shorter, 0.0, std::nullopt, [&](bool latest) { answers.push_back(latest); });
        EXPECT_FALSE(chain.loadFinished());
        rig.waitFor([&] { return answers.size() == 2; });
        EXPECT_EQ(answers, (std::vector<bool>{false, true}));
        EXPECT_EQ(chain.fileTotalFrames(), 44100u);
        EXPECT_EQ(chain.fileChannelCount(), 1u);
        // Work the first load may still post changes nothing.
        rig.loop.waitForPosted(0.05);
        EXPECT_EQ(chain.fileTotalFrames(), 44100u);
    }
}

TEST(LoadBadInput, AMissingFileOrOneWithoutSoundIsALogLineAndNoAudio) {
    TemporaryFolder folder;
    const auto text = folder.write("notes.wav", "not a sound file");
    ChainRig rig;
    auto& chain = rig.addChain("B");
    for (const auto& path : {folder.path() / "gone.wav", text}) {
        Console::Capture console;
        rig.load(chain, path, 0.0);
        EXPECT_TRUE(chain.loadFinished());
        EXPECT_FALSE(chain.hasAudio());
        EXPECT_FALSE(chain.isReady());
        EXPECT_TRUE(console.contains("audio load [B]: no sound to play"));
    }
}

TEST(LoadBadInput, ASoundShorterThanItsClipSaysSo) {
    TemporaryFolder folder;
    const auto path = writeSound(folder, "cut.caf", toneChannels(2, kRate, 1.0), kRate);
    ChainRig rig;
    auto& chain = rig.addChain("A");
    Console::Capture console;
    rig.load(chain, path, 0.0, 3.0);
    EXPECT_TRUE(chain.isReady());
    EXPECT_EQ(chain.fileTotalFrames(), 48000u);
    EXPECT_TRUE(console.contains("audio load [A]: the sound ends at 1.0"));
}

TEST(LoadBadInput, AFileCutShortAfterTheLoadPlaysWhatIsLeftThenSilence) {
    TemporaryFolder folder;
    const auto path = writeSound(folder, "clip.caf", toneChannels(2, kRate, 2.0), kRate);
    ChainRig rig;
    auto& chain = rig.addChain("A");
    rig.load(chain, path, 0.0);
    ASSERT_EQ(chain.fileTotalFrames(), 96000u);
    // Replaced by half of itself between the load and the play.
    writeSound(folder, "clip.caf", toneChannels(2, kRate, 1.0), kRate);
    Console::Capture console;
    ChainRig::startSound(chain);
    rig.pull(96000);
    EXPECT_NEAR(rms(rig.channel(0, 0, 48000)), 0.2 / std::sqrt(2.0), 1e-3);
    EXPECT_EQ(peak(rig.channel(0, 48000 + 480)), 0.0);
    EXPECT_TRUE(console.contains("ends 48000 frames before the segment"));
}

TEST(LoadBadInput, AFileRemovedAfterTheLoadIsALogLineAndSilence) {
    TemporaryFolder folder;
    const auto path = writeSound(folder, "clip.caf", toneChannels(2, kRate, 1.0), kRate);
    ChainRig rig;
    auto& chain = rig.addChain("B");
    rig.load(chain, path, 0.0);
    ASSERT_TRUE(chain.isReady());
    std::filesystem::remove(path);
    Console::Capture console;
    ChainRig::startSound(chain);
    rig.pull(9600);
    EXPECT_EQ(peak(rig.channel(0)), 0.0);
    EXPECT_TRUE(console.contains("audio player: cannot read"));
}

TEST(TwoChains, SoundsOfDifferentRatesPlayTogetherEachAtItsPitch) {
    TemporaryFolder folder;
    const auto a = writeSound(folder, "a.caf", {sineWave(1000.0, kRate, 96000, 0.2)}, kRate);
    const auto b = writeSound(folder, "b.caf", {sineWave(1500.0, 44100.0, 88200, 0.2)}, 44100.0);
    ChainRig rig;
    auto& chainA = rig.addChain("A");
    auto& chainB = rig.addChain("B");
    rig.load(chainA, a, 0.0);
    rig.load(chainB, b, 0.0);
    ChainRig::startSound(chainA);
    ChainRig::startSound(chainB);
    rig.pull(48000);
    for (uint32_t c = 0; c < 2; ++c) {
        const auto heard = rig.channel(c, 4800, 38400);
        EXPECT_NEAR(toneAmplitude(heard, kRate, 1000.0), 0.2, 0.005);
        EXPECT_NEAR(toneAmplitude(heard, kRate, 1500.0), 0.2, 0.005);
    }
}

TEST(TwoChains, APreloadOfAnotherFormatLeavesTheSoundOnAirWithoutAGap) {
    TemporaryFolder folder;
    const auto onAir = writeSound(folder, "air.caf", toneChannels(2, kRate, 4.0), kRate);
    const auto clip = writeSixChannelClip(folder);
    const auto six = writeSound(folder, "six.caf", toneChannels(6, 44100.0, 2.0), 44100.0);
    ChainRig rig;
    auto& chainA = rig.addChain("A");
    auto& chainB = rig.addChain("B");
    rig.load(chainA, onAir, 0.0);
    ChainRig::startSound(chainA);
    rig.pull(24000);

    // Slot B loads clips of other channel counts and rates while A plays, and both chains are
    // rewired for them (as the output surface does), several times over.
    rig.load(chainB, clip, 0.0);
    chainA.connectGraph(AudioFormat{44100.0, 2, false}, true);
    chainB.connectGraph(AudioFormat{44100.0, 2, false}, true);
    rig.pull(24000);
    rig.load(chainB, six, 0.0);
    chainA.connectGraph(AudioFormat{44100.0, 6, false}, false);
    chainB.connectGraph(AudioFormat{44100.0, 6, false}, false);
    rig.pull(24000);
    chainA.connectGraph(AudioFormat{kRate, 2, false}, true);
    chainB.connectGraph(AudioFormat{kRate, 2, false}, true);
    rig.pull(48000);

    // The left channel carries A's 400 Hz tone throughout: no gap, no click, no change of
    // pitch or level anywhere in it.
    const auto heard = rig.channel(0, 480, 24000 * 5 - 960);
    const double smooth = 0.2 * std::pow(2.0 * M_PI * 400.0 / kRate, 2.0);
    EXPECT_LT(largestSecondDifference(heard), smooth * 1.5);
    for (std::size_t at = 0; at + 4800 <= heard.size(); at += 2400) {
        const auto window = heard.subspan(at, 4800);
        EXPECT_NEAR(rmsDb(window), 20.0 * std::log10(0.2 / std::sqrt(2.0)), 0.1) << at;
        EXPECT_NEAR(zeroCrossingFrequency(window, kRate), 400.0, 0.5) << at;
    }
}

}  // namespace
}  // namespace kestio::test
