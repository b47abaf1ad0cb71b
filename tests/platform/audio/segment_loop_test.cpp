// A segment loop keeps passes of a file segment coming without a gap for as long as it runs,
// whatever the pass length, and schedules nothing more once stopped.

#include "platform/audio/segment_loop.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "engine_rig.h"
#include "platform/audio/audio_file.h"
#include "platform/runloop/manual_run_loop.h"
#include "support/signal_analysis.h"
#include "support/temporary_folder.h"

namespace kestio::test {
namespace {

using platform::ManualRunLoop;
using platform::audio::AudioFile;
using platform::audio::AudioFormat;
using platform::audio::SegmentLoop;

constexpr double kRate = 48000.0;
constexpr int64_t kFileFrames = 96000;

// Frame n of the file holds n / kFileFrames, so every rendered sample names its frame.
float valueOf(int64_t frame) {
    return float(double(frame) / double(kFileFrames));
}

std::shared_ptr<AudioFile> rampFile(const TemporaryFolder& folder) {
    std::vector<float> ramp(kFileFrames);
    for (int64_t n = 0; n < kFileFrames; ++n) {
        ramp[std::size_t(n)] = valueOf(n);
    }
    const auto path = folder.path() / "ramp.caf";
    {
        auto file = AudioFile::openForWriting(path, AudioFormat{kRate, 1, false});
        EXPECT_TRUE(file && file->write(*bufferOf(ramp, kRate, 1)));
    }
    return AudioFile::openForReading(path);
}

struct Rig {
    Rig() : player(engine.makePlayer()), passes(loop, player) {
        EXPECT_FALSE(engine.engine.connect(player, engine.engine.mainMixerNode(),
                                           AudioFormat{kRate, 1, false}));
        EXPECT_FALSE(engine.engine.start());
    }
    // Renders `frames`, letting the run loop take the posted completions between blocks.
    void render(uint32_t frames) {
        for (uint32_t done = 0; done < frames; done += 4800) {
            loop.runPending();
            engine.pull(4800, 480);
        }
    }

    ManualRunLoop loop;
    EngineRig engine{kRate, 1};
    std::shared_ptr<platform::audio::AudioPlayerNode> player;
    SegmentLoop passes;
};

struct PassCase {
    const char* name;
    int64_t start;
    uint64_t frames;
};

class SegmentLoopPasses : public ::testing::TestWithParam<PassCase> {};

TEST_P(SegmentLoopPasses, RepeatsTheSegmentWithoutAGap) {
    const PassCase& c = GetParam();
    TemporaryFolder folder;
    auto file = rampFile(folder);
    ASSERT_TRUE(file);
    Rig rig;
    rig.passes.start(file, c.start, c.frames);
    EXPECT_TRUE(rig.passes.isActive());
    rig.player->play();
    // Eight seconds: well past the passes scheduled at the start.
    rig.render(8 * 48000);

    const auto heard = rig.engine.channel(0);
    ASSERT_EQ(heard.size(), std::size_t(8 * 48000));
    for (std::size_t n = 0; n < heard.size(); ++n) {
        ASSERT_EQ(heard[n], valueOf(c.start + int64_t(n % c.frames))) << "frame " << n;
    }
    EXPECT_GE(rig.passes.passesScheduled(), uint64_t(8 * 48000 / c.frames));
}

INSTANTIATE_TEST_SUITE_P(Lengths, SegmentLoopPasses,
                         ::testing::Values(PassCase{"Short", 100, 2400},
                                           PassCase{"HalfSecond", 0, 24000},
                                           PassCase{"LongerThanTheReadAhead", 5000, 90000}),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(SegmentLoop, StoppedSchedulesNoFurtherPass) {
    TemporaryFolder folder;
    auto file = rampFile(folder);
    ASSERT_TRUE(file);
    Rig rig;
    rig.passes.start(file, 0, 24000);
    const uint64_t scheduled = rig.passes.passesScheduled();
    rig.passes.stop();
    EXPECT_FALSE(rig.passes.isActive());
    rig.player->play();
    rig.render(uint32_t(scheduled + 2) * 24000);

    // The passes scheduled before the stop play out, then silence.
    const auto heard = rig.engine.channel(0);
    const std::size_t end = std::size_t(scheduled) * 24000;
    EXPECT_EQ(heard[end - 1], valueOf(23999));
    EXPECT_EQ(peak(heard.subspan(end)), 0.0);
    EXPECT_EQ(rig.passes.passesScheduled(), scheduled);
}

TEST(SegmentLoop, AnEmptySegmentSchedulesNothing) {
    TemporaryFolder folder;
    auto file = rampFile(folder);
    Rig rig;
    rig.passes.start(file, 0, 0);
    EXPECT_FALSE(rig.passes.isActive());
    rig.passes.start(nullptr, 0, 100);
    EXPECT_FALSE(rig.passes.isActive());
    EXPECT_EQ(rig.passes.passesScheduled(), 0u);
}

}  // namespace
}  // namespace kestio::test
