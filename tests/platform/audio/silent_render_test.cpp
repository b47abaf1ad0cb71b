// A graph with nothing to play renders silence without working through it: what it renders
// must be exactly what working through zeros would give, and its taps must still learn where
// the sound stopped.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "engine_rig.h"
#include "platform/audio/eq_node.h"
#include "platform/audio/time_pitch_node.h"
#include "support/signal_analysis.h"

namespace kestio::test {
namespace {

using platform::audio::AudioFormat;
using platform::audio::EQBand;
using platform::audio::EQNode;
using platform::audio::PcmBuffer;
using platform::audio::TimePitchNode;

const AudioFormat kStereo48{48000.0, 2, false};
constexpr uint32_t kRate = 48000;

// A slot's chain on the rig's engine: the player alone into the main mixer, or through a
// time-pitch node at rate 1 and an equaliser lifting 80 Hz by 12 dB, whose filter rings on after
// its input stops.
std::shared_ptr<platform::audio::AudioPlayerNode> chain(EngineRig& rig, bool effects) {
    auto player = rig.makePlayer();
    player->setVolume(0.5f);
    if (!effects) {
        EXPECT_FALSE(rig.engine.connect(player, rig.engine.mainMixerNode(), kStereo48));
    } else {
        auto timePitch = std::make_shared<TimePitchNode>();
        auto eq = std::make_shared<EQNode>(2);
        eq->setBand(0, EQBand{EQBand::FilterType::Parametric, 80.0f, 1.0f, 12.0f, false});
        eq->setBand(1, EQBand{EQBand::FilterType::Parametric, 2500.0f, 1.0f, 0.0f, false});
        rig.engine.attach(timePitch);
        rig.engine.attach(eq);
        EXPECT_FALSE(rig.engine.connect(player, timePitch, kStereo48));
        EXPECT_FALSE(rig.engine.connect(timePitch, eq, kStereo48));
        EXPECT_FALSE(rig.engine.connect(eq, rig.engine.mainMixerNode(), kStereo48));
    }
    EXPECT_FALSE(rig.engine.start());
    return player;
}

// Renders `schedule` and then a second and a half in all, in blocks that do not line up with
// the schedule's end.
std::vector<float> rendered(bool effects, const std::vector<float>& schedule) {
    EngineRig rig;
    auto player = chain(rig, effects);
    player->scheduleBuffer(bufferOf(schedule, double(kRate)));
    player->play();
    rig.pull(kRate * 3 / 2, 700);
    const auto out = rig.channel(1);
    return {out.begin(), out.end()};
}

TEST(SilentRender, SilenceAfterTheScheduleIsExactlyWhatScheduledZerosWouldGive) {
    // 0.1 s of 80 Hz cut off mid-wave, so the equaliser is left ringing.
    const auto burst = sineWave(80.0, kRate, 4950, 0.8);
    auto padded = burst;
    padded.resize(kRate * 3 / 2, 0.0f);
    for (const bool effects : {false, true}) {
        SCOPED_TRACE(effects ? "through time-pitch and equaliser" : "player into the mixer");
        const auto out = rendered(effects, burst);
        EXPECT_EQ(out, rendered(effects, padded));
        // The rendering itself: the burst at the player's volume, and after it either nothing
        // or the filter's ring.
        EXPECT_GT(peak(std::span<const float>(out).subspan(0, burst.size())), 0.39);
        const auto after = std::span<const float>(out).subspan(burst.size());
        if (effects) {
            EXPECT_GT(peak(after.subspan(0, 480)), 0.01) << "the equaliser rings on";
        } else {
            EXPECT_EQ(peak(after), 0.0);
        }
    }
}

// What a tap hands over, in order, and a wait for it.
struct Blocks {
    platform::audio::TapBlock block() {
        return [this](const PcmBuffer& buffer) {
            std::lock_guard lock(mutex);
            peaks.push_back(peak(std::span<const float>(buffer.channel(0), buffer.frameLength())));
            silentFrom.push_back(buffer.frameLength());
            for (uint32_t i = buffer.frameLength(); i > 0 && buffer.channel(0)[i - 1] == 0.0f;
                 --i) {
                silentFrom.back() = i - 1;
            }
            changed.notify_all();
        };
    }
    bool waitFor(std::size_t count) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(20),
                                [&] { return peaks.size() >= count; });
    }
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<double> peaks;
    std::vector<uint32_t> silentFrom;  // the first frame of each block's zeros at its end
};

// Sound of 1.5 tap blocks, a second of nothing, and sound again: the main mixer's tap gets the
// first block, the one the sound stopped in filled up with zeros, one block of zeros (so a meter
// reading the newest block falls to silence), and then, with nothing in between, the new sound.
TEST(SilentRender, ATapLearnsWhereTheSoundStopsAndNothingMoreUntilItStartsAgain) {
    Blocks blocks;  // outlives the engine, whose tap thread may still deliver at the end
    EngineRig rig;
    auto player = chain(rig, false);
    ASSERT_FALSE(rig.engine.mainMixerNode()->installTap(0, 1024, std::nullopt, blocks.block()));
    player->scheduleBuffer(bufferOf(std::vector<float>(1536, 0.5f), double(kRate)));
    player->play();
    rig.pull(1536 + kRate, 512);
    player->scheduleBuffer(bufferOf(std::vector<float>(1024, 0.25f), double(kRate)));
    rig.pull(2048, 512);
    ASSERT_TRUE(blocks.waitFor(4));

    std::lock_guard lock(blocks.mutex);
    const std::vector<double> peaks(blocks.peaks.begin(), blocks.peaks.begin() + 4);
    const std::vector<uint32_t> zerosFrom(blocks.silentFrom.begin(), blocks.silentFrom.begin() + 4);
    // At the player's volume of one half.
    EXPECT_EQ(peaks, (std::vector<double>{0.25, 0.25, 0.0, 0.125}));
    EXPECT_EQ(zerosFrom, (std::vector<uint32_t>{1024, 512, 0, 1024}));
}

}  // namespace
}  // namespace kestio::test
