#include <gtest/gtest.h>

#include <limits>

#include "panels/geometry_edits.h"

namespace kestio::panels {
namespace {

GeometrySettings placed(GeometryMode mode, double x, double y, double sx, double sy) {
    GeometrySettings g;
    g.mode = mode;
    g.posX = x;
    g.posY = y;
    g.scaleX = sx;
    g.scaleY = sy;
    return g;
}

TEST(GeometrySection, FitAndOriginalCentreOnTheProjectsCanvas) {
    struct Case {
        OutputResolution resolution;
        double x;
        double y;
    };
    const Case cases[] = {{OutputResolution::hd720p, 640, 360},
                          {OutputResolution::hd1080i, 960, 540},
                          {OutputResolution::hd1080p, 960, 540},
                          {OutputResolution::uhd2160p, 1920, 1080}};
    const auto start = placed(GeometryMode::custom, 12, -40, 55, 230);
    for (const auto& c : cases) {
        EXPECT_EQ(withMode(start, GeometryMode::fitToWindow, c.resolution),
                  placed(GeometryMode::fitToWindow, c.x, c.y, 100, 100));
        EXPECT_EQ(withMode(start, GeometryMode::originalSize, c.resolution),
                  placed(GeometryMode::originalSize, c.x, c.y, 55, 230));
    }
    // Custom changes the mode alone: the scales Original kept come back as they were.
    const auto original = withMode(start, GeometryMode::originalSize, OutputResolution::hd720p);
    EXPECT_EQ(withMode(original, GeometryMode::custom, OutputResolution::hd720p),
              placed(GeometryMode::custom, 640, 360, 55, 230));
}

TEST(GeometrySection, RatioLockCarriesThePartnerWithinTheSliderTravel) {
    struct Case {
        double oldW, oldH, typed;
        bool locked;
        double w, h;
    };
    const Case cases[] = {
        {100, 80, 150, true, 150, 120},     // in proportion
        {100, 80, 600, true, 400, 320},     // typed beyond the slider: kept at its end
        {100, 80, 5, true, 10, 10},         // so below it; the partner held at 10
        {0, 80, 150, true, 150, 80},        // no proportion from 0
        {-20, 80, 150, true, 150, 80},      // nor from a negative scale
        {100, 80, 0, true, 10, 10},         // a zero scale places nothing: kept at 10
        {100, 80, -50, true, 10, 10},       // so is a negative one
        {100, 80, 150, false, 150, 80},     // unlocked: independent
        {100, 80, 600, false, 400, 80},     // kept at the end unlocked too
        {75.0 / 7, 1, 150, true, 150, 14},  // the quotient's noise (14.000000000000002) is not kept
        {100, 80, std::numeric_limits<double>::infinity(), true, 400, 320},
    };
    for (const auto& c : cases) {
        const auto start = placed(GeometryMode::custom, 960, 540, c.oldW, c.oldH);
        const auto x = withScaleX(start, c.typed, c.locked);
        EXPECT_EQ(x.scaleX, c.w) << c.oldW << "->" << c.typed;
        EXPECT_EQ(x.scaleY, c.h) << c.oldW << "->" << c.typed;
        // The same with the roles exchanged.
        const auto y =
            withScaleY(placed(GeometryMode::custom, 960, 540, c.oldH, c.oldW), c.typed, c.locked);
        EXPECT_EQ(y.scaleY, c.w);
        EXPECT_EQ(y.scaleX, c.h);
    }
}

TEST(GeometrySection, FieldsUseTheUsersLocale) {
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    const QLocale german(QLocale::German, QLocale::Germany);
    EXPECT_EQ(geometryFieldText(960.4, english), "960");
    EXPECT_EQ(geometryFieldText(1920, english), "1,920");
    EXPECT_EQ(geometryFieldText(1920, german), "1.920");
    EXPECT_EQ(geometryFieldText(-5760, english), "-5,760");
    EXPECT_EQ(geometryFieldValue("9000", english), 9000.0);
    EXPECT_EQ(geometryFieldValue("1,920", english), 1920.0);
    EXPECT_EQ(geometryFieldValue("3,5", german), 3.5);
    EXPECT_EQ(geometryFieldValue("-0", german), 0.0);
    for (const char* bad : {"", "nan", "1e400", "１２x", "abc", "inf"}) {
        EXPECT_FALSE(geometryFieldValue(QString::fromUtf8(bad), german).has_value()) << bad;
        EXPECT_FALSE(geometryFieldValue(QString::fromUtf8(bad), english).has_value()) << bad;
    }
}

}  // namespace
}  // namespace kestio::panels
