#include "output/color_bars.h"

#include <gtest/gtest.h>

#include <QColor>
#include <cmath>
#include <string>

namespace kestio::output {
namespace {

// The table's colours as 8-bit codes (round(v × 255)).
constexpr QRgb kWhite75 = qRgb(191, 191, 191);
constexpr QRgb kYellow = qRgb(191, 191, 0);
constexpr QRgb kCyan = qRgb(0, 191, 191);
constexpr QRgb kGreen = qRgb(0, 191, 0);
constexpr QRgb kMagenta = qRgb(191, 0, 191);
constexpr QRgb kRed = qRgb(191, 0, 0);
constexpr QRgb kBlue = qRgb(0, 0, 191);
constexpr QRgb kBlack = qRgb(0, 0, 0);
constexpr QRgb kMinusI = qRgb(0, 18, 71);
constexpr QRgb kWhite100 = qRgb(255, 255, 255);
constexpr QRgb kPlusQ = qRgb(54, 0, 74);
constexpr QRgb kGrey4 = qRgb(10, 10, 10);

std::string name(QRgb c) {
    return "(" + std::to_string(qRed(c)) + ", " + std::to_string(qGreen(c)) + ", " +
           std::to_string(qBlue(c)) + ", " + std::to_string(qAlpha(c)) + ")";
}

// The colour a pixel must have, from where its centre lies: band by height, bar by width.
QRgb expectedAt(int x, int y, int width, int height) {
    const double cx = x + 0.5;
    const double cy = y + 0.5;
    const double bar = width / 7.0;
    const QRgb upper[] = {kWhite75, kYellow, kCyan, kGreen, kMagenta, kRed, kBlue};
    const QRgb strip[] = {kBlue, kBlack, kMagenta, kBlack, kCyan, kBlack, kWhite75};
    if (cy < 0.667 * height) {
        return upper[int(cx / bar)];
    }
    if (cy < 0.742 * height) {
        return strip[int(cx / bar)];
    }
    const double inBars = cx / bar;
    if (inBars < 1.25)
        return kMinusI;
    if (inBars < 2.5)
        return kWhite100;
    if (inBars < 3.75)
        return kPlusQ;
    if (inBars < 4.0)
        return kBlack;
    if (inBars < 4.0 + 5.0 / 7.0)
        return kGrey4;
    if (inBars < 4.0 + 10.0 / 7.0)
        return kBlack;
    return kGrey4;
}

class ColorBarsSizes : public ::testing::TestWithParam<QSize> {};

// Every pixel is exactly the colour of the region its centre lies in.
TEST_P(ColorBarsSizes, EveryPixelIsExact) {
    const QSize size = GetParam();
    const QImage bars = generateSmpteColorBars(size.width(), size.height());
    ASSERT_EQ(bars.size(), size);
    int wrong = 0;
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            const QRgb want = expectedAt(x, y, size.width(), size.height());
            const QRgb got = bars.pixel(x, y);
            if (got != want && ++wrong <= 5) {
                ADD_FAILURE() << "pixel (" << x << ", " << y << ") is " << name(got) << ", not "
                              << name(want);
            }
        }
    }
    EXPECT_EQ(wrong, 0);
}

INSTANTIATE_TEST_SUITE_P(ColorBars, ColorBarsSizes,
                         ::testing::Values(QSize(1920, 1080), QSize(1280, 720), QSize(7, 4)),
                         [](const auto& param) {
                             return std::to_string(param.param.width()) + "x" +
                                    std::to_string(param.param.height());
                         });

// The edges worked out by hand: at 1080 the upper band ends at 720.36 and the strip at
// 801.36; at 720 at 480.24 and 534.24. Bars are 274.29 and 182.86 pixels wide.
TEST(ColorBars, EdgesFallOnPixelCentres) {
    struct Probe {
        int width, height, x, y;
        QRgb colour;
    };
    const Probe probes[] = {
        {1920, 1080, 100, 719, kWhite75},   {1920, 1080, 100, 720, kBlue},
        {1920, 1080, 100, 800, kBlue},      {1920, 1080, 100, 801, kMinusI},
        {1920, 1080, 273, 0, kWhite75},     {1920, 1080, 274, 0, kYellow},
        {1920, 1080, 1645, 0, kRed},        {1920, 1080, 1646, 0, kBlue},
        {1920, 1080, 1919, 1079, kGrey4},   {1920, 1080, 342, 1079, kMinusI},
        {1920, 1080, 343, 1079, kWhite100}, {1280, 720, 10, 479, kWhite75},
        {1280, 720, 10, 480, kBlue},        {1280, 720, 10, 533, kBlue},
        {1280, 720, 10, 534, kMinusI},      {1280, 720, 182, 600, kMinusI},
        {1280, 720, 183, 300, kYellow},     {1280, 720, 1279, 719, kGrey4},
        {1280, 720, 1279, 0, kBlue},
    };
    for (const auto& p : probes) {
        const QImage bars = generateSmpteColorBars(p.width, p.height);
        EXPECT_EQ(name(bars.pixel(p.x, p.y)), name(p.colour))
            << p.width << "x" << p.height << " at (" << p.x << ", " << p.y << ")";
    }
}

TEST(ColorBars, SizesThatCannotBeDrawnGiveANullImage) {
    EXPECT_TRUE(generateSmpteColorBars(0, 1080).isNull());
    EXPECT_TRUE(generateSmpteColorBars(1920, -1).isNull());
    EXPECT_TRUE(generateSmpteColorBars(1 << 20, 1 << 20).isNull());
}

}  // namespace
}  // namespace kestio::output
