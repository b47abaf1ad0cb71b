// The play entry: dispatch, the log line, the preload rules, the still path and warm-up.

#include <gtest/gtest.h>

#include "platform/graphics/layer.h"
#include "platform/runloop/console.h"
#include "playback_rig.h"

namespace kestio {
namespace {

class PlayEntry : public ::testing::Test {
  protected:
    static float shown(const output::PlaybackSlot& slot) {
        return slot.containerLayer()->presentationOpacity();
    }
    test::PlaybackRig rig;
};

TEST_F(PlayEntry, AVideoGoesOnAirThroughTheHiddenSlotWithItsLogLines) {
    auto& slotB = rig.surface().slotB();
    rig.playSlot(0, 0);
    EXPECT_EQ(rig.pc().currentBankIndex.get(), 0);
    EXPECT_EQ(rig.pc().currentSlotIndex.get(), 0);
    EXPECT_EQ(rig.pc().selectedClipName.get(), "b0s0");
    EXPECT_EQ(rig.pc().duration.get(), 10.0);
    rig.advance(0.5);
    EXPECT_FALSE(rig.surface().showingA());
    EXPECT_EQ(shown(slotB), 1.0f);
    EXPECT_TRUE(
        rig.logHas("] 再生開始: BANK1 SLOT1 b0s0 transition=cut geo=fitToWindow/scale100%"));
    EXPECT_TRUE(rig.logHas("] 映像 readyToPlay: b0s0 +"));
    EXPECT_TRUE(rig.logHas("] presentationSize: (1920.0, 1080.0) → nativeSize: (1920.0, 1080.0)"));
    // Post-roll freeze: no preload asked.
    EXPECT_TRUE(rig.preloadRequests.empty());
}

TEST_F(PlayEntry, ANextVideoAsksForItsFollowerToBePreloaded) {
    rig.editSlot(0, 0).postRollMode = PostRollMode::next;
    rig.playSlot(0, 0);
    rig.advance(0.5);
    ASSERT_EQ(rig.preloadRequests.size(), 1u);
    EXPECT_EQ(rig.preloadRequests[0], (SlotRef{0, 1}));
}

TEST_F(PlayEntry, AJumpVideoAsksForItsTargetOnlyWhenItIsInTheProject) {
    rig.editSlot(0, 0).postRollMode = PostRollMode::jump;
    rig.editSlot(0, 0).jumpTarget = JumpTarget{1, 3};
    rig.playSlot(0, 0);
    rig.advance(0.5);
    ASSERT_EQ(rig.preloadRequests.size(), 1u);
    EXPECT_EQ(rig.preloadRequests[0], (SlotRef{1, 3}));

    rig.editSlot(0, 1).postRollMode = PostRollMode::jump;
    rig.editSlot(0, 1).jumpTarget = JumpTarget{7, 40};
    rig.playSlot(0, 1);
    rig.advance(0.5);
    EXPECT_EQ(rig.preloadRequests.size(), 1u);
}

TEST_F(PlayEntry, ALineIsWrittenForAScaleThatIsNotANumber) {
    rig.editSlot(0, 2).geometry.scaleX = std::numeric_limits<double>::infinity();
    rig.playSlot(0, 2);
    EXPECT_TRUE(rig.logHas("再生開始: BANK1 SLOT3 b0s2 transition=cut geo=fitToWindow/scaleinf%"));
}

TEST_F(PlayEntry, AStillIsPublishedWithItsDurationAndPlacedByItsOwnSize) {
    auto& still = rig.editSlot(1, 2);
    still.mediaType = MediaType::still;
    still.stillDuration = 4.0;
    still.transitionMode = TransitionMode::cut;
    rig.playSlot(1, 2);
    rig.loop.runPending();
    EXPECT_EQ(rig.pc().currentBankIndex.get(), 1);
    EXPECT_EQ(rig.pc().currentSlotIndex.get(), 2);
    EXPECT_EQ(rig.pc().currentTime.get(), 0.0);
    EXPECT_EQ(rig.pc().duration.get(), 4.0);
    EXPECT_TRUE(rig.surface().slotB().isStill());
    EXPECT_EQ(shown(rig.surface().slotB()), 1.0f);
}

TEST_F(PlayEntry, AStillThatCannotBeDecodedLeavesThePictureOnAirAndSaysWhy) {
    rig.playSlot(0, 0);
    rig.advance(0.5);
    rig.decodeStill = [](const std::filesystem::path&, const std::function<bool()>&) {
        return platform::stillFailure(platform::StillProblem::truncated, "truncated JPEG");
    };
    rig.editSlot(0, 1).mediaType = MediaType::still;
    platform::Console::Capture console;
    rig.playSlot(0, 1);
    rig.loop.runPending();
    rig.pc().playLog().flush();  // its console lines are written
    EXPECT_TRUE(console.contains("truncated JPEG"));
    EXPECT_EQ(shown(rig.surface().slotB()), 1.0f);
    EXPECT_FALSE(rig.surface().slotA().isStill());
}

TEST_F(PlayEntry, WhileWarmingAStillOnlySignalsReadyOnALaterTurn) {
    rig.editSlot(0, 1).mediaType = MediaType::still;
    rig.pc().setWarming(true);
    int ready = 0;
    rig.pc().onWarmReady = [&] { ++ready; };
    rig.playSlot(0, 1);
    EXPECT_EQ(ready, 0);
    rig.loop.runPending();
    EXPECT_EQ(ready, 1);
    EXPECT_FALSE(rig.pc().currentBankIndex.get());
    EXPECT_FALSE(rig.logHas("再生開始"));
}

TEST_F(PlayEntry, APlayOfAnotherSlotDropsThePreloadAndAFailedItemIsAConsoleLine) {
    rig.media.setScript("/media/b0s3.mp4", test::FakeMediaScript{.loads = false});
    platform::Console::Capture console;
    rig.playSlot(0, 3);
    rig.advance(0.5);
    rig.pc().playLog().flush();  // its console lines are written
    EXPECT_TRUE(console.contains("video: cannot play /media/b0s3.mp4"));
    EXPECT_TRUE(rig.logHas("映像を再生できません: b0s3"));
    // Nothing was switched: slot A is still the one on air.
    EXPECT_TRUE(rig.surface().showingA());
}

}  // namespace
}  // namespace kestio
