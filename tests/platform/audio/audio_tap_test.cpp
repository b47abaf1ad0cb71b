#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "engine_rig.h"
#include "platform/audio/source_node.h"
#include "support/signal_analysis.h"

namespace kestio::test {
namespace {

using platform::audio::AudioFormat;
using platform::audio::PcmBuffer;
using platform::audio::SourceNode;

const AudioFormat kStereo48{48000.0, 2, false};

// Collects what a tap delivers and lets the test wait for it.
struct TapLog {
    struct Block {
        AudioFormat format;
        uint32_t frames;
        std::vector<std::vector<float>> channels;
        std::thread::id thread;
    };

    platform::audio::TapBlock block() {
        return [this](const PcmBuffer& buffer) {
            Block b{buffer.format(), buffer.frameLength(), {}, std::this_thread::get_id()};
            for (uint32_t c = 0; c < buffer.channelCount(); ++c) {
                b.channels.emplace_back(buffer.channel(c),
                                        buffer.channel(c) + buffer.frameLength());
            }
            std::lock_guard lock(mutex);
            blocks.push_back(std::move(b));
            changed.notify_all();
        };
    }

    bool waitFor(std::size_t count) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(20),
                                [&] { return blocks.size() >= count; });
    }

    std::size_t size() {
        std::lock_guard lock(mutex);
        return blocks.size();
    }

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Block> blocks;
};

// A full-scale sine on every channel, continuing across render calls.
std::shared_ptr<SourceNode> sineSource(const AudioFormat& format, double frequency) {
    auto phase = std::make_shared<double>(0.0);
    return std::make_shared<SourceNode>(
        format, [phase, frequency, rate = format.sampleRate](
                    uint32_t frames, float* const* channels, uint32_t count) {
            for (uint32_t i = 0; i < frames; ++i) {
                const auto s = float(std::sin(*phase));
                *phase += 2.0 * M_PI * frequency / rate;
                for (uint32_t c = 0; c < count; ++c) {
                    channels[c][i] = s;
                }
            }
            return true;
        });
}

TEST(AudioTap, DeliversBlocksOf1024FramesInOrderOffTheRenderThread) {
    EngineRig rig;
    auto sine = sineSource(kStereo48, 750.0);  // 1024 frames hold exactly 16 periods
    rig.engine.attach(sine);
    ASSERT_FALSE(rig.engine.connect(sine, rig.engine.mainMixerNode(), kStereo48));
    TapLog log;
    ASSERT_FALSE(rig.engine.mainMixerNode()->installTap(0, 1024, kStereo48, log.block()));
    ASSERT_FALSE(rig.engine.start());
    rig.pull(1000 * 11, 1000);  // render blocks that do not line up with the tap's
    ASSERT_TRUE(log.waitFor(10));

    std::vector<float> tapped;
    for (const auto& block : log.blocks) {
        EXPECT_EQ(block.frames, 1024u);
        EXPECT_EQ(block.format, kStereo48);
        EXPECT_NE(block.thread, std::this_thread::get_id());
        EXPECT_NEAR(rmsDb(block.channels[0]), -3.0103, 0.001) << "a full-scale sine";
        EXPECT_NEAR(peak(block.channels[1]), 1.0, 1e-3);
        tapped.insert(tapped.end(), block.channels[0].begin(), block.channels[0].end());
    }
    const auto out = rig.channel(0);
    EXPECT_EQ(tapped, std::vector<float>(out.begin(), out.begin() + long(tapped.size())));
}

TEST(AudioTap, AFullScaleToneAt1kHzMeasuresMinus3Decibels) {
    EngineRig rig;
    auto sine = sineSource(kStereo48, 1000.0);
    rig.engine.attach(sine);
    ASSERT_FALSE(rig.engine.connect(sine, rig.engine.mainMixerNode(), kStereo48));
    TapLog log;
    ASSERT_FALSE(rig.engine.mainMixerNode()->installTap(0, 1024, std::nullopt, log.block()));
    ASSERT_FALSE(rig.engine.start());
    rig.pull(1024 * 12);
    ASSERT_TRUE(log.waitFor(12));
    // 1024 frames hold 21 1/3 periods: each block is within a few hundredths of a decibel,
    // and three blocks together hold whole periods.
    double power = 0.0;
    for (const auto& block : log.blocks) {
        EXPECT_NEAR(rmsDb(block.channels[0]), -3.01, 0.05);
        power += std::pow(rms(block.channels[0]), 2.0);
    }
    EXPECT_NEAR(10.0 * std::log10(power / double(log.blocks.size())), -3.0103, 0.001);
}

