// The utility buttons: edit lock, colour bars and the test tone with its level menu, on a
// recording output.

#include <gtest/gtest.h>

#include <QTest>

#include "app/utility_buttons.h"
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

}  // namespace
}  // namespace kestio::app
