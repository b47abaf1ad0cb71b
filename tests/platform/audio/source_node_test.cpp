#include "platform/audio/source_node.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>

#include "engine_rig.h"
#include "support/signal_analysis.h"

namespace kestio::test {
namespace {

using platform::audio::AudioFormat;
using platform::audio::SourceNode;

const AudioFormat kTone{48000.0, 2, false};

TEST(SourceNode, TheCallbackGetsZeroedBuffersAndFailingLeavesSilence) {
    EngineRig rig;
    std::atomic<bool> sawDirt{false};
    std::atomic<int> call{0};
    auto source = std::make_shared<SourceNode>(
        kTone, [&](uint32_t frames, float* const* channels, uint32_t count) {
            for (uint32_t c = 0; c < count; ++c) {
                for (uint32_t i = 0; i < frames; ++i) {
                    sawDirt = sawDirt || channels[c][i] != 0.0f;
                    channels[c][i] = 0.5f;
                }
            }
            return ++call % 2 == 1;  // every second call fails
        });
    rig.engine.attach(source);
    ASSERT_FALSE(rig.engine.connect(source, rig.engine.mainMixerNode(), kTone));
    ASSERT_FALSE(rig.engine.start());
    rig.pull(400, 100);
    EXPECT_FALSE(sawDirt.load());
    EXPECT_EQ(rig.channel(0)[50], 0.5f);
    EXPECT_EQ(rig.channel(0)[150], 0.0f);
    EXPECT_EQ(rig.channel(1)[250], 0.5f);
}

// The line-up tone: 1 kHz generated at 48 kHz reaches a device of another rate at 1 kHz and
// at its level.
TEST(SourceNode, AToneAt48kHzPlaysOnADeviceOfAnotherRate) {
    EngineRig rig(44100.0, 2);
    const double amplitude = std::pow(10.0, -20.0 / 20.0);
    double phase = 0.0;
    auto tone = std::make_shared<SourceNode>(
        kTone, [&](uint32_t frames, float* const* channels, uint32_t count) {
            for (uint32_t i = 0; i < frames; ++i) {
                const auto s = float(amplitude * std::sin(phase));
                phase += 2.0 * M_PI * 1000.0 / 48000.0;
                if (phase > 2.0 * M_PI) {
                    phase -= 2.0 * M_PI;
                }
                for (uint32_t c = 0; c < count; ++c) {
                    channels[c][i] = s;
                }
            }
            return true;
        });
    rig.engine.attach(tone);
    ASSERT_FALSE(rig.engine.connect(tone, rig.engine.mainMixerNode(), kTone));
    ASSERT_FALSE(rig.engine.start());
    rig.pull(44100);
    const auto out = rig.channel(1).subspan(1000);
    EXPECT_NEAR(zeroCrossingFrequency(out, 44100.0), 1000.0, 0.02);
    EXPECT_NEAR(peak(out), 0.1, 0.001);
}

}  // namespace
}  // namespace kestio::test
