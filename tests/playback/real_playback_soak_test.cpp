// The playback core under a random show on the real classes: generated clips, a still and a
// sound file decoded by FFmpeg on their own threads, the real slots and surface, the audio
// engine on the null device. Cues come at random moments over every post-roll, loops are
// released at random points, preloads miss, transport operations land mid-clip and one slot's
// file is gone. Afterwards the controller ends idle, leaves no timer behind, and its memory
// stayed flat.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "platform/graphics/layer.h"
#include "playback_rig.h"
#include "random_cues.h"
#include "real_clip_rig.h"
#include "support/media_fixtures.h"
#include "support/process_memory.h"

namespace kestio {
namespace {

using test::kSoakBanks;
using test::kSoakColumns;
using test::kSoakRows;
using test::kSoakSlots;
constexpr double kStep = 0.01;

class RealPlaybackSoak : public ::testing::Test, protected test::RealClipRig {
  protected:
    RealPlaybackSoak() : RealClipRig(true), random(20261208) {
        const auto& fixtures = test::mediaFixtures();
        struct File {
            std::filesystem::path path;
            MediaType type;
            double duration;
        };
        const std::vector<File> files = {
            {fixtures.rateClip({30000, 1001}).path, MediaType::video,
             fixtures.rateClip({30000, 1001}).duration},
            {fixtures.rateClip({24, 1}).path, MediaType::video,
             fixtures.rateClip({24, 1}).duration},
            {fixtures.rateClip({60000, 1001}).path, MediaType::video,
             fixtures.rateClip({60000, 1001}).duration},
            {fixtures.video("mov").path, MediaType::video, fixtures.video("mov").duration},
            {fixtures.still("png").path, MediaType::still, 0.0},
            {fixtures.audio("wav").path, MediaType::audio, fixtures.audio("wav").duration},
            {fixtures.folder / "gone" / "missing.mp4", MediaType::video, 2.0},
        };
        project = test::makeProject(kSoakBanks, kSoakRows, kSoakColumns);
        for (int b = 0; b < kSoakBanks; ++b) {
            for (int s = 0; s < kSoakSlots; ++s) {
                const File& file = files[std::size_t(b * kSoakSlots + s) % files.size()];
                SlotData& slot = project.banks[std::size_t(b)].slots[std::size_t(s)];
                slot.videoURL = file.path;
                slot.mediaType = file.type;
                slot.clipInfo->duration = file.duration;
                slot.stillDuration = cues.uniform(0.3, 1.5);
                slot.postRollMode = PostRollMode(cues.pick(5));
                slot.transitionMode =
                    cues.pick(3) == 0 ? TransitionMode::dissolve : TransitionMode::cut;
                slot.dissolveDuration = cues.uniform(0.1, 0.5);
                if (cues.pick(3) == 0) {
                    slot.inPoint = cues.uniform(0.0, 0.5);
                }
                if (cues.pick(2) == 0) {
                    slot.outPoint = cues.uniform(0.7, 1.5);
                }
                if (slot.postRollMode == PostRollMode::jump && cues.pick(4) != 0) {
                    slot.jumpTarget = JumpTarget{cues.pick(kSoakBanks), cues.pick(kSoakSlots)};
                }
            }
        }
    }

    const SlotData& slotData(int bank, int slot) const {
        return project.banks[std::size_t(bank)].slots[std::size_t(slot)];
    }
    void play(int bank, int slot) {
        const SlotData& data = slotData(bank, slot);
        controller->play(bank, slot, *data.videoURL, data, {1920.0, 1080.0});
    }
    // The clock moves in steps while the decoding and loading threads run in real time; each
    // step hands over what they finished and renders the sound the step covers.
    void run(double seconds) {
        for (double moved = 0.0; moved < seconds; moved += kStep) {
            loop.waitForPosted(0.001);
            loop.runPending();
            loop.advance(kStep);
            device->pull(std::uint32_t(kStep * kRate));
        }
        loop.runPending();
    }

    std::mt19937 random;
    test::RandomCues cues{random, kSoakBanks, kSoakSlots};
};

TEST_F(RealPlaybackSoak, TwoThousandRandomCuesEndIdleWithNothingLeftBehind) {
    const int cueCount = test::kSanitized ? 150 : 2000;
    // The first half fills what the show keeps a bounded history of (its log lines among them).
    const int window = cueCount / 2;
    // Every slot once first: what the first use of each file's codecs and formats sets up
    // stays, and is not what this measures.
    for (int b = 0; b < kSoakBanks; ++b) {
        for (int s = 0; s < kSoakSlots; ++s) {
            play(b, s);
            run(0.3);
        }
    }
    controller->handlePostRoll(PostRollMode::black);
    run(3.0);
    const std::size_t pendingAtStart = loop.pendingCount();

    long afterFirst = 0;
    long residentAfterFirst = 0;
    for (int cue = 0; cue < cueCount; ++cue) {
        cues.fire(
            *controller, [this](int bank, int slot) { play(bank, slot); },
            [this](int bank, int slot) -> const SlotData& { return slotData(bank, slot); });
        run(cues.uniform(0.0, 0.4));
        // What the null device rendered is the test's record, not the product's memory.
        device->clearCaptured();
        if (cue == window - 1) {
            // Measured with nothing on air, as at the end: what a playing clip holds comes and
            // goes with it.
            controller->handlePostRoll(PostRollMode::black);
            run(2.0);
            afterFirst = test::heapKilobytes();
            residentAfterFirst = test::residentKilobytes();
        }
    }
    controller->handlePostRoll(PostRollMode::black);
    run(2.0);
    const long afterLast = test::heapKilobytes();
    RecordProperty("heapKbAfterFirstHalf", std::to_string(afterFirst));
    RecordProperty("heapKbAfterLastCue", std::to_string(afterLast));
    RecordProperty("residentKbAfterFirstHalf", std::to_string(residentAfterFirst));
    RecordProperty("residentKbAfterLastCue", std::to_string(test::residentKilobytes()));

    run(3.0);
    EXPECT_EQ(controller->currentBankIndex.get(), std::nullopt);
    EXPECT_EQ(controller->currentSlotIndex.get(), std::nullopt);
    EXPECT_FALSE(controller->isLooping());
    auto& surface = controller->view();
    EXPECT_EQ(surface.slotA().containerLayer()->opacity(), 0.0f);
    EXPECT_EQ(surface.slotB().containerLayer()->opacity(), 0.0f);
    EXPECT_FALSE(surface.slotA().clipPlayer().startTime().get());
    EXPECT_FALSE(surface.slotB().clipPlayer().startTime().get());
    EXPECT_EQ(loop.pendingCount(), pendingAtStart) << "timers were left behind";
    if (!test::kSanitized) {
        EXPECT_LE(double(afterLast), double(afterFirst) * 1.05)
            << "the heap grew from " << afterFirst << " kB to " << afterLast << " kB";
    }
}

}  // namespace
}  // namespace kestio
