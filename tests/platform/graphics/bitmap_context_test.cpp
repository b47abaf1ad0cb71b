#include "platform/graphics/bitmap_context.h"

#include <gtest/gtest.h>

#include <QColor>

namespace kestio::platform {
namespace {

TEST(BitmapContext, StartsTransparentAndRoundsComponents) {
    BitmapContext bitmap(4, 2);
    ASSERT_FALSE(bitmap.isNull());
    EXPECT_EQ(bitmap.makeImage().format(), QImage::Format_RGBA8888_Premultiplied);
    EXPECT_EQ(bitmap.makeImage().pixelColor(0, 0).alpha(), 0);
    bitmap.fillRect({0, 0, 4, 2}, 0.75f, 0.04f, 0.07f);
    EXPECT_EQ(bitmap.makeImage().pixelColor(3, 1), QColor(191, 10, 18));
}

TEST(BitmapContext, APixelTakesAFillWhenItsCentreIsInside) {
    // The colour-bar geometry of a 1920 x 1080 picture: bands at 720.36 and 801.36.
    BitmapContext bitmap(1920, 1080);
    const double upper = 0.667 * 1080;
    const double strip = 0.075 * 1080;
    const double column = 1920.0 / 7;
    bitmap.fillRect({0, 0, 1920, upper}, 1, 0, 0);
    bitmap.fillRect({0, upper, 1920, strip}, 0, 1, 0);
    bitmap.fillRect({0, upper + strip, 1920, 1080 - upper - strip}, 0, 0, 1);
    bitmap.fillRect({column, 0, column, upper}, 1, 1, 1);  // 274.29 .. 548.57
    const QImage image = bitmap.makeImage();
    EXPECT_EQ(image.pixelColor(0, 719), QColor(255, 0, 0));
    EXPECT_EQ(image.pixelColor(0, 720), QColor(0, 255, 0));  // centre 720.5 is past 720.36
    EXPECT_EQ(image.pixelColor(0, 800), QColor(0, 255, 0));
    EXPECT_EQ(image.pixelColor(0, 801), QColor(0, 0, 255));  // 801.5 is past 801.36
    EXPECT_EQ(image.pixelColor(1919, 1079), QColor(0, 0, 255));
    EXPECT_EQ(image.pixelColor(273, 10), QColor(255, 0, 0));  // centre 273.5 < 274.29
    EXPECT_EQ(image.pixelColor(274, 10), QColor(255, 255, 255));
    EXPECT_EQ(image.pixelColor(548, 10), QColor(255, 255, 255));  // 548.5 < 548.57
    EXPECT_EQ(image.pixelColor(549, 10), QColor(255, 0, 0));
}

TEST(BitmapContext, RectanglesOutsideOrEmptyAreHarmless) {
    BitmapContext bitmap(10, 10);
    bitmap.fillRect({-100, -100, 1e9, 1e9}, 0, 1, 0);
    EXPECT_EQ(bitmap.makeImage().pixelColor(9, 9), QColor(0, 255, 0));
    bitmap.fillRect({5, 5, 0.2, 0.2}, 1, 0, 0);  // covers no pixel centre
    bitmap.fillRect({std::nan(""), 0, 5, 5}, 1, 0, 0);
    EXPECT_EQ(bitmap.makeImage().pixelColor(5, 5), QColor(0, 255, 0));
    bitmap.fillRect({0, 0, 10, 10}, 1, 1, 1, 0.5f);
    EXPECT_EQ(bitmap.makeImage().pixelColor(0, 0).alpha(), 128);
}

TEST(BitmapContext, ZeroNegativeOrHugeSizesGiveANullContext) {
    EXPECT_TRUE(BitmapContext(0, 10).isNull());
    EXPECT_TRUE(BitmapContext(10, -1).isNull());
    EXPECT_TRUE(BitmapContext(100000, 100000).isNull());
    BitmapContext none(0, 0);
    none.fillRect({0, 0, 1, 1}, 1, 1, 1);
    EXPECT_TRUE(none.makeImage().isNull());
}

}  // namespace
}  // namespace kestio::platform
