// The colour bars and the test tone on the real playback controller (scripted media, null audio
// device, virtual time).

#include <gtest/gtest.h>

#include <QImage>
#include <cmath>

#include "output/output_surface.h"
#include "output/playback_slot.h"
#include "output/test_tone.h"
#include "playback/playback_rig.h"
#include "show/live_signal_output.h"

namespace kestio {
namespace {

class LiveSignalOutputTest : public ::testing::Test {
  protected:
    test::PlaybackRig rig;
    LiveSignalOutput output{rig.pc()};
};

TEST_F(LiveSignalOutputTest, ColorBarsStopsControllerWatchers) {
    auto& still = rig.editSlot(0, 2);
    still.mediaType = MediaType::still;
    still.stillDuration = 2.0;
    still.postRollMode = PostRollMode::next;
    rig.playSlot(0, 2);
    rig.advance(0.5);
    ASSERT_EQ(rig.pc().currentBankIndex.get(), 0);

    output.resetPlayback();
    output.showStillAndCut(QImage(64, 36, QImage::Format_RGB32));
    // The still's timer would have asked for the next slot at 2 s.
    rig.advance(5.0);
    EXPECT_TRUE(rig.requests.empty());
    EXPECT_FALSE(rig.pc().currentBankIndex.get());
    EXPECT_FALSE(rig.pc().currentSlotIndex.get());
    EXPECT_TRUE(rig.surface().showingSlot().isStill());

    output.resetPlayback();
    output.clearOutput();
    EXPECT_TRUE(rig.surface().showingA());
    EXPECT_FALSE(rig.surface().slotA().isStill());
    EXPECT_FALSE(rig.surface().slotB().isStill());
}

// The bars go up while nothing is on air and a cue is on its way there: the cue never comes on
// air over the bars, and nothing of it runs on (a still is on its way from its key press, though
// it names nothing on the panels until its picture is decoded).
enum class OnItsWay { stillBeingDecoded, videoBeforeItsTake, standbyCue };

class BarsOverACueOnItsWay : public LiveSignalOutputTest,
                             public ::testing::WithParamInterface<OnItsWay> {};

TEST_P(BarsOverACueOnItsWay, TheCueNeverComesOnAirOverTheBars) {
    auto& data = rig.editSlot(0, 2);
    data.postRollMode = PostRollMode::next;
    switch (GetParam()) {
        case OnItsWay::stillBeingDecoded:
            data.mediaType = MediaType::still;
            data.stillDuration = 2.0;
            rig.playSlot(0, 2);
            break;
        case OnItsWay::videoBeforeItsTake:
            rig.playSlot(0, 2);
            break;
        case OnItsWay::standbyCue:
            rig.pc().standby(0, 2, *data.videoURL, data, {1920.0, 1080.0});
            break;
    }
    ASSERT_FALSE(rig.surface().foreground());
    ASSERT_EQ(rig.surface().onAirOrOnItsWay(), (SlotRef{0, 2}));

    output.resetPlayback();
    output.showStillAndCut(QImage(64, 36, QImage::Format_RGB32));
    rig.advance(5.0);
    EXPECT_EQ(rig.surface().showingSlot().originalStillImage().size(), QSize(64, 36))
        << "the cue came on air over the bars";
    EXPECT_FALSE(rig.surface().onAirOrOnItsWay());
    EXPECT_FALSE(rig.pc().currentBankIndex.get());
    EXPECT_TRUE(rig.requests.empty());
}

INSTANTIATE_TEST_SUITE_P(Cues, BarsOverACueOnItsWay,
                         ::testing::Values(OnItsWay::stillBeingDecoded,
                                           OnItsWay::videoBeforeItsTake, OnItsWay::standbyCue));

TEST_F(LiveSignalOutputTest, ToneStartsOnTheSharedEngineAndFailsVisibly) {
    ASSERT_TRUE(output.startTone(-14));
    EXPECT_TRUE(rig.pc().toneGen().isRunning());
    EXPECT_NEAR(rig.pc().toneGen().amplitude(), std::pow(10.0, -14.0 / 20.0), 1e-6);
    output.stopTone();
    EXPECT_FALSE(rig.pc().toneGen().isRunning());

    rig.surface().sharedEngine().stop();
    rig.device->failNextStart("no sound server");
    EXPECT_FALSE(output.startTone(-20));
    EXPECT_FALSE(rig.pc().toneGen().isRunning());
}

}  // namespace
}  // namespace kestio
