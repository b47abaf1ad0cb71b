#include "platform/graphics/box_reducer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace kestio::platform {
namespace {

// A source picture given as R, G, B, A bytes, made pixel by pixel.
struct Source {
    int width;
    int height;
    std::vector<std::uint8_t> rgba;

    template <typename Pixel>
    Source(int w, int h, Pixel pixel) : width(w), height(h), rgba(std::size_t(w) * h * 4) {
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const QRgb p = pixel(x, y);
                std::uint8_t* at = &rgba[(std::size_t(y) * w + x) * 4];
                at[0] = std::uint8_t(qRed(p));
                at[1] = std::uint8_t(qGreen(p));
                at[2] = std::uint8_t(qBlue(p));
                at[3] = std::uint8_t(qAlpha(p));
            }
        }
    }
};

// Fed in bands of `bandRows`, as a decoder hands them over.
QImage reduce(const Source& source, QSize target, bool alpha, int bandRows) {
    BoxReducer reducer({source.width, source.height}, target, alpha);
    EXPECT_TRUE(reducer.ok());
    for (int y = 0; y < source.height; y += bandRows) {
        reducer.addRows(&source.rgba[std::size_t(y) * source.width * 4],
                        std::min(bandRows, source.height - y), source.width);
    }
    return reducer.take();
}

TEST(BoxReducer, AOnePixelCheckerboardAveragesToAnEvenGreyWhateverTheBands) {
    const Source checker(
        64, 48, [](int x, int y) { return (x + y) % 2 ? qRgb(255, 255, 255) : qRgb(0, 0, 0); });
    for (const int band : {1, 5, 16, 48}) {
        SCOPED_TRACE(band);
        const QImage out = reduce(checker, {8, 6}, false, band);
        ASSERT_EQ(out.size(), QSize(8, 6));
        EXPECT_EQ(out.format(), QImage::Format_RGB32);
        for (int y = 0; y < 6; ++y) {
            for (int x = 0; x < 8; ++x) {
                EXPECT_NEAR(qRed(out.pixel(x, y)), 128, 1) << x << "," << y;
                EXPECT_EQ(qAlpha(out.pixel(x, y)), 255);
            }
        }
    }
}

// Uneven factors: every source pixel lands in one output pixel, none is dropped, and a
// boundary between colours falls where its share of the source says.
TEST(BoxReducer, UnevenFactorsKeepEdgesAndCorners) {
    struct Case {
        QSize source;
        QSize target;
    };
    for (const Case& c : {Case{{10, 7}, {3, 2}}, Case{{9, 9}, {9, 1}}, Case{{5, 11}, {1, 11}},
                          Case{{7, 5}, {7, 5}}}) {
        SCOPED_TRACE(std::to_string(c.source.width()) + "x" + std::to_string(c.source.height()));
        // A red pixel in each corner of a blue picture.
        const int w = c.source.width();
        const int h = c.source.height();
        const Source source(w, h, [&](int x, int y) {
            return (x == 0 || x == w - 1) && (y == 0 || y == h - 1) ? qRgb(255, 0, 0)
                                                                    : qRgb(0, 0, 255);
        });
        const QImage out = reduce(source, c.target, false, 3);
        ASSERT_EQ(out.size(), c.target);
        const int tw = c.target.width();
        const int th = c.target.height();
        for (const QPoint corner :
             {QPoint(0, 0), QPoint(tw - 1, 0), QPoint(0, th - 1), QPoint(tw - 1, th - 1)}) {
            EXPECT_GT(qRed(out.pixel(corner)), 0) << corner.x() << "," << corner.y();
        }
        if (c.target == c.source) {
            EXPECT_EQ(out.pixel(0, 0), qRgb(255, 0, 0));
            EXPECT_EQ(out.pixel(1, 1), qRgb(0, 0, 255));
        }
    }
}

TEST(BoxReducer, PremultipliedPixelsAverageToAValidPremultipliedPixel) {
    // Opaque white beside fully transparent: half covered white, never a colour above alpha.
    const Source source(
        4, 2, [](int x, int) { return x % 2 ? qRgba(255, 255, 255, 255) : qRgba(0, 0, 0, 0); });
    const QImage out = reduce(source, {2, 1}, true, 2);
    ASSERT_EQ(out.format(), QImage::Format_ARGB32_Premultiplied);
    for (int x = 0; x < 2; ++x) {
        const QRgb p = out.pixel(x, 0);
        EXPECT_NEAR(qAlpha(p), 128, 1);
        EXPECT_LE(qRed(p), qAlpha(p));
        EXPECT_NEAR(qRed(p), 128, 1);
    }
}

}  // namespace
}  // namespace kestio::platform