TEST(AudioTap, NoBlockRunsOnceTheTapIsRemoved) {
    EngineRig rig;
    auto sine = sineSource(kStereo48, 1000.0);
    rig.engine.attach(sine);
    ASSERT_FALSE(rig.engine.connect(sine, rig.engine.mainMixerNode(), kStereo48));
    TapLog removed;
    TapLog witness;
    ASSERT_FALSE(sine->installTap(0, 512, std::nullopt, removed.block()));
    ASSERT_FALSE(rig.engine.mainMixerNode()->installTap(0, 512, std::nullopt, witness.block()));
    ASSERT_FALSE(rig.engine.start());
    rig.pull(2048);
    ASSERT_TRUE(removed.waitFor(4));

    sine->removeTap(0);
    const std::size_t after = removed.size();
    rig.pull(4096);
    ASSERT_TRUE(witness.waitFor(12)) << "the tap thread went on delivering";
    EXPECT_EQ(removed.size(), after);
}

TEST(AudioTap, ATapMayRemoveItselfFromItsBlock) {
    EngineRig rig;
    auto sine = sineSource(kStereo48, 1000.0);
    rig.engine.attach(sine);
    ASSERT_FALSE(rig.engine.connect(sine, rig.engine.mainMixerNode(), kStereo48));
    std::mutex mutex;
    std::condition_variable done;
    int calls = 0;
    ASSERT_FALSE(sine->installTap(0, 256, std::nullopt, [&](const PcmBuffer&) {
        sine->removeTap(0);
        std::lock_guard lock(mutex);
        ++calls;
        done.notify_all();
    }));
    TapLog witness;
    ASSERT_FALSE(rig.engine.mainMixerNode()->installTap(0, 256, std::nullopt, witness.block()));
    ASSERT_FALSE(rig.engine.start());
    rig.pull(256 * 8);
    ASSERT_TRUE(witness.waitFor(8));
    std::lock_guard lock(mutex);
    EXPECT_EQ(calls, 1);
}

TEST(AudioTap, FollowsAFormatChangeWithBlocksOfTheNewFormat) {
    EngineRig rig;
    auto sine = sineSource(kStereo48, 1000.0);
    rig.engine.attach(sine);
    ASSERT_FALSE(rig.engine.connect(sine, rig.engine.mainMixerNode(), kStereo48));
    TapLog log;
    ASSERT_FALSE(rig.engine.mainMixerNode()->installTap(0, 1024, std::nullopt, log.block()));
    ASSERT_FALSE(rig.engine.start());
    rig.pull(1024 * 2);
    ASSERT_TRUE(log.waitFor(2));
    rig.device->changeTo(44100.0, 10);
    rig.pull(1024 * 3 + 500);
    ASSERT_TRUE(log.waitFor(5));
    EXPECT_EQ(log.blocks[1].format.channelCount, 2u);
    EXPECT_EQ(log.blocks[2].format, (AudioFormat{44100.0, 10, false}));
    EXPECT_EQ(log.blocks[4].frames, 1024u);
    EXPECT_NEAR(peak(log.blocks[4].channels[1]), 1.0, 0.01);
    EXPECT_EQ(peak(log.blocks[4].channels[9]), 0.0);
}

TEST(AudioTap, RefusesWhatItCannotDo) {
    EngineRig rig;
    auto sine = sineSource(kStereo48, 1000.0);
    TapLog log;
    EXPECT_TRUE(sine->installTap(0, 1024, std::nullopt, log.block())) << "not attached";
    rig.engine.attach(sine);
    ASSERT_FALSE(rig.engine.connect(sine, rig.engine.mainMixerNode(), kStereo48));
    EXPECT_TRUE(sine->installTap(1, 1024, std::nullopt, log.block())) << "no bus 1";
    EXPECT_TRUE(sine->installTap(0, 1024, AudioFormat{44100.0, 2, false}, log.block()));
    EXPECT_TRUE(sine->installTap(0, 0, std::nullopt, log.block()));
}

}  // namespace
}  // namespace kestio::test
