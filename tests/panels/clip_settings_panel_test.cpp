// The clip settings panel on a recording facade: its text and slider scales, what each control
// writes to the loaded slot and hands to the output, typed bad input, and screenshots.

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QLocale>
#include <QTest>
#include <algorithm>
#include <clocale>
#include <cmath>

#include "panels/clip_settings_panel.h"
#include "panels/compact_slider.h"
#include "panels/editable_value_label.h"
#include "panels/styled_button.h"
#include "support/recording_panel_facade.h"
#include "typed_value.h"
#include "ui/palette.h"
#include "ui/panel_card.h"
#include "ui_test_support.h"

namespace kestio::panels {
namespace {

using Calls = std::vector<std::string>;
using test::typeInto;

TEST(ClipSettingsPanelText, ParseRateAndDissolve) {
    struct Case {
        const char* text;
        std::optional<double> value;
    };
    const Case rates[] = {{"1.5x", 1.5},         {"x1.5", 1.5},      {"X 1.5", 1.5},
                          {" 1.5 ", 1.5},        {"12", 12.0},       {"1,5", std::nullopt},
                          {"abc", std::nullopt}, {"x", std::nullopt}};
    for (const auto& c : rates) {
        EXPECT_EQ(clip_settings::parsePlayRate(QString::fromUtf8(c.text)), c.value) << c.text;
    }
    const Case times[] = {{"2s", 2.0},
                          {"2 S", 2.0},
                          {"2", 2.0},
                          {"2sec", std::nullopt},
                          {"2 seconds", std::nullopt},
                          {"0.01", 0.01}};
    for (const auto& c : times) {
        EXPECT_EQ(clip_settings::parseDissolveTime(QString::fromUtf8(c.text)), c.value) << c.text;
    }
    EXPECT_EQ(clip_settings::formatDissolveTime(1.0), "1.00 s");
    EXPECT_EQ(clip_settings::formatPlayRate(0.5), "x0.50");
    EXPECT_EQ(clip_settings::fieldRate(std::nan("")), 0.1);
    EXPECT_EQ(clip_settings::fieldRate(0.0), 0.1);
    EXPECT_EQ(clip_settings::fieldRate(12.0), 8.0);
}

// Positions whose rate lies strictly inside (0.95, 1.05) write exactly 1; the band's ends and
// everything outside it are not snapped; the ends write 0.1 and 8 exactly.
TEST(ClipSettingsPanelText, SliderSnapAndEnds) {
    EXPECT_EQ(clip_settings::sliderRate(std::log2(0.9501)), 1.0);
    EXPECT_EQ(clip_settings::sliderRate(std::log2(1.0499)), 1.0);
    EXPECT_NEAR(clip_settings::sliderRate(std::log2(0.95)), 0.95, 1e-12);
    EXPECT_NE(clip_settings::sliderRate(std::log2(0.95)), 1.0);
    EXPECT_NE(clip_settings::sliderRate(std::log2(1.05)), 1.0);
    EXPECT_EQ(clip_settings::sliderRate(clip_settings::kRateSliderMin), 0.1);
    EXPECT_EQ(clip_settings::sliderRate(clip_settings::kRateSliderMax), 8.0);
    EXPECT_EQ(clip_settings::sliderRate(-10.0), 0.1);
    EXPECT_EQ(clip_settings::sliderRate(10.0), 8.0);
    EXPECT_EQ(clip_settings::rateSliderPosition(1.0), 0.0);
    EXPECT_EQ(clip_settings::rateSliderPosition(std::nan("")), std::log2(0.1));
    EXPECT_EQ(clip_settings::rateSliderPosition(0.01), std::log2(0.1));
}

class ClipSettingsPanelTest : public ::testing::Test {
  protected:
    ClipSettingsPanelTest() {
        test::setLanguage(AppLanguage::en);
        card.show();
    }
    test::RecordingPanelFacade facade;
    ui::PanelCard card{ui::PanelCardStyle::clipSettings()};
    ClipSettingsPanel* settingsPanel = new ClipSettingsPanel(facade, card);
};

TEST_F(ClipSettingsPanelTest, NothingLoaded) {
    EXPECT_FALSE(settingsPanel->dissolveField()->isVisible());
    EXPECT_FALSE(settingsPanel->rateField()->isVisible());
    EXPECT_FALSE(settingsPanel->dissolveSlider()->isEnabled());
    EXPECT_FALSE(settingsPanel->rateSlider()->isEnabled());
    EXPECT_FALSE(settingsPanel->resetButton()->isEnabled());
    for (auto mode : {TransitionMode::cut, TransitionMode::dissolve}) {
        EXPECT_EQ(settingsPanel->transitionButton(mode)->look().strokeWidth, 0.5);
        QTest::mouseClick(settingsPanel->transitionButton(mode), Qt::LeftButton);
    }
    QTest::mousePress(settingsPanel->rateSlider(), Qt::LeftButton, {}, QPoint(300, 6));
    QTest::mousePress(settingsPanel->dissolveSlider(), Qt::LeftButton, {}, QPoint(30, 6));
    settingsPanel->resetPlayRate();
    EXPECT_EQ(facade.calls, Calls{});
    EXPECT_FALSE(facade.unsaved);
}

TEST_F(ClipSettingsPanelTest, TransitionAndDissolveWriteTheLoadedSlotOnly) {
    facade.setLoaded(7, 12);
    QTest::mouseClick(settingsPanel->transitionButton(TransitionMode::dissolve), Qt::LeftButton);
    EXPECT_EQ(facade.slot(7, 12).transitionMode, TransitionMode::dissolve);
    EXPECT_EQ(settingsPanel->transitionButton(TransitionMode::dissolve)->look().strokeWidth, 1.5);
    typeInto(settingsPanel->dissolveField(), "2 S");
    EXPECT_EQ(facade.slot(7, 12).dissolveDuration, 2.0);
    // Neither reaches the output; each write is followed by the unsaved mark.
    EXPECT_EQ(facade.calls, (Calls{"edit 7 12", "unsaved", "edit 7 12", "unsaved"}));
    EXPECT_EQ(facade.slot(0, 12).transitionMode, TransitionMode::cut);
}

// Typed values: clamped into the range, and text that gives no number (or NaN) leaves the value
// as it was, also with a German C library locale.
TEST_F(ClipSettingsPanelTest, TypedDissolveTimes) {
    facade.setLoaded(0, 0);
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const std::string previous = std::setlocale(LC_NUMERIC, nullptr);
    std::setlocale(LC_NUMERIC, "de_DE.UTF-8");  // when installed
    struct Case {
        const char* typed;
        double value;  // 1.0: unchanged
    };
    const Case cases[] = {{"0.01", 0.033}, {"10", 5.0},    {"2s", 2.0},     {"", 1.0},
                          {"nan", 1.0},    {"1e400", 5.0}, {"-0", 0.033},   {"１２", 1.0},
                          {"3,5", 1.0},    {"2sec", 1.0},  {"-inf", 0.033}, {"inf s", 5.0}};
    for (const auto& c : cases) {
        facade.slot(0, 0).dissolveDuration = 1.0;
        typeInto(settingsPanel->dissolveField(), QString::fromUtf8(c.typed));
        EXPECT_EQ(facade.slot(0, 0).dissolveDuration, c.value) << c.typed;
    }
    std::setlocale(LC_NUMERIC, previous.c_str());
    QLocale::setDefault(QLocale::c());
}

TEST_F(ClipSettingsPanelTest, RateFieldSliderAndReset) {
    facade.setLoaded(3, 4);
    typeInto(settingsPanel->rateField(), "X 1.5");
    // The rate reaches the clip on air through the show's slot edit; the panel only writes.
    EXPECT_EQ(facade.slot(3, 4).playRate, 1.5);
    EXPECT_EQ(facade.calls, (Calls{"edit 3 4", "unsaved"}));
    EXPECT_TRUE(settingsPanel->resetButton()->isEnabled());

    // A drag writes the rate once per movement.
    facade.calls.clear();
    auto* slider = settingsPanel->rateSlider();
    QTest::mousePress(slider, Qt::LeftButton, {}, QPoint(slider->width() + 20, 6));
    EXPECT_EQ(facade.slot(3, 4).playRate, 8.0);
    QMouseEvent move(QEvent::MouseMove, QPointF(-20, 6), slider->mapToGlobal(QPointF(-20, 6)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(slider, &move);
    EXPECT_EQ(facade.slot(3, 4).playRate, 0.1);
    EXPECT_EQ(facade.calls, (Calls{"edit 3 4", "unsaved", "edit 3 4", "unsaved"}));

    facade.calls.clear();
    QTest::mouseClick(settingsPanel->resetButton(), Qt::LeftButton);
    EXPECT_EQ(facade.slot(3, 4).playRate, 1.0);
    EXPECT_EQ(facade.calls, (Calls{"edit 3 4", "unsaved"}));
    EXPECT_FALSE(settingsPanel->resetButton()->isEnabled());
    facade.slot(3, 4).playRate = 1.01;
    settingsPanel->refresh();
    EXPECT_TRUE(settingsPanel->resetButton()->isEnabled());

    // Typed rates: 12 gives 8, 0 gives 0.1; no number leaves it.
    for (auto [typed, rate] : {std::pair{"12", 8.0}, std::pair{"0", 0.1}, std::pair{"1,5", 0.1},
                               std::pair{"nan", 0.1}, std::pair{"abc", 0.1}}) {
        typeInto(settingsPanel->rateField(), QString::fromUtf8(typed));
        EXPECT_EQ(facade.slot(3, 4).playRate, rate) << typed;
    }
}

// A value being typed when another slot goes on air is written to the slot it was begun on.
TEST_F(ClipSettingsPanelTest, TypedValueStaysWithItsSlot) {
    facade.setLoaded(1, 1);
    auto* field = settingsPanel->dissolveField();
    field->beginEditing();
    field->field()->selectAll();
    QTest::keyClicks(field->field(), "3");
    facade.setLoaded(1, 2);
    EXPECT_EQ(facade.slot(1, 1).dissolveDuration, 3.0);
    EXPECT_EQ(facade.slot(1, 2).dissolveDuration, 1.0);
    EXPECT_FALSE(field->isEditing());
}

TEST(ClipSettingsPanelShots, IdleAndEditingInBothLanguages) {
    for (AppLanguage language : {AppLanguage::en, AppLanguage::ja}) {
        test::setLanguage(language);
        const QString suffix = language == AppLanguage::en ? "en" : "ja";
        test::RecordingPanelFacade facade;
        ui::PanelCard card(ui::PanelCardStyle::clipSettings());
        auto* settingsPanel = new ClipSettingsPanel(facade, card);
        card.show();
        test::saveShot(test::render(card, ui::palette::white(0.42)),
                       "settings_panel_idle_" + suffix);
        facade.slot(0, 3).transitionMode = TransitionMode::dissolve;
        facade.slot(0, 3).dissolveDuration = 2.5;
        facade.slot(0, 3).playRate = 1.5;
        facade.setLoaded(0, 3);
        const QImage loaded = test::render(card, ui::palette::white(0.42));
        test::saveShot(loaded, "settings_panel_loaded_" + suffix);
        // The selected Dissolve button is green.
        const QPoint dissolve =
            settingsPanel->transitionButton(TransitionMode::dissolve)->mapTo(&card, QPoint(20, 19));
        EXPECT_TRUE(test::near(loaded.pixelColor(dissolve), QColor::fromRgbF(0.1f, 0.52f, 0.18f)));
        settingsPanel->rateField()->beginEditing();
        test::saveShot(test::render(card, ui::palette::white(0.42)),
                       "settings_panel_editing_" + suffix);
        settingsPanel->rateField()->cancel();
    }
}

}  // namespace
}  // namespace kestio::panels
