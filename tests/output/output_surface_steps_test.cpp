// The output surface's own steps for the show's playback adapter: loading a cue into the hidden
// slot, the equaliser and the stopped player of the slot on air, hiding both slots and cutting
// to a still. Each is checked with slot A on air and with slot B on air.

#include <gtest/gtest.h>

#include <QImage>

#include "output/audio_engine_controller.h"
#include "platform/audio/eq_node.h"
#include "surface_rig.h"

namespace kestio::output {
namespace {

using test::SurfaceRig;

class OutputSurfaceSteps : public ::testing::TestWithParam<bool> {
  protected:
    // A clip on air in slot A (parameter true) or slot B, and the other slot empty.
    void SetUp() override {
        surface().slotB().load("/clips/first.mov", 0.0, std::nullopt, ColorSettings{});
        surface().cut(surface().slotB());
        if (GetParam()) {
            surface().slotA().load("/clips/onair.mov", 0.0, std::nullopt, ColorSettings{});
            surface().cut(surface().slotA());
        }
        ASSERT_EQ(surface().showingA(), GetParam());
    }
    OutputSurface& surface() { return rig.surface; }
    PlaybackSlot& onAir() { return GetParam() ? surface().slotA() : surface().slotB(); }
    PlaybackSlot& hidden() { return GetParam() ? surface().slotB() : surface().slotA(); }

    SurfaceRig rig;
};

TEST_P(OutputSurfaceSteps, ALoadedCueIsInTheHiddenSlotAndRecordedWithItsItem) {
    Cue cue;
    cue.ref = SlotRef{2, 7};
    cue.url = "/clips/standby.mov";
    cue.state = CueState::hiddenPlaying;
    cue.inPoint = 1.5;
    const auto loaded = surface().loadCue(cue, 4.0, ColorSettings{});

    EXPECT_EQ(&loaded.slot, &hidden());
    ASSERT_NE(loaded.item, nullptr);
    EXPECT_EQ(hidden().player()->current(), loaded.item);
    ASSERT_TRUE(surface().background());
    EXPECT_EQ(surface().background()->ref, (SlotRef{2, 7}));
    EXPECT_EQ(surface().background()->state, CueState::hiddenPlaying);
    EXPECT_EQ(surface().background()->inPoint, 1.5);
    EXPECT_EQ(surface().background()->item.lock(), loaded.item);
    EXPECT_EQ(surface().showingA(), GetParam()) << "loading a cue takes nothing to air";
}

TEST_P(OutputSurfaceSteps, TheEqualiserGoesToTheChainOnAirOnly) {
    EqualizerSettings settings;
    settings.khz1_25 = 9.0f;
    surface().applyEqualizerOnAir(settings);
    EXPECT_EQ(onAir().audio().eqNode()->band(3).gain, 9.0f);
    EXPECT_EQ(hidden().audio().eqNode()->band(3).gain, 0.0f);
}

TEST_P(OutputSurfaceSteps, OnlyThePlayerOnAirSaysWhetherItStandsStill) {
    onAir().player()->setRate(0.0f);
    hidden().player()->setRate(1.0f);
    EXPECT_TRUE(surface().isOnAirStopped());
    onAir().player()->setRate(1.0f);
    hidden().player()->setRate(0.0f);
    EXPECT_FALSE(surface().isOnAirStopped());
}

TEST_P(OutputSurfaceSteps, HidingTakesBothSlotsPicturesOffAtOnce) {
    ASSERT_EQ(SurfaceRig::shown(onAir()), 1.0f);
    surface().hideSlots();
    EXPECT_EQ(SurfaceRig::shown(surface().slotA()), 0.0f);
    EXPECT_EQ(SurfaceRig::shown(surface().slotB()), 0.0f);
    EXPECT_EQ(surface().showingA(), GetParam()) << "hiding switches nothing";
}

TEST_P(OutputSurfaceSteps, AStillIsCutToFromTheHiddenSlot) {
    PlaybackSlot& incoming = hidden();
    surface().cutToStill(QImage(64, 36, QImage::Format_RGB32));
    EXPECT_EQ(surface().showingA(), !GetParam());
    EXPECT_TRUE(incoming.isStill());
    EXPECT_EQ(SurfaceRig::shown(incoming), 1.0f);
    EXPECT_FALSE(onAir().player()->current()) << "the slot that was on air is cleared";
}

INSTANTIATE_TEST_SUITE_P(SlotOnAir, OutputSurfaceSteps, ::testing::Bool(),
                         [](const auto& param) { return param.param ? "A" : "B"; });

}  // namespace
}  // namespace kestio::output
