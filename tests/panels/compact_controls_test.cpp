#include <gtest/gtest.h>

#include <QApplication>
#include <QFocusEvent>
#include <QLineEdit>
#include <QTest>
#include <cmath>

#include "panels/compact_slider.h"
#include "panels/compact_slider_scale.h"
#include "panels/editable_value_label.h"
#include "panels/eq_band_scale.h"
#include "panels/eq_band_slider.h"
#include "ui/fonts.h"
#include "ui/number_text.h"
#include "ui/palette.h"
#include "ui_test_support.h"

namespace kestio::panels {
namespace {

// A value the control writes through, counting the writes.
struct Recorder {
    double value = 0.0;
    int writes = 0;
    ui::Binding<double> binding() {
        return {[this] { return value; },
                [this](double v) {
                    value = v;
                    ++writes;
                }};
    }
};

// On a slider 112 high: +12 dB at y 0, 0 at y 56, -12 at y 112; one dB is 112/24 points.
TEST(CompactControls, EqSliderWholeDecibelsHalvesAwayFromZero) {
    struct Case {
        double y;
        double value;
    };
    const double dB = 112.0 / 24.0;
    const Case cases[] = {
        {-10, 12},           {0, 12},
        {0.1, 12},           {56, 0},
        {56 + 0.5 * dB, -1},  // -0.5 rounds away from zero
        {56 - 0.5 * dB, 1},  {56 + 0.49 * dB, 0},
        {56 + 5 * dB, -5},   {111, -12},
        {112, -12},          {500, -12},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(eqBandValueAtPointer(c.y, 112), c.value) << c.y;
    }
    EXPECT_FALSE(eqBandValueAtPointer(10, 0).has_value());
    EXPECT_FALSE(eqBandValueAtPointer(10, -3).has_value());
    // The knob stays inside: its centre 8 from either edge at the ends and beyond.
    EXPECT_EQ(eqBandKnobCentreY(12, 112), 8);
    EXPECT_EQ(eqBandKnobCentreY(30, 112), 8);
    EXPECT_EQ(eqBandKnobCentreY(-12, 112), 104);
    EXPECT_EQ(eqBandKnobCentreY(0, 112), 56);
}

TEST(CompactControls, EqSliderPressDragAndDoubleClick) {
    Recorder band;
    EQBandSlider slider(band.binding());
    slider.resize(20, 112);
    slider.show();
    QTest::mousePress(&slider, Qt::LeftButton, {}, QPoint(10, 0));
    EXPECT_EQ(band.value, 12);
    QTest::mouseMove(&slider, QPoint(10, 111));
    EXPECT_EQ(band.value, -12);
    QTest::mouseRelease(&slider, Qt::LeftButton, {}, QPoint(10, 111));
    test::doubleClick(slider, QPoint(10, 20));
    EXPECT_EQ(band.value, 0);  // the presses wrote +7 first; the double-click leaves 0
    // A slider without height writes nothing.
    slider.resize(20, 0);
    band.writes = 0;
    QTest::mousePress(&slider, Qt::LeftButton, {}, QPoint(10, 0));
    EXPECT_EQ(band.writes, 0);
}

TEST(CompactControls, EqSliderPaintsBarAndKnob) {
    namespace p = ui::palette;
    Recorder band;
    EQBandSlider slider(band.binding());
    slider.resize(20, 112);
    struct Case {
        double value;
        QPoint probe;
        QColor colour;
    };
    const QColor track = p::white(0.15);
    const Case cases[] = {
        // +5: bar from y 32.7 up to the middle, under a knob centred at 32.7.
        {5, QPoint(10, 48), test::over(p::withOpacity(p::yellow(), 0.6), track)},
        {-5, QPoint(10, 64), test::over(p::withOpacity(p::cyan(), 0.5), track)},
        {0, QPoint(10, 40), track},
        // +12: the knob sits inside the top edge, the bar reaches past it.
        {12, QPoint(2, 1), QColor(194, 194, 194)},
        {12, QPoint(10, 30), test::over(p::withOpacity(p::yellow(), 0.6), track)},
        {-12, QPoint(2, 110), QColor(194, 194, 194)},
    };
    for (const auto& c : cases) {
        band.value = c.value;
        const QImage image = test::render(slider);
        EXPECT_TRUE(test::near(image.pixelColor(c.probe), c.colour, 6))
            << c.value << " at " << c.probe.x() << "," << c.probe.y() << ": "
            << image.pixelColor(c.probe).name().toStdString();
    }
}

TEST(CompactControls, CompactSliderLayout) {
    const ui::ValueRange range{0.033, 5.0};
    // Value inside, below and above the range; the fill never narrower than the track.
    auto layout = compactSliderLayout(0.033, range, 112, 3, 12);
    EXPECT_EQ(layout.fraction, 0);
    EXPECT_EQ(layout.thumbX, 6);
    EXPECT_EQ(layout.fillWidth, 6);
    EXPECT_EQ(layout.height, 12);
    EXPECT_EQ(compactSliderLayout(-3, range, 112, 3, 12).thumbX, 6);
    EXPECT_EQ(compactSliderLayout(99, range, 112, 3, 12).thumbX, 106);
    EXPECT_EQ(compactSliderLayout(0.033, range, 112, 20, 12).fillWidth, 20);
    // A range of no width: the thumb at the start, and every pointer writes the lower bound.
    EXPECT_EQ(compactSliderLayout(1.0, {1.0, 1.0}, 112, 3, 12).thumbX, 6);
    for (double x : {0.0, 56.0, 200.0}) {
        EXPECT_EQ(compactSliderValueAtPointer(x, {1.0, 1.0}, 112, 12), 1.0);
    }
    // Pointer to value, unstepped, clamped to the ends.
    EXPECT_EQ(compactSliderValueAtPointer(6, {0, 10}, 112, 12), 0);
    EXPECT_EQ(compactSliderValueAtPointer(56, {0, 10}, 112, 12), 5);
    EXPECT_DOUBLE_EQ(*compactSliderValueAtPointer(57, {0, 10}, 112, 12), 5.1);
    EXPECT_EQ(compactSliderValueAtPointer(-40, {0, 10}, 112, 12), 0);
    EXPECT_EQ(compactSliderValueAtPointer(400, {0, 10}, 112, 12), 10);
    // Too narrow for the thumb to move: no value.
    EXPECT_FALSE(compactSliderValueAtPointer(6, {0, 10}, 12, 12).has_value());
    EXPECT_FALSE(compactSliderValueAtPointer(6, {0, 10}, 8, 12).has_value());
}

TEST(CompactControls, CompactSliderDragsOnlyWhenEnabledAndWideEnough) {
    Recorder rate;
    QWidget parent;
    auto* slider =
        new CompactSlider(rate.binding(), {0.0, 10.0}, ui::palette::blue(), 3, 12, &parent);
    slider->resize(112, 12);
    parent.show();
    QTest::mousePress(slider, Qt::LeftButton, {}, QPoint(106, 6));
    EXPECT_EQ(rate.value, 10);
    QTest::mouseMove(slider, QPoint(56, 6));
    EXPECT_EQ(rate.value, 5);
    QTest::mouseRelease(slider, Qt::LeftButton, {}, QPoint(56, 6));
    const QImage enabled = test::render(*slider);

    parent.setEnabled(false);  // disabled through its parent
    rate.writes = 0;
    QTest::mousePress(slider, Qt::LeftButton, {}, QPoint(20, 6));
    EXPECT_EQ(rate.writes, 0);
    const QImage disabled = test::render(*slider);
    test::saveShot(enabled, QStringLiteral("compact_slider_enabled"));
    test::saveShot(disabled, QStringLiteral("compact_slider_disabled"));
    // The fill at x 30: accent at 0.85 enabled, 0.3 disabled, over the track's grey.
    const QColor accent = ui::palette::blue();
    const QColor track = ui::palette::white(0.1);
    EXPECT_TRUE(test::near(enabled.pixelColor(30, 6),
                           test::over(ui::palette::withOpacity(accent, 0.85), track)));
    EXPECT_TRUE(test::near(disabled.pixelColor(30, 6),
                           test::over(ui::palette::withOpacity(accent, 0.3), track)))
        << disabled.pixelColor(30, 6).name().toStdString();

    parent.setEnabled(true);
    slider->resize(12, 12);
    QTest::mousePress(slider, Qt::LeftButton, {}, QPoint(3, 6));
    EXPECT_EQ(rate.writes, 0);
}

class ValueLabelTest : public ::testing::Test {
  protected:
    void SetUp() override {
        window_.resize(200, 40);
        label_->move(10, 10);
        label_->resize(80, 20);
        window_.show();
    }
    void type(const QString& text) {
        label_->field()->clear();
        label_->field()->insert(text);
    }
    void loseFocus() {
        QFocusEvent out(QEvent::FocusOut, Qt::MouseFocusReason);
        QApplication::sendEvent(label_->field(), &out);
    }

