// The EQ and colour panel and the geometry section on the recording facade: which slot each
// edit writes, the order of write, unsaved mark and output call, the refusals, and pictures.

#include <gtest/gtest.h>

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QTest>
#include <QWheelEvent>

#include "panels/eq_band_slider.h"
#include "panels/eq_color_panel.h"
#include "panels/eq_color_rows.h"
#include "panels/geometry_section.h"
#include "panels/styled_button.h"
#include "support/recording_panel_facade.h"
#include "ui/palette.h"
#include "ui/panel_card.h"
#include "ui/popover.h"
#include "ui_test_support.h"

namespace kestio::panels {
namespace {

using Calls = std::vector<std::string>;

// Turns the mouse wheel `notches` notches up over the middle of `widget`, as the window system
// delivers it (an ignored turn goes on to the parents).
void turnWheel(QWidget& widget, int notches) {
    const QPointF at = QRectF(widget.rect()).center();
    for (int i = 0; i < notches; ++i) {
        QWheelEvent event(at, widget.mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(&widget, &event);
    }
}

class EqColorPanelTest : public ::testing::Test {
  protected:
    void SetUp() override {
        test::setLanguage(AppLanguage::en);
        // The loaded slot lies in another bank than the grid would show.
        facade.setLoaded(3, 7);
        panel = new EqColorPanel(facade, card);
        card.show();
        facade.calls.clear();
    }
    const SlotData& loaded() { return facade.slot(3, 7); }

    test::RecordingPanelFacade facade;
    ui::PanelCard card{ui::PanelCardStyle::eqColor()};
    EqColorPanel* panel = nullptr;
};

// The show's slot edit hands what changed to the clip on air; the panel writes, then marks.
TEST_F(EqColorPanelTest, ABandDragWritesTheLoadedSlotThenMarks) {
    EQBandSlider* slider = panel->bandSlider(1);
    QTest::mousePress(slider, Qt::LeftButton, {}, QPoint(10, 0));
    QTest::mouseMove(slider, QPoint(10, 56 - 5 * 112 / 24));
    QTest::mouseRelease(slider, Qt::LeftButton, {}, QPoint(10, 56 - 5 * 112 / 24));
    EXPECT_EQ(loaded().equalizer.hz315, 5.0f);
    EXPECT_EQ(facade.calls, (Calls{"edit 3 7", "unsaved", "edit 3 7", "unsaved"}));
    EXPECT_EQ(panel->bandReadout(1), "+5");
    // Every other slot stayed as it was.
    EXPECT_EQ(facade.slot(0, 7).equalizer, EqualizerSettings{});
}

TEST_F(EqColorPanelTest, ColourSliderStepsAreCubicAndDoubleClickResets) {
    panel->selectTab(1);
    EQBandSlider* contrast = panel->colorSlider(1);
    // One dB step above the middle on a 112-high slider.
    QTest::mousePress(contrast, Qt::LeftButton, {}, QPoint(10, 56 - 112 / 24));
    QTest::mouseRelease(contrast, Qt::LeftButton, {}, QPoint(10, 56 - 112 / 24));
    EXPECT_FLOAT_EQ(loaded().colorSettings.contrast, 1.0f + 1.0f / 1728.0f);
    EXPECT_EQ(panel->colorReadout(1), "1.00");  // finer than the readout shows
    test::doubleClick(*contrast, QPoint(10, 10));
    EXPECT_EQ(loaded().colorSettings.contrast, 1.0f);
    EXPECT_EQ(loaded().colorSettings, ColorSettings{});
    EXPECT_EQ(facade.calls.back(), "unsaved");
}

TEST_F(EqColorPanelTest, TypedValuesClampOrWriteNothing) {
    panel->selectTab(1);
    struct Case {
        std::size_t row;
        const char* text;
        float expected;
    };
    const Case cases[] = {
        {2, "2.5", 2.0f},     {2, "0.5", 0.5f}, {2, "", 0.5f},      {2, "nan", 0.5f},
        {3, "1e400", 180.0f}, {3, "-0", -0.0f}, {3, "１２", -0.0f}, {3, "3,5", -0.0f},
        {4, " 1.2", 1.0f},    {4, "-7", 0.1f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        panel->beginValueEntry(c.row);
        ASSERT_NE(panel->entryField(), nullptr);
        ASSERT_TRUE(panel->entryPopover()->isOpen());
        panel->entryField()->setText(QString::fromUtf8(c.text));
        QTest::keyClick(panel->entryField(), Qt::Key_Return);
        EXPECT_EQ(loaded().colorSettings.*(colorRows()[c.row].field), c.expected);
        EXPECT_FALSE(facade.colorSliderEditingLabel().get().has_value());  // closed either way
    }
    // The entry opens with the value in two decimals, hue too.
    facade.slot(3, 7).colorSettings.hue = 45;
    panel->beginValueEntry(3);
    EXPECT_EQ(panel->entryField()->text(), "45.00");
    EXPECT_EQ(facade.colorSliderEditingLabel().get(), "Hue");
    panel->cancelValueEntry();
    EXPECT_EQ(loaded().colorSettings.hue, 45.0f);
}

TEST_F(EqColorPanelTest, EditLockAndNoSlotRefuseEveryPath) {
    facade.editLocked().set(true);
    panel->setBand(0, 6);
    panel->setColorPosition(0, 12);
    panel->resetRowToDefault(0);
    panel->beginValueEntry(0);
    panel->reset();
    EXPECT_FALSE(facade.colorSliderEditingLabel().get().has_value());
    EXPECT_TRUE(facade.calls.empty());
    EXPECT_FALSE(panel->resetButton()->isEnabled());
    EXPECT_FALSE(panel->content()->isEnabled());
    // The tabs still switch under the lock.
    QTest::mouseClick(panel->tabButton(1), Qt::LeftButton);
    EXPECT_EQ(facade.eqPanelTab().get(), 1);
    test::saveShot(test::render(card, ui::palette::white(0.42)), "eq_color_locked_en");

    facade.editLocked().set(false);
    facade.setLoaded(std::nullopt, 7);
    panel->setColorPosition(0, 12);
    EXPECT_TRUE(facade.calls.empty());
    EXPECT_FALSE(panel->colorSlider(0)->isEnabled());
    EXPECT_EQ(panel->colorReadout(1), "1.00");
    EXPECT_EQ(panel->colorReadout(3), "+0");
}

TEST_F(EqColorPanelTest, ResetActsOnTheVisibleTabAndTabsShowModification) {
    facade.slot(3, 7).equalizer.hz80 = 4;
    facade.slot(3, 7).colorSettings.gamma = 2;
    panel->refresh();
    EXPECT_EQ(panel->tabButton(0)->look().textColor, ui::palette::yellow());
    test::saveShot(test::render(card, ui::palette::white(0.42)), "eq_color_eq_modified_en");
    QTest::mouseClick(panel->resetButton(), Qt::LeftButton);
    EXPECT_EQ(loaded().equalizer, EqualizerSettings{});
    EXPECT_EQ(loaded().colorSettings.gamma, 2.0f);
    EXPECT_EQ(facade.calls, (Calls{"edit 3 7", "unsaved"}));
    EXPECT_NE(panel->tabButton(0)->look().textColor, ui::palette::yellow());
    panel->selectTab(1);
    test::setLanguage(AppLanguage::ja);
    test::saveShot(test::render(card, ui::palette::white(0.42)), "eq_color_color_ja");
    EXPECT_EQ(panel->tabButton(1)->text(), "カラー");
    QTest::mouseClick(panel->resetButton(), Qt::LeftButton);
    EXPECT_EQ(loaded().colorSettings, ColorSettings{});
    test::setLanguage(AppLanguage::en);
}

// Screenshots for a person: idle (nothing loaded), playing (a loaded slot with a changed EQ and
// colour, each tab) and editing (a colour value being typed), in both languages.
TEST(EqColorShots, IdlePlayingAndEditingInBothLanguages) {
    for (AppLanguage language : {AppLanguage::en, AppLanguage::ja}) {
        test::setLanguage(language);
        const QString suffix = language == AppLanguage::en ? "en" : "ja";
        test::RecordingPanelFacade facade;
        ui::PanelCard card{ui::PanelCardStyle::eqColor()};
        auto* panel = new EqColorPanel(facade, card);
        card.show();
        test::saveShot(test::render(card, ui::palette::white(0.42)), "eq_color_idle_" + suffix);

        SlotData& slot = facade.slot(1, 2);
        slot.equalizer.hz80 = 6;
        slot.equalizer.hz800 = -4;
        slot.colorSettings.gamma = 1.4f;
        slot.colorSettings.redGain = 0.8f;
        facade.setLoaded(1, 2);
        panel->refresh();
        EXPECT_EQ(panel->tabButton(0)->look().textColor, ui::palette::yellow());
        test::saveShot(test::render(card, ui::palette::white(0.42)),
                       "eq_color_playing_eq_" + suffix);
        panel->selectTab(1);
        test::saveShot(test::render(card, ui::palette::white(0.42)),
                       "eq_color_playing_color_" + suffix);

        panel->beginValueEntry(5);  // R
        ASSERT_NE(panel->entryField(), nullptr);
        panel->entryField()->selectAll();
        QTest::keyClicks(panel->entryField(), "120");
        EXPECT_EQ(facade.slot(1, 2).colorSettings.redGain, 0.8f);  // not written before Return
        test::saveShot(test::render(card, ui::palette::white(0.42)), "eq_color_editing_" + suffix);
        // The entry opens in a popover of its own window.
        QWidget* popover = panel->entryField()->window();
        ASSERT_NE(popover, card.window());
        test::saveShot(test::render(*popover), "eq_color_editing_entry_" + suffix);
    }
    test::setLanguage(AppLanguage::en);
}

// ---- Geometry ----

class GeometrySectionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto* layout = new QHBoxLayout(&titleRow);
        layout->addStretch(1);
        facade.projectData.outputSettings.resolution = OutputResolution::hd720p;
        facade.setLoaded(2, 5);
        facade.slot(2, 5).geometry.mode = GeometryMode::custom;
        section = new GeometrySection(facade, titleRow, controls);
        controls.resize(381, 80);
        titleRow.show();
        controls.show();
        facade.calls.clear();
    }
    const GeometrySettings& geometry() { return facade.slot(2, 5).geometry; }

    test::RecordingPanelFacade facade;
    QWidget titleRow;
    QWidget controls;
    GeometrySection* section = nullptr;
};

TEST_F(GeometrySectionTest, ModeButtonsWriteTheGeometryThenMarkUnsaved) {
    QTest::mouseClick(section->modeButton(GeometryMode::fitToWindow), Qt::LeftButton);
    EXPECT_EQ(facade.calls, (Calls{"edit 2 5", "unsaved"}));
    EXPECT_EQ(geometry().mode, GeometryMode::fitToWindow);
    EXPECT_EQ(geometry().posX, 640);
    EXPECT_EQ(geometry().posY, 360);
    EXPECT_EQ(geometry().scaleX, 100);
    EXPECT_EQ(geometry().scaleY, 100);
    EXPECT_FALSE(section->positionRows()->isVisible());
    QTest::mouseClick(section->modeButton(GeometryMode::custom), Qt::LeftButton);
    EXPECT_TRUE(section->scaleRow()->isVisible());
    EXPECT_EQ(section->modeButton(GeometryMode::custom)->look().fill, ui::palette::blue());
}

TEST_F(GeometrySectionTest, TypedValuesAreKeptWithinTheSlidersAndBadTextWritesNothing) {
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    section->refresh();
    struct Case {
        int row;
        const char* text;
        bool writes;
    };
    const Case cases[] = {{0, "9000", true},   {0, "", false},     {0, "nan", false},
                          {0, "1e400", false}, {0, "１２", false}, {1, "3,5", true},
                          {1, "-0", true},     {2, "0", true},     {3, "-50", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        facade.calls.clear();
        QLineEdit* field = section->field(c.row);
        field->setFocus();
        field->setText(QString::fromUtf8(c.text));
        QTest::keyClick(field, Qt::Key_Return);
        EXPECT_EQ(!facade.calls.empty(), c.writes);
    }
    // 9000 is kept at the slider's end, as a document holding it is read.
    EXPECT_EQ(geometry().posX, 5760.0);
    EXPECT_EQ(section->slider(0)->value(), section->slider(0)->maximum());
    EXPECT_EQ(geometry().posY, 0.0);
    // W% typed 0 and H% typed -50 place nothing: both are kept at 10.
    EXPECT_EQ(geometry().scaleY, 10.0);
    EXPECT_EQ(geometry().scaleX, 10.0);
    section->refresh();
    EXPECT_EQ(section->field(0)->text(), "5.760");
    QLocale::setDefault(QLocale::c());
}

// Tab and Shift+Tab go round the fields shown, never to a slider or a button, and the field left
// stores what was typed into it.
TEST_F(GeometrySectionTest, TabGoesRoundTheShownFieldsAndTheFieldLeftStoresItsValue) {
    controls.activateWindow();
    QApplication::processEvents();
    struct Case {
        GeometryMode mode;
        int from;
        bool back;
        int to;
    };
    const Case cases[] = {
        {GeometryMode::custom, 0, false, 1},     {GeometryMode::custom, 1, false, 2},
        {GeometryMode::custom, 3, false, 0},     {GeometryMode::custom, 0, true, 3},
        {GeometryMode::custom, 2, true, 1},      {GeometryMode::originalSize, 1, false, 0},
        {GeometryMode::originalSize, 0, true, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.from) + (c.back ? " back" : " on"));
        facade.slot(2, 5).geometry.mode = c.mode;
        section->refresh();
        QLineEdit* from = section->field(c.from);
        from->setFocus();
        from->setText(QStringLiteral("123"));
        QTest::keyClick(from, c.back ? Qt::Key_Backtab : Qt::Key_Tab,
                        c.back ? Qt::ShiftModifier : Qt::NoModifier);
        EXPECT_TRUE(section->field(c.to)->hasFocus());
        EXPECT_EQ(section->field(c.to)->selectedText(), section->field(c.to)->text());
        const GeometrySettings& g = geometry();
        EXPECT_EQ((std::array{g.posX, g.posY, g.scaleX, g.scaleY})[std::size_t(c.from)], 123.0);
    }
}

TEST_F(GeometrySectionTest, RatioLockAndEditLock) {
    facade.slot(2, 5).geometry.scaleY = 80;
    section->setScaleX(150);
    EXPECT_EQ(geometry().scaleY, 120.0);
    facade.calls.clear();
    facade.unsaved = false;
    QTest::mouseClick(section->lockButton(), Qt::LeftButton);
    EXPECT_FALSE(facade.geoScaleLocked().get());
    EXPECT_TRUE(facade.calls.empty());  // a run-time setting: no write, no unsaved mark
    EXPECT_FALSE(facade.unsaved);
    section->setScaleX(100);
    EXPECT_EQ(geometry().scaleY, 120.0);
    facade.calls.clear();
    facade.editLocked().set(true);
    section->setGeometryMode(GeometryMode::originalSize);
    section->setPosX(1);
    section->setScaleY(1);
    section->slider(1)->setValue(500);
    EXPECT_TRUE(facade.calls.empty());
    EXPECT_FALSE(section->modeButton(GeometryMode::custom)->isEnabled());
    EXPECT_FALSE(section->controls()->isEnabled());
    facade.setLoaded(std::nullopt, std::nullopt);
    EXPECT_TRUE(section->placeholder()->isVisible());
}

// A wheel turned over a slider of the panel (the pointer passing over it on its way) writes
// nothing and calls nothing: neither the geometry nor the equaliser or colour changes by accident.
TEST_F(GeometrySectionTest, TheWheelOverASliderWritesNothing) {
    facade.geoScaleLocked().set(false);
    const GeometrySettings before = geometry();
    for (int row = 0; row < 4; ++row) {
        SCOPED_TRACE(row);
        const int position = section->slider(row)->value();
        turnWheel(*section->slider(row), 6);
        EXPECT_EQ(section->slider(row)->value(), position);
    }
    EXPECT_EQ(facade.calls, Calls{});
    EXPECT_FALSE(facade.unsaved);
    EXPECT_EQ(geometry(), before);
}

TEST_F(EqColorPanelTest, TheWheelOverASliderWritesNothing) {
    // Over every slider, readout and label of both tabs.
    for (auto* widget : panel->content()->findChildren<QWidget*>()) {
        turnWheel(*widget, 6);
    }
    EXPECT_EQ(facade.calls, Calls{});
    EXPECT_EQ(loaded().equalizer, EqualizerSettings{});
    EXPECT_EQ(loaded().colorSettings, ColorSettings{});
}

// Screenshots for a person of the GEOMETRY card as the main window lays it out: idle (nothing
// loaded), playing (a custom placement) and editing (a scale being typed), in both languages.
TEST(GeometryShots, IdlePlayingAndEditingInBothLanguages) {
    for (AppLanguage language : {AppLanguage::en, AppLanguage::ja}) {
        test::setLanguage(language);
        const QString suffix = language == AppLanguage::en ? "en" : "ja";
        test::RecordingPanelFacade facade;
        ui::PanelCard card(ui::PanelCardStyle::geometry());
        auto* titleRow = new QWidget;
        auto* layout = new QHBoxLayout(titleRow);
        layout->setContentsMargins(0, 0, 0, 0);
        auto* title = new QLabel(QStringLiteral("GEOMETRY"));
        title->setStyleSheet(QStringLiteral("color: white; font-weight: bold;"));
        layout->addWidget(title);
        layout->addStretch(1);
        auto* controls = new QWidget;
        auto* section = new GeometrySection(facade, *titleRow, *controls);
        card.addContent(titleRow);
        controls->setFixedSize(381, 70);
        card.addContent(controls);
        card.show();
        EXPECT_TRUE(section->placeholder()->isVisible());
        test::saveShot(test::render(card, ui::palette::white(0.42)), "geometry_idle_" + suffix);

        facade.slot(2, 5).geometry.mode = GeometryMode::custom;
        facade.slot(2, 5).geometry.posX = 480;
        facade.slot(2, 5).geometry.posY = 270;
        facade.slot(2, 5).geometry.scaleX = 50;
        facade.slot(2, 5).geometry.scaleY = 50;
        facade.setLoaded(2, 5);
        section->refresh();
        EXPECT_TRUE(section->scaleRow()->isVisible());
        test::saveShot(test::render(card, ui::palette::white(0.42)), "geometry_playing_" + suffix);

        QLineEdit* field = section->field(2);
        field->setFocus();
        field->selectAll();
        QTest::keyClicks(field, "75");
        EXPECT_EQ(facade.slot(2, 5).geometry.scaleX, 50.0);  // not written before Return
        test::saveShot(test::render(card, ui::palette::white(0.42)), "geometry_editing_" + suffix);
        QTest::keyClick(field, Qt::Key_Return);
        EXPECT_EQ(facade.slot(2, 5).geometry.scaleX, 75.0);
    }
    test::setLanguage(AppLanguage::en);
}

}  // namespace
}  // namespace kestio::panels
