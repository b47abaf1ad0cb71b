#include "platform/graphics/color_lut.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>

#include "platform/graphics/yuv_picture.h"
#include "support/yuv_pictures.h"

namespace kestio::platform {
namespace {

using Kernel = ColorLut::Kernel;
constexpr float kPi = std::numbers::pi_v<float>;

// Every pair of values of two channels, the third random, and all greys: 256 x 1024.
const QImage& everyPair() {
    static const QImage picture = [] {
        QImage image(256, 1024, QImage::Format_RGB32);
        std::mt19937 random(11);
        for (int y = 0; y < image.height(); ++y) {
            auto* line = reinterpret_cast<quint32*>(image.scanLine(y));
            for (int x = 0; x < 256; ++x) {
                const auto u = static_cast<quint32>(x);
                const auto v = static_cast<quint32>(y % 256);
                const quint32 w = random() & 0xffu;
                const quint32 rgb[4] = {(u << 16) | (v << 8) | w, (w << 16) | (u << 8) | v,
                                        (u << 16) | (w << 8) | v, y % 2 ? u * 0x10101u : w << 8};
                line[x] = 0xff000000u | rgb[y / 256];
            }
        }
        return image;
    }();
    return picture;
}

struct Difference {
    int colour = 0;
    int alpha = 0;
};

Difference largestDifference(const QImage& a, const QImage& b) {
    Difference d;
    for (int y = 0; y < a.height(); ++y) {
        const uchar* p = a.constScanLine(y);
        const uchar* q = b.constScanLine(y);
        for (int i = 0; i < a.width() * 4; ++i) {
            int& worst = i % 4 == 3 ? d.alpha : d.colour;
            worst = std::max(worst, std::abs(p[i] - q[i]));
        }
    }
    return d;
}

TEST(ColorLut, AgreesWithTheExactPathWithinOneStep) {
    const std::vector<std::vector<ColorFilter>> chains = {
        {ColorControls{-1, 1, 1}},
        {ColorControls{1, 1, 1}},
        {ColorControls{0.3f, 0.5f, 1.5f}},
        {ColorControls{0, 0, 1}},
        {ColorControls{0, 2, 1}},
        {ColorControls{0, 1, 0}},
        {ColorControls{0, 1, 2}},
        {HueAdjust{kPi}},
        {HueAdjust{-kPi}},
        {HueAdjust{kPi / 2}},
        {GammaAdjust{0.1f}},
        {GammaAdjust{0.6f}},
        {GammaAdjust{3}},
        {ColorMatrix{0, 2, 1}},
        {ColorMatrix{0.5f, 1.5f, 1.2f}},
        {ColorControls{0.05f, 1.1f, 0.9f}, HueAdjust{0.3f}, GammaAdjust{1.2f},
         ColorMatrix{1.1f, 1.0f, 0.9f}},
        {ColorControls{-0.2f, 1.8f, 1.6f}, HueAdjust{-2}, GammaAdjust{2.5f},
         ColorMatrix{1.8f, 0.4f, 1.2f}},
        {ColorControls{0.1f, 1.3f, 0.7f}, GammaAdjust{0.4f}, ColorMatrix{2, 0.2f, 1}},
        // Two mixing steps around a gamma: no lookup shape, the exact path runs.
        {HueAdjust{1}, GammaAdjust{2}, HueAdjust{-1}},
    };
    for (std::size_t i = 0; i < chains.size(); ++i) {
        const ColorFilterChain chain(chains[i]);
        const ColorLut lut(chain);
        const QImage exact = chain.apply(everyPair());
        for (const Kernel kernel : {Kernel::Fastest, Kernel::Portable}) {
            const Difference d =
                largestDifference(lut.apply(everyPair(), WorkerPool::shared(), kernel), exact);
            EXPECT_LE(d.colour, 1) << "chain " << i << " kernel " << int(kernel);
            EXPECT_EQ(d.alpha, 0) << "chain " << i;
        }
    }
}

TEST(ColorLut, KeepsFormatAndAlphaAndFiltersColourUnpremultiplied) {
    const ColorFilterChain chain({ColorControls{0.1f, 1.2f, 1.4f}, GammaAdjust{0.8f}});
    const ColorLut lut(chain);
    QImage translucent = everyPair().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < translucent.height(); ++y) {
        auto* line = reinterpret_cast<quint32*>(translucent.scanLine(y));
        for (int x = 0; x < translucent.width(); ++x) {
            line[x] = (line[x] & 0xffffffu) | (static_cast<quint32>(x * 7 + y) % 256 << 24);
        }
    }
    for (const auto format :
         {QImage::Format_RGB32, QImage::Format_ARGB32, QImage::Format_ARGB32_Premultiplied,
          QImage::Format_RGBX8888, QImage::Format_RGBA8888, QImage::Format_RGBA8888_Premultiplied,
          QImage::Format_Grayscale8, QImage::Format_RGB888}) {
        const QImage in = translucent.convertToFormat(format);
        const QImage exact = chain.apply(in);
        for (const Kernel kernel : {Kernel::Fastest, Kernel::Portable}) {
            const QImage out = lut.apply(in, WorkerPool::shared(), kernel);
            ASSERT_EQ(out.format(), exact.format()) << format;
            const Difference d = largestDifference(out, exact);
            EXPECT_LE(d.colour, 1) << format << " kernel " << int(kernel);
            EXPECT_EQ(d.alpha, 0) << format;
        }
    }
}

TEST(ColorLut, IdentityAndNullPicturesComeBackUntouched) {
    const QImage still = everyPair();
    for (const auto& lut :
         {ColorLut(), ColorLut(ColorFilterChain(
                          {ColorControls{}, HueAdjust{}, GammaAdjust{}, ColorMatrix{}}))}) {
        EXPECT_TRUE(lut.isIdentity());
        EXPECT_EQ(lut.apply(still).cacheKey(), still.cacheKey());
    }
    EXPECT_TRUE(ColorLut(ColorFilterChain({GammaAdjust{2}})).apply(QImage()).isNull());
}

// A picture kept as decoded is corrected in one pass with its conversion, and comes out as the
// converted picture corrected would, pixel for pixel: for a table, for a chain too mixed for a
// table (which corrects the converted picture), and for the identity (the conversion alone).
// Rows of a large picture go through the same per-row scratch as a small one's.
TEST(ColorLut, CorrectsAPictureKeptAsDecodedAsItsConvertedImage) {
    WorkerPool pool(3);
    for (const QSize size : {QSize(77, 41), QSize(1921, 1081)}) {
        const YuvPicture picture = test::smoothYuvPicture(size, 5);
        const QImage converted = convertedYuv(picture, pool);
        for (const auto& chain :
             {ColorFilterChain(),
              ColorFilterChain({ColorControls{0.1f, 1.2f, 1.4f}, GammaAdjust{0.8f}}),
              ColorFilterChain({ColorMatrix{1.2f, 1.0f, 0.8f}, HueAdjust{0.5f},
                                ColorMatrix{0.9f, 1.1f, 1.0f}})}) {
            const ColorLut lut(chain);
            for (const Kernel kernel : {Kernel::Fastest, Kernel::Portable}) {
                const QImage direct = lut.apply(picture, pool, kernel);
                const QImage twoPasses = lut.apply(converted, pool, kernel);
                ASSERT_EQ(direct.size(), size);
                ASSERT_EQ(direct.format(), twoPasses.format());
                const Difference d = largestDifference(direct, twoPasses);
                EXPECT_EQ(d.colour, 0) << size.width() << " kernel " << int(kernel);
                EXPECT_EQ(d.alpha, 0);
            }
        }
    }
}

TEST(ColorLut, WritesIntoItsOwnBufferOnlyAndNeverIntoASharedOne) {
    const ColorLut lut(ColorFilterChain({ColorMatrix{1.5f, 1, 0.5f}}));
    const QImage expected = lut.apply(everyPair());
    QImage out(everyPair().size(), everyPair().format());
    const uchar* buffer = out.constBits();
    lut.applyInto(everyPair(), out);
    EXPECT_EQ(out.constBits(), buffer);
    EXPECT_EQ(out, expected);

    const QImage kept = out;  // shared now: the next picture goes to a new buffer
    lut.applyInto(everyPair().mirrored(), out);
    EXPECT_NE(out.constBits(), kept.constBits());
    EXPECT_EQ(kept, expected);
}

TEST(ColorLut, BrokenSettingsGiveDefinedPixels) {
    const float nan = std::nanf("");
    for (const auto& filters : std::vector<std::vector<ColorFilter>>{
             {ColorControls{nan, 1, 1}},
             {GammaAdjust{nan}},
             {GammaAdjust{-3.0f}},
             {ColorMatrix{INFINITY, -INFINITY, nan}},
             {HueAdjust{INFINITY}},
             {ColorControls{0, 1e30f, 2}, GammaAdjust{0.1f}, ColorMatrix{-1, 1e-30f, 0}}}) {
        const ColorLut lut((ColorFilterChain(filters)));
        for (const Kernel kernel : {Kernel::Fastest, Kernel::Portable}) {
            const QImage out = lut.apply(everyPair(), WorkerPool::shared(), kernel);
            ASSERT_FALSE(out.isNull());
            EXPECT_EQ(largestDifference(out, everyPair()).alpha, 0);
        }
    }
}

}  // namespace
}  // namespace kestio::platform
