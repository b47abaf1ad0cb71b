#include "output/test_tone.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <span>
#include <string>

#include "platform/audio/audio_engine.h"
#include "platform/audio/source_node.h"
#include "platform/runloop/console.h"
#include "support/null_audio_device.h"
#include "support/signal_analysis.h"

namespace kestio::output {
namespace {

using platform::audio::AudioEngine;
using platform::audio::SourceNode;

double dbfs(double amplitude) {
    return 20.0 * std::log10(amplitude);
}

class TestToneTest : public ::testing::Test {
  protected:
    explicit TestToneTest(double deviceRate = 48000.0)
        : device(std::make_shared<test::NullAudioDevice>(deviceRate, 2)), engine(device) {}

    // Renders `frames` frames in blocks of 512, as the render thread would.
    void pull(uint32_t frames) {
        device->pull(0);  // the render side takes in graph changes
        while (frames > 0) {
            const uint32_t n = std::min<uint32_t>(frames, 512);
            device->pull(n);
            frames -= n;
        }
    }
    std::span<const float> channel(uint32_t c, std::size_t from = 0) const {
        return std::span<const float>(device->channel(c)).subspan(from);
    }
    int sourceNodes() const {
        int count = 0;
        for (const auto& node : engine.attachedNodes()) {
            count += std::dynamic_pointer_cast<SourceNode>(node) != nullptr;
        }
        return count;
    }

    std::shared_ptr<test::NullAudioDevice> device;
    AudioEngine engine;
};

// The tone measures 1 kHz at the level asked for, on a device at the tone's own rate and on
// one the main mixer converts to; both channels carry the same samples.
TEST_F(TestToneTest, MeasuresOneKilohertzAtTheLevelAskedFor) {
    struct Case {
        double deviceRate;
        double levelDb;
    };
    const Case cases[] = {{48000, -20}, {48000, -12}, {48000, 0}, {44100, -20}, {44100, -6}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.deviceRate) + " Hz, " + std::to_string(c.levelDb) + " dB");
        auto caseDevice = std::make_shared<test::NullAudioDevice>(c.deviceRate, 2);
        AudioEngine caseEngine(caseDevice);
        TestToneGenerator tone;
        tone.start(caseEngine, c.levelDb);
        EXPECT_TRUE(caseEngine.isRunning());
        caseDevice->pull(0);
        for (int i = 0; i < int(c.deviceRate) / 500; ++i) {
            caseDevice->pull(500);  // a second
        }
        // The first 10 ms left out: the rate converter's start.
        const auto skip = std::size_t(c.deviceRate / 100);
        const auto left = std::span<const float>(caseDevice->channel(0)).subspan(skip);
        const auto right = std::span<const float>(caseDevice->channel(1)).subspan(skip);
        ASSERT_GT(left.size(), std::size_t(c.deviceRate * 0.9));
        EXPECT_NEAR(test::zeroCrossingFrequency(left, c.deviceRate), 1000.0, 0.05);
        EXPECT_NEAR(dbfs(test::toneAmplitude(left, c.deviceRate, 1000.0)), c.levelDb, 0.1);
        EXPECT_NEAR(dbfs(test::peak(left)), c.levelDb, 0.1);
        EXPECT_TRUE(std::equal(left.begin(), left.end(), right.begin())) << "channels differ";
    }
}

// A second start replaces the tone: one node on the engine, the new level, and a phase that
// begins again at 0.
TEST_F(TestToneTest, StartingAgainRestartsThePhaseAtTheNewLevel) {
    TestToneGenerator tone;
    tone.start(engine, -20.0);
    pull(1000);
    const auto firstNode = tone.node();
    tone.start(engine, -6.0);
    device->clearCaptured();
    pull(1000);

    EXPECT_EQ(sourceNodes(), 1);
    EXPECT_NE(tone.node(), firstNode);
    EXPECT_FALSE(engine.isAttached(*firstNode));
    const double amplitude = std::pow(10.0, -6.0 / 20.0);
    EXPECT_FLOAT_EQ(tone.amplitude(), float(amplitude));
    EXPECT_EQ(tone.levelDb(), -6.0);
    const auto out = channel(0);
    EXPECT_EQ(out[0], 0.0f) << "the phase did not restart";
    for (int n = 1; n < 48; ++n) {
        EXPECT_NEAR(out[n], amplitude * std::sin(2.0 * M_PI * 1000.0 * n / 48000.0), 1e-6)
            << "sample " << n;
    }
}

// A level change is heard from the next block on, without a restart.
TEST_F(TestToneTest, ALevelChangeIsHeardAtOnce) {
    TestToneGenerator tone;
    tone.start(engine, -20.0);
    pull(4800);
    tone.setLevel(-40.0);
    device->clearCaptured();
    pull(4800);
    EXPECT_NEAR(dbfs(test::toneAmplitude(channel(0), 48000.0, 1000.0)), -40.0, 0.1);
    EXPECT_EQ(sourceNodes(), 1);

    platform::Console::Capture console;
    tone.setLevel(std::nan(""));
    EXPECT_EQ(tone.levelDb(), -40.0);
    EXPECT_EQ(console.lines().size(), 1u);
}

// Stopping takes the tone off the engine and silences it; stopping again, or a generator that
// never ran, does nothing.
TEST_F(TestToneTest, StoppingSilencesAndRepeatingDoesNothing) {
    TestToneGenerator tone;
    tone.stop(engine);
    tone.stop(engine);
    EXPECT_FALSE(tone.isRunning());
    EXPECT_EQ(sourceNodes(), 0);

    tone.start(engine, -20.0);
    pull(2048);
    tone.stop(engine);
    tone.stop(engine);
    device->clearCaptured();
    pull(2048);
    EXPECT_FALSE(tone.isRunning());
    EXPECT_EQ(tone.node(), nullptr);
    EXPECT_EQ(sourceNodes(), 0);
    EXPECT_EQ(test::peak(channel(0)), 0.0);
}

// A generator that goes away takes its node with it: the mix holds nothing of it, not even
// unwritten buffers.
TEST_F(TestToneTest, AGeneratorLetGoLeavesSilence) {
    {
        TestToneGenerator tone;
        tone.start(engine, 0.0);
        pull(2048);
    }
    EXPECT_EQ(sourceNodes(), 0);
    device->clearCaptured();
    pull(2048);
    EXPECT_EQ(test::peak(channel(0)), 0.0);
    EXPECT_EQ(test::peak(channel(1)), 0.0);
}

// An engine that cannot start leaves the tone counted as running, with its node attached; the
// reason is logged.
TEST_F(TestToneTest, AnEngineThatDoesNotStartIsLogged) {
    platform::Console::Capture console;
    device->failNextStart("no device");
    TestToneGenerator tone;
    tone.start(engine, -20.0);
    EXPECT_TRUE(tone.isRunning());
    EXPECT_EQ(sourceNodes(), 1);
    EXPECT_FALSE(engine.isRunning());
    EXPECT_TRUE(console.contains("no device"));
}

}  // namespace
}  // namespace kestio::output
