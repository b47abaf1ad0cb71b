#include "panels/vu_meter_view.h"

#include <gtest/gtest.h>

#include "panels/meter_bar_view.h"
#include "panels/meter_peak_hold.h"
#include "panels/vu_scale_labels.h"
#include "platform/runloop/manual_run_loop.h"
#include "ui/palette.h"
#include "ui_test_support.h"

namespace kestio::panels {
namespace {

class VuMeterTest : public ::testing::Test {
  protected:
    void SetUp() override {
        meter_.resize(120, 215);
        meter_.setActiveChannels(2);
        meter_.show();
    }
    platform::ManualRunLoop loop_;
    VUMeterView meter_{loop_};
};

// A rise to -6 dB, then silence: held 0.6 s, then 1.5 dB a tick down to -41, where it rests.
TEST_F(VuMeterTest, PeakHoldAndDecay) {
    meter_.setLevels({-100.0f, -30.0f});  // starts the ticker
    loop_.advance(0.01);  // between ticks, so no tick falls exactly at the end of the hold
    meter_.setLevels({-6.0f, -30.0f});
    meter_.setLevels({-100.0f, -100.0f});  // silence: a change, but nothing rises
    EXPECT_EQ(meter_.peaks()[0], -6.0f);
    loop_.advance(0.59);  // t = 0.60: held 0.59 s
    EXPECT_EQ(meter_.peaks()[0], -6.0f);
    loop_.advance(0.05);  // t = 0.65: first tick past the hold
    EXPECT_FLOAT_EQ(meter_.peaks()[0], -7.5f);
    loop_.advance(0.05);
    EXPECT_FLOAT_EQ(meter_.peaks()[0], -9.0f);
    loop_.advance(1.02);  // 20 ticks more (t = 0.75 ... 1.70): -39
    EXPECT_FLOAT_EQ(meter_.peaks()[0], -39.0f);
    loop_.advance(0.1);
    EXPECT_FLOAT_EQ(meter_.peaks()[0], -41.0f);
    loop_.advance(5.0);
    EXPECT_FLOAT_EQ(meter_.peaks()[0], -41.0f);
    // The other channels, never raised, rest at -41 too.
    EXPECT_FLOAT_EQ(meter_.peaks()[7], -41.0f);
}

// A late tick falls one step only; the step is not scaled by the time since the last tick.
TEST_F(VuMeterTest, LateTickFallsOneStep) {
    meter_.setLevels({-6.0f});
    loop_.advance(0.7);
    const float before = meter_.peaks()[0];
    loop_.stall(0.3);  // the loop's thread is busy for six ticks' time
    loop_.runPending();
    EXPECT_FLOAT_EQ(meter_.peaks()[0], before - 1.5f);
}

TEST_F(VuMeterTest, PeaksRiseOnlyWhenTheArrayChanges) {
    meter_.setLevels({-10.0f});
    loop_.advance(1.0);  // the peak has fallen below the steady level
    EXPECT_LT(meter_.peaks()[0], -10.0f);
    meter_.setLevels({-10.0f});  // the same array: no change, no rise
    EXPECT_LT(meter_.peaks()[0], -10.0f);
    meter_.setLevels({-10.0f, -100.0f, -100.0f, -100.0f, -100.0f, -100.0f, -100.0f, -100.0f,
                      -3.0f});  // the ninth entry is ignored: still the same array
    EXPECT_LT(meter_.peaks()[0], -10.0f);
    meter_.setLevels({-10.0f, -20.0f});  // a change: every channel rises to its level
    EXPECT_EQ(meter_.peaks()[0], -10.0f);
    EXPECT_EQ(meter_.peaks()[1], -20.0f);
}

// The ticker runs only while the meter is shown and some peak is held or falling; a silent
// meter leaves nothing on the run loop.
TEST_F(VuMeterTest, TicksOnlyWhileShownAndAPeakHasYetToRest) {
    EXPECT_FALSE(meter_.isTicking());  // shown, silent from the start
    EXPECT_EQ(loop_.pendingCount(), 0u);
    meter_.setLevels({-100.0f, -60.0f});  // a change, but below the scale: nothing to fall
    EXPECT_FALSE(meter_.isTicking());
    meter_.setLevels({-10.0f});
    EXPECT_TRUE(meter_.isTicking());
    loop_.advance(1.0);  // held 0.6 s, then falling
    EXPECT_TRUE(meter_.isTicking());
    loop_.advance(1.0);  // 31 dB at 30 dB a second: at rest since about 1.65 s
    EXPECT_FLOAT_EQ(meter_.peaks()[0], -41.0f);
    EXPECT_FALSE(meter_.isTicking());
    EXPECT_EQ(loop_.pendingCount(), 0u);

    meter_.hide();
    meter_.setLevels({-3.0f});  // raised while hidden: held, but no ticker
    EXPECT_FALSE(meter_.isTicking());
    loop_.advance(0.02);
    meter_.show();
    EXPECT_TRUE(meter_.isTicking());
    loop_.advance(0.63);  // ticks from 0.05 to 0.6 s after the show: one past the hold
    EXPECT_FLOAT_EQ(meter_.peaks()[0], -4.5f);
}

TEST_F(VuMeterTest, TickerRunsOnlyWhileShown) {
    meter_.setLevels({-6.0f});
    meter_.hide();
    EXPECT_FALSE(meter_.isTicking());
    loop_.advance(2.0);
    EXPECT_EQ(meter_.peaks()[0], -6.0f);
    meter_.show();
    loop_.advance(0.05);
    EXPECT_FLOAT_EQ(meter_.peaks()[0], -7.5f);  // held long ago: falls at the next tick
}

TEST(VuMeter, LevelArraysArePaddedAndCut) {
    const MeterLevels two = meterLevels({-3.0f, -4.0f});
    EXPECT_EQ(two, (MeterLevels{-3, -4, -100, -100, -100, -100, -100, -100}));
    std::vector<float> ten(10, -1.0f);
    EXPECT_EQ(meterLevels(ten), (MeterLevels{-1, -1, -1, -1, -1, -1, -1, -1}));
}

// A 30 x 215 bar: travel 163, the lit part from the bottom edge; colours over black.
class MeterBarTest : public ::testing::Test {
  protected:
    QImage paint(float level, float peak, bool inactive = false) {
        bar_.setReading(level, peak, inactive);
        return test::render(bar_);
    }
    QColor dim(const QColor& c) { return test::over(ui::palette::withOpacity(c, 0.18), Qt::black); }
    void SetUp() override { bar_.resize(30, 215); }
    MeterBarView bar_;
};

TEST_F(MeterBarTest, LitHeightFollowsTheLevel) {
    const QColor green = ui::palette::green();
    // Just above the floor: the bottom 26 points are lit, the rest dim.
    QImage image = paint(-39.9f, -100.0f);
    test::saveShot(image, QStringLiteral("meter_bar_-39.9"));
    EXPECT_TRUE(test::near(image.pixelColor(15, 214), green));
    EXPECT_TRUE(test::near(image.pixelColor(15, 190), green));
    EXPECT_TRUE(test::near(image.pixelColor(15, 188), dim(green)));
    // Exactly the floor: nothing lit.
    image = paint(-40.0f, -100.0f);
    EXPECT_TRUE(test::near(image.pixelColor(15, 214), dim(green)));
    // -20 dB: lit up to 26 + 163 * 0.3 = 74.9 points from the bottom (y 140.1).
    image = paint(-20.0f, -100.0f);
    EXPECT_TRUE(test::near(image.pixelColor(15, 141), green));
    EXPECT_TRUE(test::near(image.pixelColor(15, 139), dim(green)));
    // Full scale: the top 26 points stay dim (red at the very top).
    image = paint(12.0f, -100.0f);
    test::saveShot(image, QStringLiteral("meter_bar_+12"));
    EXPECT_TRUE(test::near(image.pixelColor(15, 0), dim(ui::palette::red()), 3));
    EXPECT_TRUE(test::near(image.pixelColor(15, 24), dim(image.pixelColor(15, 28)), 12));
    EXPECT_GT(qRed(image.pixel(15, 28)), 200);
}

TEST_F(MeterBarTest, PeakMarkerWhiteUpToZeroRedAbove) {
    // +1 dB: marker centred 26 + 163 * (1 - 0.77083) = 63.35 from the top.
    QImage image = paint(-10.0f, 1.0f);
    test::saveShot(image, QStringLiteral("meter_bar_peak_+1"));
    EXPECT_TRUE(test::near(image.pixelColor(15, 63), ui::palette::red()));
    // 0 dB: centred at 66.75, white.
    image = paint(-10.0f, 0.0f);
    EXPECT_EQ(image.pixelColor(15, 66), QColor(Qt::white));
    // No marker once the level is at the floor, however high the held peak.
    image = paint(-40.0f, 0.0f);
    EXPECT_NE(image.pixelColor(15, 66), QColor(Qt::white));
    // Nor for a peak at the floor.
    image = paint(-10.0f, -40.0f);
    EXPECT_FALSE(test::near(image.pixelColor(15, 189), Qt::white, 40));
}

TEST_F(VuMeterTest, ChannelsFromTheActiveCountAreFlatGrey) {
    meter_.setLevels({-6.0f, -12.0f, -6.0f, -6.0f, -6.0f, -6.0f, -6.0f, -6.0f});
    const QImage image = test::render(meter_);
    test::saveShot(image, QStringLiteral("vu_meter_2_active"));
    for (int ch = 0; ch < kMeterChannels; ++ch) {
        EXPECT_EQ(meter_.bar(ch)->inactive(), ch >= 2) << ch;
        const QPoint centre = meter_.bar(ch)->geometry().center();
        const QColor c = image.pixelColor(centre.x(), 200);
        if (ch >= 2) {
            EXPECT_EQ(c, QColor(31, 31, 31)) << ch;
        } else {
            EXPECT_TRUE(test::near(c, ui::palette::green())) << ch;
        }
    }
    // Eight bars of equal width, 2 points apart.
    for (int ch = 1; ch < kMeterChannels; ++ch) {
        EXPECT_NEAR(meter_.bar(ch)->width(), meter_.bar(0)->width(), 1) << ch;
        EXPECT_EQ(meter_.bar(ch)->x() - meter_.bar(ch - 1)->geometry().right() - 1, 2);
    }
}

TEST(VuScale, MarksStandAtTheirLevels) {
    VUScaleLabels scale(VUScaleLabels::standardTicks());
    scale.resize(36, 215);
    ASSERT_EQ(scale.ticks().size(), 8u);
    EXPECT_EQ(scale.ticks().front().label, "+10");
    EXPECT_EQ(scale.ticks().back().label, "-∞");
    EXPECT_DOUBLE_EQ(scale.tickY(12), 26.0);
    EXPECT_DOUBLE_EQ(scale.tickY(0), 66.75);
    EXPECT_DOUBLE_EQ(scale.tickY(-40), 189.0);
    const QImage image = test::render(scale);
    test::saveShot(image, QStringLiteral("vu_scale"));
    // The zero tick (white 0.7, 6 wide) is brighter than the -20 tick (white 0.45, 4 wide).
    EXPECT_GT(qGray(image.pixel(4, 66)) + qGray(image.pixel(4, 67)), 150);
    const int y20 = static_cast<int>(scale.tickY(-20));
    EXPECT_GT(qGray(image.pixel(4, y20)) + qGray(image.pixel(4, y20 + 1)), 40);
    EXPECT_EQ(qGray(image.pixel(1, y20)), 0);  // 4 wide: from x 3 to 7
}

}  // namespace
}  // namespace kestio::panels
