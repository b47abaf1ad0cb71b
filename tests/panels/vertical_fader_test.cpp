#include "panels/vertical_fader.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QLineEdit>
#include <QMenu>
#include <QTest>
#include <cmath>
#include <limits>

#include "panels/fader_input.h"
#include "ui/popover.h"
#include "ui_test_support.h"

namespace kestio::panels {
namespace {

const ui::ValueRange kGain{-40.0, 12.0};

// On a fader 234 high the travel is 182 points, from y 26 (+12 dB) to y 208 (-40 dB).
TEST(Fader, PointerMapping) {
    struct Case {
        double y;
        double level;
    };
    const Case cases[] = {
        {-50, 12.0},
        {0, 12.0},
        {26, 12.0},
        {71.5, 0.0},                               // 0 dB at 75 % of the travel
        {71.5 + 182 * 0.45 * 0.4 / 20, 0.0},       // -0.4 dB snaps to 0
        {26 + 182 * 0.25 * (1 - 0.49 / 12), 0.0},  // +0.49 snaps to 0
        {26 + 182 * (1 - 0.73875), -0.5},          // -0.5 stays
        {26 + 182 * 0.7, -20.0},
        {208, -40.0},
        {234, -40.0},
        {400, -40.0},
    };
    for (const auto& c : cases) {
        const auto level = faderLevelAtPointer(c.y, 234, kGain);
        ASSERT_TRUE(level.has_value()) << c.y;
        EXPECT_NEAR(*level, c.level, 1e-9) << c.y;
    }
    // A narrower range clamps what the curve gives.
    EXPECT_EQ(faderLevelAtPointer(0, 234, {-10.0, 6.0}), 6.0);
    EXPECT_EQ(faderLevelAtPointer(234, 234, {-10.0, 6.0}), -10.0);
    // No travel, no level (never a NaN or an infinity from the division).
    for (double h : {52.0, 40.0, 0.0, -5.0}) {
        EXPECT_FALSE(faderLevelAtPointer(10, h, kGain).has_value()) << h;
    }
}

TEST(Fader, CommittedTexts) {
    struct Case {
        const char* text;
        std::optional<double> level;
    };
    const Case cases[] = {
        {"3", 3.0},
        {"20", 12.0},
        {"-100", -40.0},
        {"+3", 3.0},
        {"1e0", 1.0},
        {"inf", 12.0},
        {"-inf", -40.0},
        {"nan", -40.0},
        {"1e400", 12.0},
        {"-0", -0.0},
        {"", std::nullopt},
        {"abc", std::nullopt},
        {"-6 dB", std::nullopt},
        {" 3", std::nullopt},
        {"3,5", std::nullopt},
        {"１２", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(faderCommittedLevel(QString::fromUtf8(c.text), kGain), c.level) << c.text;
    }
}

TEST(Fader, EntryAndRangeTexts) {
    EXPECT_EQ(faderEntryText(-6.0), "-6.0");
    EXPECT_EQ(faderEntryText(0.0), "0.0");
    EXPECT_EQ(faderEntryText(12.0), "12.0");
    EXPECT_EQ(faderEntryText(-39.96), "-40.0");
    EXPECT_EQ(faderRangeText(kGain, AppLanguage::en), "Range: -40 to +12 dB");
    EXPECT_EQ(faderRangeText(kGain, AppLanguage::ja), "範囲: -40 〜 +12 dB");
    EXPECT_EQ(faderRangeText({-40.7, 12.9}, AppLanguage::en), "Range: -40 to +12 dB");
}

class FaderWidgetTest : public ::testing::Test {
  protected:
    void SetUp() override {
        test::setLanguage(AppLanguage::en);
        fader_.resize(40, 234);
        fader_.show();
    }
    // The popover being shown (earlier ones wait for deletion, hidden).
    ui::Popover* popover() {
        for (auto* p : fader_.findChildren<ui::Popover*>()) {
            if (p->isOpen()) {
                return p;
            }
        }
        return nullptr;
    }

    double level_ = 0.0;
    int writes_ = 0;
    VerticalFader fader_{ui::Binding<double>{[this] { return level_; },
                                             [this](double v) {
                                                 level_ = v;
                                                 ++writes_;
                                             }},
                         kGain};
};

TEST_F(FaderWidgetTest, PressAndDragWriteTheLevelUnderThePointer) {
    QTest::mousePress(&fader_, Qt::LeftButton, {}, QPoint(20, 26));
    EXPECT_EQ(level_, 12.0);
    QTest::mouseMove(&fader_, QPoint(20, 208));
    EXPECT_EQ(level_, -40.0);
    QTest::mouseRelease(&fader_, Qt::LeftButton, {}, QPoint(20, 208));
    EXPECT_EQ(writes_, 2);
}

TEST_F(FaderWidgetTest, KnobCentreLineMarksTheLevel) {
    level_ = 0.0;
    EXPECT_DOUBLE_EQ(fader_.knobCentreY(), 71.5);
    const QImage image = test::render(fader_);
    test::saveShot(image, QStringLiteral("fader_0dB"));
    // The knob's bright centre line at 0 dB; the bare track far below it.
    EXPECT_GT(qGray(image.pixel(20, 71)), 200);
    EXPECT_LT(qGray(image.pixel(20, 200)), 60);
    EXPECT_GT(qGray(image.pixel(20, 200)), 20);
    // A level held outside the range is drawn at the nearest end.
    level_ = 30.0;
    EXPECT_DOUBLE_EQ(fader_.knobCentreY(), 26.0);
    level_ = -90.0;
    EXPECT_DOUBLE_EQ(fader_.knobCentreY(), 208.0);
}

TEST_F(FaderWidgetTest, TinyFaderIgnoresPointerAndDrawsItsKnobInside) {
    for (int h : {52, 20, 0}) {
        fader_.resize(40, h);
        writes_ = 0;
        QTest::mousePress(&fader_, Qt::LeftButton, {}, QPoint(20, h / 2));
        QTest::mouseRelease(&fader_, Qt::LeftButton, {}, QPoint(20, h / 2));
        EXPECT_EQ(writes_, 0) << h;
        EXPECT_TRUE(std::isfinite(fader_.knobCentreY())) << h;
        EXPECT_DOUBLE_EQ(fader_.knobCentreY(), h / 2.0);
        test::render(fader_);  // paints without failing
    }
}

TEST_F(FaderWidgetTest, TypedValuesCommitClampedAndCloseThePopover) {
    struct Case {
        const char* typed;
        double level;  // 5 (what the test set) when nothing is written
    };
    const Case cases[] = {{"-6", -6.0},   {"20", 12.0}, {"nan", -40.0}, {"inf", 12.0},
                          {"-6 dB", 5.0}, {"", 5.0},    {" 3", 5.0}};
    for (const auto& c : cases) {
        // The double-click's press writes first (+12 at the top of the travel), then the field
        // opens with that level.
        test::doubleClick(fader_, QPoint(20, 10));
        ASSERT_TRUE(fader_.isShowingInput()) << c.typed;
        EXPECT_EQ(fader_.inputField()->text(), "12.0");
        level_ = 5.0;
        fader_.inputField()->setText(QString::fromUtf8(c.typed));
        QTest::keyClick(fader_.inputField(), Qt::Key_Return);
        EXPECT_FALSE(fader_.isShowingInput()) << c.typed;
        EXPECT_EQ(level_, c.level) << c.typed;
    }
}

TEST_F(FaderWidgetTest, CancelAndDismissWriteNothing) {
    level_ = -6.0;
    fader_.commitInput();  // nothing open: nothing happens
    EXPECT_EQ(level_, -6.0);
    test::doubleClick(fader_, QPoint(20, 10));
    level_ = -6.0;
    fader_.inputField()->setText(QStringLiteral("3"));
    fader_.cancelInput();
    EXPECT_FALSE(fader_.isShowingInput());
    EXPECT_EQ(level_, -6.0);
    test::doubleClick(fader_, QPoint(20, 10));
    level_ = -6.0;
    fader_.inputField()->setText(QStringLiteral("3"));
    ASSERT_NE(popover(), nullptr);
    popover()->close();  // dismissed from outside
    EXPECT_FALSE(fader_.isShowingInput());
    fader_.commitInput();
    EXPECT_EQ(level_, -6.0);
}

TEST_F(FaderWidgetTest, ResetWritesZeroEvenOutsideTheRange) {
    VerticalFader quiet(
        ui::Binding<double>{[this] { return level_; }, [this](double v) { level_ = v; }},
        {-40.0, -10.0});
    level_ = -30.0;
    QMenu* menu = quiet.makeContextMenu();
    ASSERT_EQ(menu->actions().size(), 1);
    EXPECT_EQ(menu->actions()[0]->text(), "Reset to Default (0dB)");
    menu->actions()[0]->trigger();
    EXPECT_EQ(level_, 0.0);
    test::setLanguage(AppLanguage::ja);
    EXPECT_EQ(quiet.makeContextMenu()->actions()[0]->text(), "規定値に戻す (0dB)");
}

TEST_F(FaderWidgetTest, PopoverInBothLanguages) {
    for (AppLanguage language : {AppLanguage::en, AppLanguage::ja}) {
        test::setLanguage(language);
        test::doubleClick(fader_, QPoint(20, 10));
        ASSERT_TRUE(fader_.isShowingInput());
        const bool en = language == AppLanguage::en;
        EXPECT_EQ(fader_.inputField()->placeholderText(), en ? "e.g. -6.0" : "例: -6.0");
        QCoreApplication::processEvents();
        ASSERT_NE(popover(), nullptr);
        const QImage shot = test::render(*popover(), QColor(50, 50, 50));
        test::saveShot(shot, QStringLiteral("fader_popover_%1").arg(en ? "en" : "ja"));
        fader_.cancelInput();
        QCoreApplication::processEvents();  // the old popover is deleted later
    }
}

}  // namespace
}  // namespace kestio::panels