    Recorder rate_{1.0};
    QWidget window_;
    EditableValueLabel* label_ = new EditableValueLabel(
        rate_.binding(), {0.1, 8.0},
        [](double v) { return QStringLiteral("x") + ui::formatFixedQ(v, 2); },
        [](const QString& text) { return ui::parseNumberTrimming(text, "xX "); },
        ui::fonts::monospaced(14), 52, &window_);
};

TEST_F(ValueLabelTest, ClickShowsTheValueInThreeDecimals) {
    rate_.value = 0.5;
    EXPECT_EQ(label_->displayText(), "x0.50");
    QTest::mouseClick(label_, Qt::LeftButton, {}, QPoint(40, 10));
    ASSERT_TRUE(label_->isEditing());
    EXPECT_TRUE(label_->field()->isVisible());
    EXPECT_EQ(label_->field()->text(), "0.500");
}

TEST_F(ValueLabelTest, ReturnCommitsParsedAndClampedText) {
    struct Case {
        const char* typed;
        double value;  // 1 (unchanged) when nothing is written
    };
    const Case cases[] = {
        {"2", 2.0},   {"x1.5", 1.5}, {"20", 8.0},  {"0", 0.1},     {"1e400", 8.0}, {"-inf", 0.1},
        {"abc", 1.0}, {"", 1.0},     {"nan", 1.0}, {"x nan", 1.0}, {"3,5", 1.0},   {"１２", 1.0},
    };
    for (const auto& c : cases) {
        rate_.value = 1.0;
        rate_.writes = 0;
        label_->beginEditing();
        type(QString::fromUtf8(c.typed));
        QTest::keyClick(label_->field(), Qt::Key_Return);
        EXPECT_FALSE(label_->isEditing()) << c.typed;
        EXPECT_EQ(rate_.value, c.value) << c.typed;
        EXPECT_FALSE(std::isnan(rate_.value));
        loseFocus();  // the focus change after the commit writes nothing more
        EXPECT_LE(rate_.writes, 1) << c.typed;
    }
}

TEST_F(ValueLabelTest, EscapeCancelsAndTheFocusLossAfterItWritesNothing) {
    label_->beginEditing();
    type(QStringLiteral("4"));
    QTest::keyClick(label_->field(), Qt::Key_Escape);
    EXPECT_FALSE(label_->isEditing());
    loseFocus();
    EXPECT_EQ(rate_.writes, 0);
    EXPECT_EQ(rate_.value, 1.0);
    label_->commit();  // a commit when not editing does nothing
    EXPECT_EQ(rate_.writes, 0);
}

TEST_F(ValueLabelTest, FocusLossCommitsLikeReturn) {
    label_->beginEditing();
    type(QStringLiteral("3"));
    loseFocus();
    EXPECT_FALSE(label_->isEditing());
    EXPECT_EQ(rate_.value, 3.0);
    EXPECT_EQ(rate_.writes, 1);
}

}  // namespace
}  // namespace kestio::panels
