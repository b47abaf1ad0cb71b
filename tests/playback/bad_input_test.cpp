// Bad input never crashes or stalls the controller: numbers a hand-edited document may hold,
// an out point before the in point, media with nothing to show or hear.

#include <gtest/gtest.h>

#include <limits>

#include "platform/graphics/layer.h"
#include "platform/runloop/console.h"
#include "playback_rig.h"

namespace kestio {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

class BadInput : public ::testing::Test {
  protected:
    BadInput() { rig.playRequests = false; }
    test::PlaybackRig rig;
};

TEST_F(BadInput, NumbersThatAreNotFiniteCountAsAbsent) {
    for (const MediaType type : {MediaType::video, MediaType::audio, MediaType::still}) {
        auto& slot = rig.editSlot(0, 0);
        slot.mediaType = type;
        slot.inPoint = kNaN;
        slot.outPoint = kInf;
        slot.playRate = kNaN;
        slot.dissolveDuration = kNaN;
        slot.stillDuration = -kInf;
        slot.audioSettings.masterLevel = float(kNaN);
        slot.clipInfo->fps = kNaN;
        slot.clipInfo->duration = kNaN;
        slot.geometry.scaleX = kNaN;
        rig.playSlot(0, 0);
        rig.advance(1.0);
        EXPECT_EQ(rig.pc().currentBankIndex.get(), 0) << int(type);
        EXPECT_TRUE(std::isfinite(rig.pc().currentTime.get())) << int(type);
        rig.pc().handlePostRoll(PostRollMode::black);
    }
}

TEST_F(BadInput, AnOutPointBeforeTheInPointEndsTheClipAtOnce) {
    auto& slot = rig.editSlot(0, 0);
    slot.inPoint = 5.0;
    slot.outPoint = 3.0;
    slot.postRollMode = PostRollMode::next;
    rig.playSlot(0, 0);
    rig.advance(1.0);
    ASSERT_EQ(rig.requests.size(), 1u);
    EXPECT_EQ(rig.requests[0], (SlotRef{0, 1}));
}

TEST_F(BadInput, AClipWithNoPictureAndNoSoundIsAConsoleLineAndBlack) {
    rig.media.setScript("/media/b0s0.mp4",
                        test::FakeMediaScript{.video = std::nullopt, .audio = std::nullopt});
    platform::Console::Capture console;
    rig.playSlot(0, 0);
    rig.advance(1.0);
    rig.pc().playLog().flush();  // its console lines are written
    EXPECT_TRUE(console.contains("has no picture"));
    // Whatever is shown of it is nothing: the output is black, and nothing crashed.
    EXPECT_EQ(rig.pc().currentSlotIndex.get(), 0);
}

TEST_F(BadInput, ARequestedSlotBeyondTheProjectIsIgnoredByTheClocks) {
    // The show controller refuses such a slot; should one reach the clocks, they see no data.
    rig.project.banks[0].slots.resize(1);
    rig.editSlot(0, 0).postRollMode = PostRollMode::next;
    rig.editSlot(0, 0).outPoint = 0.5;
    rig.playSlot(0, 0);
    rig.advance(1.0);
    // The next-slot rule finds no slot 1 in the short bank and goes to bank 2.
    ASSERT_EQ(rig.requests.size(), 1u);
    EXPECT_EQ(rig.requests[0], (SlotRef{1, 0}));
}

// A format change for the next clip never touches the chain of the clip on air.
TEST(EngineFormat, AClipOfAnotherFormatLeavesTheChainOnAirAsItIs) {
    test::PlaybackRig rig;
    rig.playSlot(0, 0);
    rig.advance(0.5);
    auto& onAir = rig.surface().showingSlot().audio();
    const auto links = onAir.linkFormat();
    const bool effects = onAir.usesEffects();
    rig.editSlot(0, 1).clipInfo->sampleRate = 96000.0;
    rig.editSlot(0, 1).clipInfo->channels = 6;
    rig.playSlot(0, 1);
    // The links carry what they carried, through the same nodes.
    EXPECT_EQ(onAir.linkFormat(), links);
    EXPECT_EQ(onAir.usesEffects(), effects);
}

}  // namespace
}  // namespace kestio
