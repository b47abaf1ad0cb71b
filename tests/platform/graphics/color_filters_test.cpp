#include "platform/graphics/color_filters.h"

#include <gtest/gtest.h>

#include <QColor>
#include <cmath>
#include <numbers>
#include <random>

#include "platform/graphics/color_filter_chain.h"
#include "platform/graphics/color_space.h"

namespace kestio::platform {
namespace {

constexpr float kEps = 1e-6f;

void expectRgb(Rgb actual, float r, float g, float b, float eps = kEps) {
    EXPECT_NEAR(actual.r, r, eps);
    EXPECT_NEAR(actual.g, g, eps);
    EXPECT_NEAR(actual.b, b, eps);
}

// The exact 8-bit value of a linear-light result, before rounding.
double exact(double linear) {
    return linearToSrgb(std::clamp(linear, 0.0, 1.0)) * 255.0;
}
int encode(double linear) {
    return static_cast<int>(std::lround(exact(linear)));
}
double decode(int v) {
    return srgbToLinear(v / 255.0);
}

// A picture's channel is the formula's value rounded to 8 bits; within a few hundredths of a
// step from halfway it may round either way.
constexpr double kRounding = 0.5 + 0.03;
void expectPixel(QColor actual, double r, double g, double b) {
    EXPECT_LE(std::abs(actual.red() - exact(r)), kRounding) << "red " << exact(r);
    EXPECT_LE(std::abs(actual.green() - exact(g)), kRounding) << "green " << exact(g);
    EXPECT_LE(std::abs(actual.blue() - exact(b)), kRounding) << "blue " << exact(b);
}

TEST(ColorSpace, UsesTheSrgbTransferCurve) {
    EXPECT_NEAR(srgbToLinear(0.5), 0.214041140, 1e-9);
    EXPECT_NEAR(srgbToLinear(0.02), 0.02 / 12.92, 1e-12);
    EXPECT_NEAR(linearToSrgb(0.214041140), 0.5, 1e-8);
    EXPECT_EQ(srgbToLinear(0.0), 0.0);
    EXPECT_NEAR(srgbToLinear(1.0), 1.0, 1e-12);
}

TEST(ColorControls, SaturationContrastAndBrightnessFollowTheirFormulas) {
    const Rgb c{0.8f, 0.4f, 0.1f};
    const float luma = 0.2125f * 0.8f + 0.7154f * 0.4f + 0.0721f * 0.1f;
    expectRgb(applyColorControls({0, 1, 0}, c), luma, luma, luma);
    expectRgb(applyColorControls({0, 1, 2}, c), 2 * 0.8f - luma, 2 * 0.4f - luma, 2 * 0.1f - luma);
    expectRgb(applyColorControls({0, 2, 1}, c), 1.1f, 0.3f, -0.3f);
    expectRgb(applyColorControls({0.25f, 1, 1}, c), 1.05f, 0.65f, 0.35f);
    // Saturation first, then contrast, then brightness.
    const float s = luma + 0.5f * (0.8f - luma);
    EXPECT_NEAR(applyColorControls({0.1f, 1.5f, 0.5f}, c).r, (s - 0.5f) * 1.5f + 0.5f + 0.1f, kEps);
    expectRgb(applyColorControls({}, c), 0.8f, 0.4f, 0.1f);
}

TEST(HueAdjust, RotatesAboutTheGreyAxis) {
    const float pi = std::numbers::pi_v<float>;
    expectRgb(applyHueAdjust({pi}, {1, 0, 0}), -1.0f / 3, 2.0f / 3, 2.0f / 3);
    expectRgb(applyHueAdjust({2 * pi / 3}, {1, 0, 0}), 0, 1, 0);  // red turns toward green
    expectRgb(applyHueAdjust({-2 * pi / 3}, {1, 0, 0}), 0, 0, 1);
    expectRgb(applyHueAdjust({1.234f}, {0.3f, 0.3f, 0.3f}), 0.3f, 0.3f, 0.3f);  // greys stay
    expectRgb(applyHueAdjust({0}, {0.1f, 0.5f, 0.9f}), 0.1f, 0.5f, 0.9f);
}

TEST(GammaAdjust, RaisesEachChannelToThePowerAndZeroesNegatives) {
    expectRgb(applyGammaAdjust({2.0f}, {0.5f, 1.0f, 0.0f}), 0.25f, 1.0f, 0.0f);
    expectRgb(applyGammaAdjust({0.5f}, {0.25f, -0.3f, 4.0f}), 0.5f, 0.0f, 2.0f);
}

TEST(ColorMatrix, ScalesEachChannelByItsGain) {
    expectRgb(applyColorMatrix({1.5f, 1, 1}, {0.4f, 0.3f, 0.2f}), 0.6f, 0.3f, 0.2f);
    expectRgb(applyColorMatrix({0, 2, 0.5f}, {0.4f, 0.3f, 0.2f}), 0.0f, 0.6f, 0.1f);
}

TEST(ColorFilters, NeutralityIsExactComparison) {
    EXPECT_TRUE(isIdentity({}));
    EXPECT_TRUE(isIdentity({ColorControls{}, HueAdjust{}, GammaAdjust{}, ColorMatrix{}}));
    EXPECT_FALSE(isIdentity({GammaAdjust{1.0000001f}}));
    EXPECT_FALSE(isIdentity({ColorMatrix{1, 1, 0.999f}}));
    EXPECT_FALSE(isIdentity({HueAdjust{1e-7f}}));
}

// ---- pictures ----------------------------------------------------------------------------

QImage solid(QColor color, QImage::Format format = QImage::Format_RGB32) {
    QImage image(4, 3, format);
    image.fill(color);
    return image;
}

TEST(ColorFilterChain, IdentitySettingsReturnTheVerySameImage) {
    const QImage still = solid(QColor(12, 34, 56));
    for (const auto& chain :
         {ColorFilterChain(),
          ColorFilterChain({ColorControls{}, HueAdjust{}, GammaAdjust{}, ColorMatrix{}})}) {
        const QImage out = chain.apply(still);
        EXPECT_TRUE(chain.isIdentity());
        EXPECT_EQ(out.constBits(), still.constBits());
        EXPECT_EQ(out.cacheKey(), still.cacheKey());
    }
    EXPECT_TRUE(ColorFilterChain({GammaAdjust{2}}).apply(QImage()).isNull());
}

TEST(ColorFilterChain, EveryEightBitValueSurvivesTheWorkingSpaceRoundTrip) {
    QImage ramp(256, 1, QImage::Format_RGB32);
    for (int v = 0; v < 256; ++v) {
        ramp.setPixelColor(v, 0, QColor(v, 255 - v, v / 2));
    }
    const ColorFilterChain nearlyNeutral({ColorControls{}, ColorMatrix{1, 1, 1.0000001f}});
    ASSERT_FALSE(nearlyNeutral.isIdentity());
    const QImage out = nearlyNeutral.apply(ramp);
    EXPECT_NE(out.constBits(), ramp.constBits());
    EXPECT_EQ(out, ramp);
}

TEST(ColorFilterChain, SaturationZeroGivesGreyOfTheLinearLuma) {
    const ColorFilterChain grey({ColorControls{0, 1, 0}});
    expectPixel(grey.apply(solid(QColor(255, 0, 0))).pixelColor(1, 1), 0.2125, 0.2125, 0.2125);
    const double luma = 0.2125 * decode(200) + 0.7154 * decode(150) + 0.0721 * decode(30);
    const QColor mixed = grey.apply(solid(QColor(200, 150, 30))).pixelColor(0, 0);
    expectPixel(mixed, luma, luma, luma);
    EXPECT_EQ(mixed.red(), mixed.green());
    EXPECT_EQ(mixed.green(), mixed.blue());
}

TEST(ColorFilterChain, Hue180TurnsRedToCyan) {
    const QImage out = ColorFilterChain({ColorControls{}, HueAdjust{std::numbers::pi_v<float>}})
                           .apply(solid(QColor(255, 0, 0)));
    expectPixel(out.pixelColor(2, 2), -1.0 / 3, 2.0 / 3, 2.0 / 3);  // the negative third clamps
    EXPECT_EQ(out.pixelColor(2, 2), QColor(0, 213, 213));
}

TEST(ColorFilterChain, GammaAndGainsAreAppliedAsWritten) {
    const QColor in(188, 100, 40);
    const double r = decode(188), g = decode(100), b = decode(40);
    expectPixel(ColorFilterChain({GammaAdjust{2.0f}}).apply(solid(in)).pixelColor(0, 0), r * r,
                g * g, b * b);
    expectPixel(ColorFilterChain({GammaAdjust{0.5f}}).apply(solid(in)).pixelColor(0, 0),
                std::sqrt(r), std::sqrt(g), std::sqrt(b));
    const QColor gain =
        ColorFilterChain({ColorMatrix{1.5f, 1, 1}}).apply(solid(in)).pixelColor(0, 0);
    expectPixel(gain, 1.5 * r, g, b);
    EXPECT_EQ(gain.green(), 100);  // untouched channels come back exactly
    EXPECT_EQ(gain.blue(), 40);
    expectPixel(ColorFilterChain({ColorControls{0.1f, 1, 1}}).apply(solid(in)).pixelColor(0, 0),
                r + 0.1, g + 0.1, b + 0.1);
    expectPixel(ColorFilterChain({ColorControls{0, 1.5f, 1}}).apply(solid(in)).pixelColor(0, 0),
                (r - 0.5) * 1.5 + 0.5, (g - 0.5) * 1.5 + 0.5, (b - 0.5) * 1.5 + 0.5);
    const QImage clipped = ColorFilterChain({ColorMatrix{2, 0, 1}}).apply(solid(QColor(250, 9, 9)));
    EXPECT_EQ(clipped.pixelColor(0, 0), QColor(255, 0, 9));
}

TEST(ColorFilterChain, KeepsFormatAndAlphaAndFiltersColourUnpremultiplied) {
    const QColor translucent(200, 100, 50, 128);
    const ColorFilterChain gains({ColorMatrix{1.2f, 0.5f, 1}});
    const int r = encode(1.2 * decode(200));
    const int g = encode(0.5 * decode(100));
    for (auto format : {QImage::Format_ARGB32, QImage::Format_ARGB32_Premultiplied,
                        QImage::Format_RGBA8888, QImage::Format_RGBA8888_Premultiplied}) {
        const QImage out = gains.apply(solid(translucent, format));
        ASSERT_EQ(out.format(), format);
        const QColor c = out.pixelColor(0, 0);
        EXPECT_EQ(c.alpha(), 128) << format;
        EXPECT_NEAR(c.red(), r, 2) << format;  // premultiplied storage rounds twice
        EXPECT_NEAR(c.green(), g, 2) << format;
        EXPECT_NEAR(c.blue(), 50, 2) << format;
    }
    for (auto format : {QImage::Format_RGB32, QImage::Format_RGBX8888}) {
        const QImage out = gains.apply(solid(QColor(200, 100, 50), format));
        EXPECT_EQ(out.format(), format);
        EXPECT_EQ(out.pixelColor(0, 0), QColor(r, g, 50));
    }
    const QImage grey = gains.apply(solid(QColor(100, 100, 100), QImage::Format_Grayscale8));
    EXPECT_EQ(grey.format(), QImage::Format_RGB32);
    EXPECT_EQ(grey.pixelColor(0, 0),
              QColor(encode(1.2 * decode(100)), encode(0.5 * decode(100)), 100));
}

// The fast picture path against the per-colour functions in double-precision encoding.
TEST(ColorFilterChain, PicturesMatchThePerColourFunctionsToRounding) {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    QImage noise(97, 61, QImage::Format_RGB32);
    for (int y = 0; y < noise.height(); ++y) {
        for (int x = 0; x < noise.width(); ++x) {
            noise.setPixel(x, y, random() | 0xff000000u);
        }
    }
    for (int trial = 0; trial < 20; ++trial) {
        const std::vector<ColorFilter> filters = {
            ColorControls{unit(random) - 0.5f, unit(random) * 2, unit(random) * 2},
            HueAdjust{(unit(random) - 0.5f) * 6.2832f}, GammaAdjust{0.1f + unit(random) * 2.9f},
            ColorMatrix{unit(random) * 2, unit(random) * 2, unit(random) * 2}};
        const QImage out = ColorFilterChain(filters).apply(noise);
        double worst = 0;
        for (int y = 0; y < noise.height(); ++y) {
            for (int x = 0; x < noise.width(); ++x) {
                const QColor in = noise.pixelColor(x, y);
                const Rgb ref = applyColorFilters(
                    filters,
                    {float(decode(in.red())), float(decode(in.green())), float(decode(in.blue()))});
                const QColor got = out.pixelColor(x, y);
                worst = std::max({worst, std::abs(got.red() - exact(ref.r)),
                                  std::abs(got.green() - exact(ref.g)),
                                  std::abs(got.blue() - exact(ref.b))});
            }
        }
        EXPECT_LE(worst, kRounding) << "trial " << trial;
    }
}

TEST(ColorFilterChain, SplittingOverThreadsChangesNothing) {
    QImage big(1500, 700, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < big.height(); ++y) {
        for (int x = 0; x < big.width(); ++x) {
            big.setPixelColor(x, y, QColor(x % 256, y % 256, (x + y) % 256, 255 - (x % 200)));
        }
    }
    const ColorFilterChain chain({ColorControls{0.05f, 1.1f, 0.8f}, GammaAdjust{1.3f}});
    WorkerPool none(0);
    WorkerPool four(3);
    EXPECT_EQ(chain.apply(big, none), chain.apply(big, four));
}

TEST(ColorFilterChain, BrokenSettingsGiveDefinedPixels) {
    const float nan = std::nanf("");
    for (const auto& filters :
         std::vector<std::vector<ColorFilter>>{{ColorControls{nan, 1, 1}},
                                               {GammaAdjust{nan}},
                                               {GammaAdjust{-3.0f}},
                                               {ColorMatrix{INFINITY, -INFINITY, nan}},
                                               {HueAdjust{INFINITY}}}) {
        const QImage out = ColorFilterChain(filters).apply(solid(QColor(0, 128, 255)));
        ASSERT_FALSE(out.isNull());
        EXPECT_EQ(out.pixelColor(0, 0).alpha(), 255);
    }
}

TEST(ColorFilterChain, OneColourThroughTheCompiledStepsMatchesTheFunctions) {
    const std::vector<ColorFilter> filters = {ColorControls{0.1f, 1.2f, 0.7f}, HueAdjust{0.5f},
                                              GammaAdjust{1.8f}, ColorMatrix{0.9f, 1.1f, 1.0f}};
    const Rgb in{0.3f, 0.6f, 0.2f};
    const Rgb expected = applyColorFilters(filters, in);
    expectRgb(ColorFilterChain(filters).apply(in), expected.r, expected.g, expected.b, 1e-5f);
}

}  // namespace
}  // namespace kestio::platform
