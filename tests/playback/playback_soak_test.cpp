// The playback core under a long random show in virtual time, on scripted media: cues fired at
// random moments over every kind of slot and post-roll, loops released at random points,
// preloads that miss, transport operations mid-clip and files that fail. Afterwards the
// controller stops cleanly, leaves no timer behind, and its memory stayed flat.

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "playback/playback_steps.h"
#include "random_cues.h"
#include "support/process_memory.h"

namespace kestio {
namespace {

using test::kSoakBanks;
using test::kSoakColumns;
using test::kSoakRows;
using test::kSoakSlots;

class PlaybackSoak : public ::testing::Test {
  protected:
    PlaybackSoak() : random(20261207) {
        rig.project = test::makeProject(kSoakBanks, kSoakRows, kSoakColumns);
        for (int b = 0; b < kSoakBanks; ++b) {
            for (int s = 0; s < kSoakSlots; ++s) {
                configure(b, s);
            }
        }
    }

    double uniform(double from, double to) {
        return std::uniform_real_distribution<double>(from, to)(random);
    }
    int pick(int count) { return std::uniform_int_distribution<int>(0, count - 1)(random); }

    void configure(int bank, int index) {
        SlotData& slot = rig.editSlot(bank, index);
        const int kind = pick(12);
        slot.mediaType = kind == 0   ? MediaType::still
                         : kind == 1 ? MediaType::audio
                                     : MediaType::video;
        slot.stillDuration = uniform(0.3, 2.0);
        slot.postRollMode = PostRollMode(pick(5));
        slot.transitionMode = pick(3) == 0 ? TransitionMode::dissolve : TransitionMode::cut;
        slot.dissolveDuration = uniform(0.1, 0.6);
        if (pick(3) == 0) {
            slot.inPoint = uniform(0.0, 1.0);
        }
        if (pick(2) == 0) {
            slot.outPoint = uniform(1.2, 3.5);
        }
        if (slot.postRollMode == PostRollMode::jump && pick(4) != 0) {
            slot.jumpTarget = JumpTarget{pick(kSoakBanks), pick(kSoakSlots)};
        }
        test::FakeMediaScript script;
        script.duration = uniform(1.0, 4.0);
        slot.clipInfo->duration = script.duration;
        script.readyDelay = uniform(0.02, 0.3);
        script.prerollDelay = pick(4) == 0 ? uniform(0.0, 0.2) : 0.0;
        script.loads = pick(12) != 0;
        rig.media.setScript(*slot.videoURL, script);
    }

    // Lets the chains' load threads hand over what they finished (a chain that loads nothing
    // is not waited for).
    void settle() {
        for (auto* chain : {&rig.surface().audioA(), &rig.surface().audioB()}) {
            for (int i = 0; i < 200 && !chain->loadFinished(); ++i) {
                rig.loop.waitForPosted(0.005);
            }
        }
        rig.loop.runPending();
    }
    void run(double seconds) {
        for (double moved = 0.0; moved < seconds; moved += 0.05) {
            settle();
            rig.loop.advance(0.05);
        }
        settle();
    }

    void fireOneCue() {
        cues.fire(
            rig.pc(), [this](int bank, int slot) { rig.playSlot(bank, slot); },
            [this](int bank, int slot) -> const SlotData& { return rig.slot(bank, slot); });
    }

    test::PlaybackRig rig;
    std::mt19937 random;
    test::RandomCues cues{random, kSoakBanks, kSoakSlots};
};

TEST_F(PlaybackSoak, TenThousandRandomCuesEndIdleWithNothingLeftBehind) {
    const int cues = test::kSanitized ? 2000 : 10000;
    const int window = cues / 10;
    // Both chains have loaded once, so settle() waits only for loads under way.
    rig.playSlot(0, 0);
    run(0.5);
    rig.playSlot(0, 1);
    run(0.5);
    rig.pc().handlePostRoll(PostRollMode::black);
    run(5.0);
    const std::size_t pendingAtStart = rig.loop.pendingCount();

    long afterFirst = 0;
    for (int cue = 0; cue < cues; ++cue) {
        fireOneCue();
        run(uniform(0.0, 1.0));
        // The fakes' own call records are the test's, not the product's memory.
        for (auto* slot : {&rig.surface().slotA(), &rig.surface().slotB()}) {
            test::fakePlayer(*slot).clearCalls();
            if (auto* clipPlayer = dynamic_cast<test::FakeClipPlayer*>(&slot->clipPlayer())) {
                clipPlayer->clearCalls();
            }
        }
        if (cue == window - 1) {
            afterFirst = test::residentKilobytes();
        }
    }
    const long afterLast = test::residentKilobytes();
    RecordProperty("residentKbAfterFirstTenth", std::to_string(afterFirst));
    RecordProperty("residentKbAfterLastCue", std::to_string(afterLast));

    rig.pc().handlePostRoll(PostRollMode::black);
    run(10.0);
    EXPECT_EQ(rig.pc().currentBankIndex.get(), std::nullopt);
    EXPECT_EQ(rig.pc().currentSlotIndex.get(), std::nullopt);
    EXPECT_FALSE(rig.pc().isLooping());
    EXPECT_EQ(rig.surface().slotA().containerLayer()->opacity(), 0.0f);
    EXPECT_EQ(rig.surface().slotB().containerLayer()->opacity(), 0.0f);
    EXPECT_FALSE(rig.surface().slotA().clipPlayer().startTime().get());
    EXPECT_FALSE(rig.surface().slotB().clipPlayer().startTime().get());
    EXPECT_EQ(rig.loop.pendingCount(), pendingAtStart) << "timers were left behind";
    if (!test::kSanitized) {
        EXPECT_LE(double(afterLast), double(afterFirst) * 1.05)
            << "resident memory grew from " << afterFirst << " kB to " << afterLast << " kB";
    }
}

}  // namespace
}  // namespace kestio
