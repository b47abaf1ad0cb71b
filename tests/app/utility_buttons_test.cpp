// The utility buttons: edit lock, colour bars and the test tone with its level menu, on a
// recording output and on the real playback controller.

#include <gtest/gtest.h>

#include <QTest>
#include <cmath>

#include "app/utility_buttons.h"
#include "output/playback_slot.h"
#include "output/test_tone.h"
#include "playback/playback_rig.h"
#include "show/live_signal_output.h"
#include "side_panel_fixture.h"
#include "support/recording_signal_output.h"

namespace kestio::app {
namespace {

using test::near;
using test::setLanguage;

class UtilityButtonsTest : public test::SidePanelFixture {
  protected:
    test::RecordingSignalOutput output;
    UtilityButtons buttons{*show, output, QSize(163, 120)};

    void press(UtilityButtons::Button which) {
        QTest::mouseClick(&buttons, Qt::LeftButton, {},
                          buttons.buttonRect(which).center().toPoint());
    }
    QColor fillOf(const QImage& image, UtilityButtons::Button which) {
        const QRectF r = buttons.buttonRect(which);
        return image.pixelColor(int(r.left()) + 4, int(r.bottom()) - 4);
    }
};

TEST_F(UtilityButtonsTest, EditLockOnlyFlipsTheFlag) {
    press(UtilityButtons::Button::editLock);
    EXPECT_TRUE(show->editLocked.get());
    EXPECT_TRUE(output.calls.empty());
    EXPECT_FALSE(show->hasUnsavedChanges.get());
    press(UtilityButtons::Button::editLock);
    EXPECT_FALSE(show->editLocked.get());
}

TEST_F(UtilityButtonsTest, ColorBarsResetThePlaybackBeforeEitherWay) {
    press(UtilityButtons::Button::colorBars);
    EXPECT_TRUE(show->isColorBarActive.get());
    EXPECT_EQ(output.calls, (std::vector<std::string>{"resetPlayback", "showStillAndCut"}));
    EXPECT_EQ(output.lastStill.size(), QSize(1920, 1080));
    output.calls.clear();
    press(UtilityButtons::Button::colorBars);
    EXPECT_FALSE(show->isColorBarActive.get());
    EXPECT_EQ(output.calls, (std::vector<std::string>{"resetPlayback", "clearOutput"}));
    EXPECT_FALSE(show->hasUnsavedChanges.get());
}

TEST_F(UtilityButtonsTest, ToneStartsAtTheChosenLevelAndStops) {
    press(UtilityButtons::Button::tone);
    EXPECT_TRUE(show->is1kHzActive.get());
    press(UtilityButtons::Button::tone);
    EXPECT_FALSE(show->is1kHzActive.get());
    EXPECT_EQ(output.calls, (std::vector<std::string>{"startTone -20", "stopTone"}));
}

TEST_F(UtilityButtonsTest, ToneStartFailureLeavesButtonOff) {
    output.toneStarts = false;
    press(UtilityButtons::Button::tone);
    EXPECT_FALSE(show->is1kHzActive.get());
    const QImage image = test::render(buttons);
    EXPECT_TRUE(near(fillOf(image, UtilityButtons::Button::tone), ui::palette::white(0.22)));
}

TEST_F(UtilityButtonsTest, ToneLevelWhileOffOnlyChangesLabelAndCheckmark) {
    auto menu = buttons.actions().toneLevelMenu();
    ASSERT_EQ(menu.size(), 9u);
    EXPECT_EQ(menu[0].text, "1kHz Output Level");
    EXPECT_EQ(menu[2].text, "-12 dBFS");
    EXPECT_EQ(menu[8].text, "-24 dBFS");
    EXPECT_TRUE(menu[6].checked);  // -20 at the start
    menu[3].action();              // -14
    EXPECT_EQ(show->toneLevel1kHz.get(), -14.0);
    EXPECT_EQ(toneLevelLabel(show->toneLevel1kHz.get()), "-14dB");
    EXPECT_EQ(output.calls, std::vector<std::string>{"setToneLevel -14"});
    menu = buttons.actions().toneLevelMenu();
    EXPECT_TRUE(menu[3].checked);
    EXPECT_FALSE(menu[6].checked);
    press(UtilityButtons::Button::tone);
    EXPECT_EQ(output.calls.back(), "startTone -14");
    setLanguage(AppLanguage::ja);
    EXPECT_EQ(buttons.actions().toneLevelMenu()[0].text, "1kHz 出力レベル");
}

TEST_F(UtilityButtonsTest, ToneRestartLeavesASingleTone) {
    press(UtilityButtons::Button::tone);
    buttons.actions().toneLevelMenu()[2].action();  // -12 while on
    EXPECT_EQ(output.toneNodes, 1);
    EXPECT_EQ(output.toneLevel, -12.0);
    EXPECT_EQ(output.calls, (std::vector<std::string>{"startTone -20", "setToneLevel -12",
                                                      "stopTone", "startTone -12"}));
}

TEST_F(UtilityButtonsTest, FillsShowEachState) {
    const QImage off = shots(buttons, "utility_buttons_off");
    EXPECT_TRUE(near(fillOf(off, UtilityButtons::Button::editLock), ui::palette::white(0.28)));
    EXPECT_TRUE(near(fillOf(off, UtilityButtons::Button::colorBars), ui::palette::white(0.22)));
    press(UtilityButtons::Button::editLock);
    press(UtilityButtons::Button::colorBars);
    press(UtilityButtons::Button::tone);
    const QImage on = shots(buttons, "utility_buttons_on");
    EXPECT_TRUE(near(fillOf(on, UtilityButtons::Button::editLock), ui::palette::red()));
    EXPECT_TRUE(
        near(fillOf(on, UtilityButtons::Button::colorBars), QColor::fromRgbF(0.2f, 0.5f, 0.8f)));
    EXPECT_TRUE(near(fillOf(on, UtilityButtons::Button::tone), QColor::fromRgbF(0.2f, 0.6f, 0.3f)));
}

// On the real playback controller (scripted media, null audio device, virtual time).
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
}  // namespace kestio::app
