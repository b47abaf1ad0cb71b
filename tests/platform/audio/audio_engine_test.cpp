#include "platform/audio/audio_engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "engine_rig.h"
#include "platform/audio/eq_node.h"
#include "platform/audio/mixer_node.h"
#include "platform/audio/output_node.h"
#include "platform/audio/source_node.h"
#include "platform/audio/time_pitch_node.h"
#include "support/signal_analysis.h"

namespace kestio::test {
namespace {

using platform::audio::AudioFormat;
using platform::audio::EQNode;
using platform::audio::SourceNode;
using platform::audio::TimePitchNode;

const AudioFormat kStereo48{48000.0, 2, false};

// A source of a constant value in every channel.
std::shared_ptr<SourceNode> constantSource(const AudioFormat& format, float value) {
    return std::make_shared<SourceNode>(
        format, [value](uint32_t frames, float* const* channels, uint32_t count) {
            for (uint32_t c = 0; c < count; ++c) {
                std::fill(channels[c], channels[c] + frames, value);
            }
            return true;
        });
}

TEST(AudioEngine, TheMainMixerAndOutputRenderAtTheDeviceFormat) {
    EngineRig rig(44100.0, 6);
    EXPECT_EQ(rig.engine.outputFormat(), (AudioFormat{44100.0, 6, false}));
    EXPECT_EQ(rig.engine.mainMixerNode()->outputFormat(0), rig.engine.outputFormat());
    EXPECT_EQ(rig.engine.outputNode()->outputFormat(0), rig.engine.outputFormat());
    EXPECT_EQ(rig.engine.outputNode()->inputFormat(0), rig.engine.outputFormat());
    auto unconnected = rig.makePlayer();
    EXPECT_EQ(unconnected->outputFormat(0).channelCount, 0u);
}

TEST(AudioEngine, TheMixerSumsItsInputs) {
    EngineRig rig;
    auto a = constantSource(kStereo48, 0.25f);
    auto b = constantSource(kStereo48, -0.125f);
    rig.engine.attach(a);
    rig.engine.attach(b);
    ASSERT_FALSE(rig.engine.connect(a, rig.engine.mainMixerNode(), kStereo48));
    ASSERT_FALSE(rig.engine.connect(b, rig.engine.mainMixerNode(), kStereo48));
    ASSERT_FALSE(rig.engine.start());
    rig.pull(256);
    EXPECT_EQ(rig.channel(0)[100], 0.125f);
    EXPECT_EQ(rig.channel(1)[255], 0.125f);
}

// Denormal samples (a filter or stretcher fading out) cost the CPU many times a normal one: the
// render thread treats them as zero, and the thread that called it gets its own mode back.
TEST(AudioEngine, RendersWithDenormalsAsZeroAndGivesTheThreadItsModeBack) {
    static volatile float denormal = 1e-39f;
    EngineRig rig;
    auto source = std::make_shared<SourceNode>(
        kStereo48, [](uint32_t frames, float* const* channels, uint32_t count) {
            for (uint32_t c = 0; c < count; ++c) {
                std::fill(channels[c], channels[c] + frames, denormal * 1.5f);
            }
            return true;
        });
    rig.engine.attach(source);
    ASSERT_FALSE(rig.engine.connect(source, rig.engine.mainMixerNode(), kStereo48));
    ASSERT_FALSE(rig.engine.start());
    rig.pull(256);
    EXPECT_EQ(rig.channel(0)[100], 0.0f) << "a denormal computed while rendering";
    EXPECT_NE(denormal * 1.5f, 0.0f) << "a denormal computed on the thread after rendering";
}

// A six-channel input on four outputs is 5.1 on 4.0: fronts and centre go to their own
// outputs, both surrounds to the back centre at -3 dB, and the LFE nowhere.
TEST(AudioEngine, MonoInputsFeedTheFirstTwoOutputsAndMoreChannelsAreDownmixed) {
    EngineRig rig(48000.0, 4);
    auto mono = constantSource(AudioFormat{48000.0, 1, false}, 0.5f);
    rig.engine.attach(mono);
    ASSERT_FALSE(rig.engine.connect(mono, rig.engine.mainMixerNode(), {48000.0, 1, false}));
    auto six = std::make_shared<SourceNode>(
        AudioFormat{48000.0, 6, false}, [](uint32_t frames, float* const* channels, uint32_t n) {
            for (uint32_t c = 0; c < n; ++c) {
                std::fill(channels[c], channels[c] + frames, 0.01f * float(c + 1));
            }
            return true;
        });
    rig.engine.attach(six);
    ASSERT_FALSE(rig.engine.connect(six, rig.engine.mainMixerNode(), {48000.0, 6, false}));
    ASSERT_FALSE(rig.engine.start());
    rig.pull(128);
    EXPECT_FLOAT_EQ(rig.channel(0)[64], 0.51f);
    EXPECT_FLOAT_EQ(rig.channel(1)[64], 0.52f);
    EXPECT_FLOAT_EQ(rig.channel(2)[64], 0.03f) << "the mono input stays on the first two";
    EXPECT_FLOAT_EQ(rig.channel(3)[64], (0.05f + 0.06f) * float(std::sqrt(0.5)))
        << "the surrounds, not the LFE";
}

TEST(AudioEngine, TheMixerConvertsAnInputsSampleRate) {
    EngineRig rig(48000.0, 2);
    auto player = rig.makePlayer();
    const AudioFormat link{44100.0, 2, false};
    ASSERT_FALSE(rig.engine.connect(player, rig.engine.mainMixerNode(), link));
    ASSERT_FALSE(rig.engine.start());
    player->scheduleBuffer(bufferOf(sineWave(1000.0, 44100.0, 44100, 0.5), 44100.0));
    player->play();
    rig.pull(52000);
    const auto out = rig.channel(0);
    EXPECT_NEAR(zeroCrossingFrequency(out.subspan(2000, 44000), 48000.0), 1000.0, 0.02);
    EXPECT_NEAR(toneAmplitude(out.subspan(2000, 44000), 48000.0, 1000.0), 0.5, 0.003);
    const auto [start, end] = toneSpan(out, 48000.0, 0.5);
    EXPECT_NEAR(start, 0.0, 48.0);
    EXPECT_NEAR(end, 48000.0, 48.0);
}

TEST(AudioEngine, ConnectingAndDisconnectingWhileRunningLeavesOtherChainsUntouched) {
    EngineRig rig;
    auto player = rig.startedPlayer();
    const auto tone = sineWave(1000.0, 48000.0, 9600, 0.5);
    player->scheduleBuffer(bufferOf(tone, 48000.0));
    player->play();
    rig.pull(2400, 600);

    auto dc = constantSource(kStereo48, 0.25f);
    rig.engine.attach(dc);
    ASSERT_FALSE(rig.engine.connect(dc, rig.engine.mainMixerNode(), kStereo48));
    rig.pull(2400, 600);
    rig.engine.disconnectNodeOutput(dc);
    rig.engine.detach(dc);
    EXPECT_FALSE(rig.engine.isAttached(*dc));
    rig.pull(4800, 600);

    const auto out = rig.channel(0);
    for (std::size_t n = 0; n < tone.size(); ++n) {
        const float expected = tone[n] + (n >= 2400 && n < 4800 ? 0.25f : 0.0f);
        ASSERT_FLOAT_EQ(out[n], expected) << "at frame " << n;
    }
}

TEST(AudioEngine, ARewiringInOneBatchReachesTheRenderThreadWhole) {
    EngineRig rig;
    auto player = rig.makePlayer();
    auto pitch = std::make_shared<TimePitchNode>();
    auto eq = std::make_shared<EQNode>(6);
    rig.engine.attach(pitch);
    rig.engine.attach(eq);
    ASSERT_FALSE(rig.engine.connect(player, rig.engine.mainMixerNode(), kStereo48));
    ASSERT_FALSE(rig.engine.start());
    const auto tone = sineWave(1000.0, 48000.0, 8192, 0.5);
    player->scheduleBuffer(bufferOf(tone, 48000.0));
    player->play();
    rig.pull(2048);
    {
        const auto batch = rig.engine.batchChanges();
        rig.engine.disconnectNodeOutput(player);
        rig.pull(0);  // a block rendered in the middle of the rewiring still has the old graph
        ASSERT_FALSE(rig.engine.connect(player, pitch, kStereo48));
        ASSERT_FALSE(rig.engine.connect(pitch, eq, kStereo48));
        ASSERT_FALSE(rig.engine.connect(eq, rig.engine.mainMixerNode(), kStereo48));
    }
    rig.pull(6144);
    EXPECT_EQ(std::vector<float>(rig.channel(0).begin(), rig.channel(0).begin() + 8192), tone)
        << "rate 1 and 0 dB pass the sound through untouched, without a gap";
}

TEST(AudioEngine, RefusesLinksThatCannotWork) {
    EngineRig rig;
    auto player = rig.makePlayer();
    auto pitch = std::make_shared<TimePitchNode>();
    auto eq = std::make_shared<EQNode>(1);
    auto stray = std::make_shared<EQNode>(1);
    rig.engine.attach(pitch);
    rig.engine.attach(eq);
    EXPECT_TRUE(rig.engine.connect(player, stray, kStereo48)) << "not attached";
    ASSERT_FALSE(rig.engine.connect(player, pitch, kStereo48));
    ASSERT_FALSE(rig.engine.connect(pitch, eq, kStereo48));
    EXPECT_TRUE(rig.engine.connect(eq, pitch, kStereo48)) << "a cycle";
    EXPECT_TRUE(rig.engine.connect(eq, rig.engine.mainMixerNode(), {44100.0, 2, false}))
        << "a chain keeps one format";
    EXPECT_TRUE(rig.engine.connect(player, rig.engine.outputNode(), kStereo48));
    EXPECT_TRUE(rig.engine.connect(player, pitch, {0.0, 2, false}));
    auto tone = constantSource(kStereo48, 0.1f);
    rig.engine.attach(tone);
    EXPECT_TRUE(rig.engine.connect(tone, rig.engine.mainMixerNode(), {44100.0, 2, false}))
        << "a source's link carries its own format";
    EXPECT_EQ(pitch->inputFormat(0), kStereo48) << "refused links change nothing";
}

TEST(AudioEngine, StartReportsTheDevicesFailure) {
    EngineRig rig;
    rig.device->failNextStart("no such device");
    EXPECT_EQ(rig.engine.start(), std::optional<std::string>("no such device"));
    EXPECT_FALSE(rig.engine.isRunning());
    EXPECT_FALSE(rig.engine.start());
    EXPECT_TRUE(rig.engine.isRunning());
    rig.engine.stop();
    EXPECT_FALSE(rig.engine.isRunning());
    EXPECT_FALSE(rig.device->isRunning());
}

// The render side may go on at the old format for a while after a new default output is
// published: those blocks still carry the sound at their own rate, none is silent, and the new
// format takes over where they end. The clock counts every frame at the rate it was heard at.
TEST(AudioEngine, FollowsTheDeviceToANewFormatWithoutLosingItsPlace) {
    struct Case {
        double rate;
        uint32_t channels;
        uint32_t framesAtOldFormat;
    };
    for (const Case c : {Case{44100.0, 6, 0}, Case{44100.0, 2, 1500}, Case{96000.0, 1, 512}}) {
        EngineRig rig;
        auto player = rig.startedPlayer();
        const auto tone = sineWave(1000.0, 48000.0, 48000, 0.5);
        player->scheduleBuffer(bufferOf(tone, 48000.0));
        player->play();
        rig.pull(24000);
        const uint64_t before = rig.engine.renderedFrames();

        rig.device->changeTo(c.rate, c.channels, "Other", c.framesAtOldFormat);
        EXPECT_EQ(rig.engine.outputFormat(), (AudioFormat{c.rate, c.channels, false}));
        EXPECT_EQ(rig.engine.mainMixerNode()->outputFormat(0).channelCount, c.channels);
        rig.pull(c.framesAtOldFormat, 500);
        const uint32_t heard = 24000 + c.framesAtOldFormat;
        if (c.framesAtOldFormat > 0) {
            EXPECT_EQ(std::vector<float>(rig.channel(0).begin(), rig.channel(0).end()),
                      std::vector<float>(tone.begin(), tone.begin() + heard))
                << c.rate << ": the old format's blocks carry the tone unchanged";
        }
        const auto rest = uint32_t(std::lround(double(48000 - heard) * c.rate / 48000.0));
        rig.pull(rest + 2000);
        EXPECT_EQ(rig.engine.renderedFrames(), before + c.framesAtOldFormat + rest + 2000);
        EXPECT_NEAR(rig.engine.clock()->timeAt(rig.device->hostNow()),
                    double(heard) / 48000.0 + double(rest + 2000) / c.rate, 1e-9);

        const auto out = rig.channel(c.channels > 1 ? 1 : 0);
        EXPECT_NEAR(zeroCrossingFrequency(out.subspan(1000, rest - 2000), c.rate), 1000.0, 0.05);
        const auto [start, end] = toneSpan(out, c.rate, 0.5);
        EXPECT_NEAR(start, 0.0, c.rate / 1000.0) << c.rate << ": no silent block";
        EXPECT_NEAR(end, double(rest), c.rate / 500.0) << "the rest of the tone, no more, no less";
    }
}

// The clock on a device whose host time the test sets: it follows the frames heard, runs on
// host time while nothing renders, and never reads less later.
TEST(AudioEngine, TheClockRunsOnHostTimeAndNeverGoesBack) {
    double host = 100.0;
    auto device = std::make_shared<NullAudioDevice>(48000.0, 2, "Timed", [&host] { return host; });
    platform::audio::AudioEngine engine(device);
    const auto clock = engine.clock();
    EXPECT_EQ(clock, engine.clock());
    ASSERT_FALSE(engine.start());
    struct Step {
        double hostAdvance;  // before the pull
        uint32_t frames;     // pulled
        double expected;     // clock at the host time after the pull
        double rendered;     // engine position after the pull
    };
    // 0.5 s pulled on time; 1 s stopped; 0.25 s on time again; a device that stalled for
    // 0.27 s (the clock does not wait for it: the position moves up); then one 20 ms late (the
    // clock takes it in gradually).
    const Step steps[] = {{0.0, 24000, 0.0, 0.5},  {0.5, 0, 0.5, 0.5},     {1.0, 0, 1.5, 0.5},
                          {0.0, 12000, 1.5, 1.75}, {0.25, 0, 1.75, 1.75},  {0.27, 480, 2.02, 2.03},
                          {0.03, 960, 2.05, 2.05}, {0.02, 960, 2.07, 2.07}};
    double last = clock->timeAt(host);
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        const Step& step = steps[i];
        host += step.hostAdvance;
        EXPECT_GE(clock->timeAt(host), last) << "step " << i << ": went back";
        last = clock->timeAt(host);
        if (i == 2) {
            engine.stop();
        }
        if (i == 3) {
            ASSERT_FALSE(engine.start());
        }
        device->pull(step.frames);
        EXPECT_GE(clock->timeAt(host), last) << "step " << i << ": went back";
        last = clock->timeAt(host);
        EXPECT_NEAR(last, step.expected, 0.011) << "step " << i;
        EXPECT_NEAR(engine.renderedPosition(), step.rendered, 1e-9) << "step " << i;
        EXPECT_NEAR(clock->hostTimeAt(last), host, 0.011) << "step " << i;
    }
}

TEST(AudioEngine, DetachedNodesAreLetGoAfterTheRenderThreadMovesOn) {
    EngineRig rig;
    std::weak_ptr<SourceNode> watch;
    {
        auto tone = constantSource(kStereo48, 0.1f);
        watch = tone;
        rig.engine.attach(tone);
        ASSERT_FALSE(rig.engine.connect(tone, rig.engine.mainMixerNode(), kStereo48));
        ASSERT_FALSE(rig.engine.start());
        rig.pull(64);
        rig.engine.detach(tone);
    }
    EXPECT_TRUE(watch.expired());
    rig.pull(64);
    EXPECT_EQ(rig.channel(0)[100], 0.0f);
}

}  // namespace
}  // namespace kestio::test
