// Decoded 4:2:0 pictures turned into RGB where they are drawn: the conversion against
// libswscale and against the standard's colour bars for each matrix and range, every input
// within one level of the exact result, the same pixels whichever columns or bands of rows are
// converted at once, and the shrinking of a large picture against shrinking its RGB conversion.
#include <gtest/gtest.h>

extern "C" {
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <QImage>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <random>
#include <vector>

#include "platform/graphics/picture_downscale.h"
#include "platform/graphics/yuv_picture.h"

namespace kestio::platform {
namespace {

struct Matrix {
    const char* name;
    float kr;
    float kb;
    int swsColorspace;
};
constexpr Matrix kBt709{"BT.709", 0.2126f, 0.0722f, SWS_CS_ITU709};
constexpr Matrix kBt601{"BT.601", 0.299f, 0.114f, SWS_CS_ITU601};

// The three planes of a 4:2:0 picture, each sample given by a function of its position.
struct Planes {
    using Sample = std::function<int(int x, int y)>;
    Planes(int w, int h, const Sample& luma, const Sample& cb, const Sample& cr)
        : width(w), height(h), chromaWidth((w + 1) / 2), chromaHeight((h + 1) / 2) {
        fill(y, w, h, luma);
        fill(u, chromaWidth, chromaHeight, cb);
        fill(v, chromaWidth, chromaHeight, cr);
    }
    YuvPicture picture(const Matrix& m = kBt709, bool fullRange = false) const {
        YuvPicture p;
        p.width = width;
        p.height = height;
        p.planes[0] = y.data();
        p.planes[1] = u.data();
        p.planes[2] = v.data();
        p.strides[0] = width;
        p.strides[1] = p.strides[2] = chromaWidth;
        p.kr = m.kr;
        p.kb = m.kb;
        p.fullRange = fullRange;
        return p;
    }
    static void fill(std::vector<std::uint8_t>& plane, int w, int h, const Sample& sample) {
        plane.resize(std::size_t(w) * h);
        for (int j = 0; j < h; ++j) {
            for (int i = 0; i < w; ++i) {
                plane[std::size_t(j) * w + i] = static_cast<std::uint8_t>(sample(i, j));
            }
        }
    }
    int width;
    int height;
    int chromaWidth;
    int chromaHeight;
    std::vector<std::uint8_t> y, u, v;
};

// Samples drawn evenly from [low, high].
Planes randomPlanes(int w, int h, unsigned seed, int low = 0, int high = 255) {
    auto random = std::make_shared<std::mt19937>(seed);
    const auto any = [=](int, int) {
        return std::uniform_int_distribution<int>(low, high)(*random);
    };
    return Planes(w, h, any, any, any);
}

int channelDifference(QRgb a, QRgb b) {
    return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                     std::abs(qBlue(a) - qBlue(b)), std::abs(qAlpha(a) - qAlpha(b))});
}

struct Difference {
    int worst = 0;
    double mean = 0.0;
};

Difference difference(const QImage& a, const QImage& b) {
    Difference d;
    long long total = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const int c = channelDifference(a.pixel(x, y), b.pixel(x, y));
            d.worst = std::max(d.worst, c);
            total += c;
        }
    }
    d.mean = double(total) / (double(a.width()) * a.height());
    return d;
}

// libswscale's conversion of the same planes, unscaled and point-sampled, with each chroma
// sample sited a quarter of a pixel into the two luma rows and columns it covers, so that it is
// the nearest one to both.
QImage swscaleConverted(const Planes& planes, const Matrix& m, bool fullRange) {
    SwsContext* sws = sws_alloc_context();
    const std::pair<const char*, std::int64_t> options[] = {
        {"srcw", planes.width},
        {"srch", planes.height},
        {"src_format", AV_PIX_FMT_YUV420P},
        {"dstw", planes.width},
        {"dsth", planes.height},
        {"dst_format", AV_PIX_FMT_BGRA},
        {"sws_flags", SWS_POINT | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT | SWS_FULL_CHR_H_INP},
        {"src_h_chr_pos", 64},
        {"src_v_chr_pos", 64},
    };
    for (const auto& [name, value] : options) {
        EXPECT_GE(av_opt_set_int(sws, name, value, 0), 0) << name;
    }
    EXPECT_GE(sws_init_context(sws, nullptr, nullptr), 0);
    sws_setColorspaceDetails(sws, sws_getCoefficients(m.swsColorspace), fullRange ? 1 : 0,
                             sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
    QImage image(planes.width, planes.height, QImage::Format_ARGB32);
    const std::uint8_t* source[4] = {planes.y.data(), planes.u.data(), planes.v.data(), nullptr};
    const int sourceStrides[4] = {planes.width, planes.chromaWidth, planes.chromaWidth, 0};
    std::uint8_t* target[4] = {image.bits(), nullptr, nullptr, nullptr};
    const int targetStrides[4] = {int(image.bytesPerLine()), 0, 0, 0};
    EXPECT_EQ(sws_scale(sws, source, sourceStrides, 0, planes.height, target, targetStrides),
              planes.height);
    sws_freeContext(sws);
    return image;
}

QImage converted(const Planes& planes, const Matrix& m = kBt709, bool fullRange = false) {
    WorkerPool alone(0);
    return convertedYuv(planes.picture(m, fullRange), alone);
}

TEST(YuvConversion, MatchesSwscaleForEachMatrixAndRange) {
    // Rows that end in columns the vector steps leave over. Even sizes: libswscale spreads the
    // chroma of an odd size over the whole luma extent, and its nearest chroma sample drifts.
    // Codes within the studio range: libswscale's blue wraps around from about 512 levels,
    // which Y' and Cb at their extremes reach.
    const Planes planes = randomPlanes(78, 38, 7, 16, 240);
    for (const Matrix& m : {kBt709, kBt601}) {
        for (const bool full : {false, true}) {
            SCOPED_TRACE(std::string(m.name) + (full ? " full range" : " studio range"));
            const QImage ours = converted(planes, m, full);
            ASSERT_EQ(ours.format(), QImage::Format_RGB32);
            // Each side rounds its own fixed-point result, so where the exact result falls
            // near half a level they may round apart: one level, never more.
            EXPECT_LE(difference(ours, swscaleConverted(planes, m, full)).worst, 1);
        }
    }
}

// Colours whose codes the standards tabulate: studio-range BT.709 100 % white and black and the
// 75 % colour bars (75 % is 191.25 of 255; the codes are rounded, so the bars come back within a
// level or two), and full-range white and black.
TEST(YuvConversion, GivesTheStandardColoursOfTheirCodes) {
    struct Colour {
        const char* name;
        int y, cb, cr;
        bool full;
        QRgb rgb;
        int tolerance;
    };
    const Colour colours[] = {
        {"white", 235, 128, 128, false, qRgb(255, 255, 255), 0},
        {"black", 16, 128, 128, false, qRgb(0, 0, 0), 0},
        {"75% white", 180, 128, 128, false, qRgb(191, 191, 191), 1},
        {"75% yellow", 168, 44, 136, false, qRgb(191, 191, 0), 2},
        {"75% cyan", 145, 147, 44, false, qRgb(0, 191, 191), 2},
        {"75% green", 134, 63, 52, false, qRgb(0, 191, 0), 2},
        {"75% magenta", 63, 193, 204, false, qRgb(191, 0, 191), 2},
        {"75% red", 51, 109, 212, false, qRgb(191, 0, 0), 2},
        {"75% blue", 28, 212, 120, false, qRgb(0, 0, 191), 2},
        {"full-range white", 255, 128, 128, true, qRgb(255, 255, 255), 0},
        {"full-range black", 0, 128, 128, true, qRgb(0, 0, 0), 0},
    };
    for (const Colour& c : colours) {
        SCOPED_TRACE(c.name);
        // Wide enough for the vector steps and their scalar tail.
        const Planes flat(
            19, 3, [&](int, int) { return c.y; }, [&](int, int) { return c.cb; },
            [&](int, int) { return c.cr; });
        const QImage image = converted(flat, kBt709, c.full);
        for (const int x : {0, 18}) {
            EXPECT_LE(channelDifference(image.pixel(x, 2), c.rgb), c.tolerance)
                << std::hex << image.pixel(x, 2);
        }
    }
}

// R'G'B' in levels (0-255, unclamped) of a code triple, from the standard's definitions:
// Pb = (B' - Y') / (2 - 2 kb), Pr = (R' - Y') / (2 - 2 kr), Y' = kr R' + kg G' + kb B'.
std::array<double, 3> exactRgb(const Matrix& m, bool full, int y, int cb, int cr) {
    const double luma = full ? y / 255.0 : (y - 16) / 219.0;
    const double chromaRange = full ? 255.0 : 224.0;
    const double red = luma + (2 - 2 * m.kr) * (cr - 128) / chromaRange;
    const double blue = luma + (2 - 2 * m.kb) * (cb - 128) / chromaRange;
    const double green = (luma - m.kr * red - m.kb * blue) / (1.0 - m.kr - m.kb);
    return {255 * red, 255 * green, 255 * blue};
}

TEST(YuvConversion, IsWithinALevelOfTheExactResultForEveryCode) {
    // Cb across and Cr down the chroma plane; the four luma samples over each chroma sample
    // take four consecutive codes, the picture's number `block` the codes from 4 * block.
    for (const Matrix& m : {kBt709, kBt601}) {
        for (const bool full : {false, true}) {
            SCOPED_TRACE(std::string(m.name) + (full ? " full range" : " studio range"));
            int misses = 0;
            for (int block = 0; block < 64; ++block) {
                const auto luma = [block](int x, int y) { return 4 * block + 2 * (y % 2) + x % 2; };
                const Planes planes(
                    512, 512, luma, [](int x, int) { return x; }, [](int, int y) { return y; });
                const QImage image = converted(planes, m, full);
                for (int y = 0; y < 512; ++y) {
                    const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
                    for (int x = 0; x < 512; ++x) {
                        const auto exact = exactRgb(m, full, luma(x, y), x / 2, y / 2);
                        const int got[3] = {qRed(line[x]), qGreen(line[x]), qBlue(line[x])};
                        for (int c = 0; c < 3; ++c) {
                            const double target = std::clamp(exact[c], 0.0, 255.0);
                            if (std::abs(got[c] - target) > 1.0) {
                                ++misses;
                            }
                        }
                    }
                }
            }
            EXPECT_EQ(misses, 0) << "channels more than a level off";
        }
    }
}

// Each column and row is converted the same whether it falls in a vector step or the scalar
// tail, and whichever band of rows it is converted with.
TEST(YuvConversion, GivesTheSamePixelsForAnyColumnsAndBandsOfRows) {
    const Planes planes = randomPlanes(80, 19, 3);
    const QImage whole = converted(planes);
    // Windows into the same planes, starting on a chroma column, of widths that leave every
    // number of columns to the tail.
    for (const int left : {0, 2, 30}) {
        for (const int width : {1, 2, 3, 15, 16, 17, 31, 33, 47}) {
            SCOPED_TRACE(testing::Message() << "columns " << left << " + " << width);
            YuvPicture window = planes.picture();
            window.width = width;
            window.planes[0] += left;
            window.planes[1] += left / 2;
            window.planes[2] += left / 2;
            WorkerPool alone(0);
            EXPECT_TRUE(convertedYuv(window, alone) == whole.copy(left, 0, width, planes.height));
        }
    }
    // Bands of odd and even first rows and heights, each converted on its own.
    QImage banded(planes.width, planes.height, QImage::Format_RGB32);
    for (const auto& [top, rows] : {std::pair{0, 3}, {3, 1}, {4, 7}, {11, 8}}) {
        convertYuvRows(planes.picture(), top, rows, banded.scanLine(top), banded.bytesPerLine());
    }
    EXPECT_TRUE(banded == whole);
    // A picture large enough to be spread over a pool and written around the cache, against
    // its rows converted one by one into rows not aligned for that.
    const Planes large = randomPlanes(3840, 2160, 5);
    QImage rowByRow(3841, 2160, QImage::Format_RGB32);
    for (int y = 0; y < large.height; ++y) {
        convertYuvRows(large.picture(), y, 1, rowByRow.scanLine(y), rowByRow.bytesPerLine());
    }
    WorkerPool pool(3);
    EXPECT_TRUE(convertedYuv(large.picture(), pool) == rowByRow.copy(0, 0, 3840, 2160));
}

TEST(YuvConversion, RefusesPicturesWithoutPlanes) {
    WorkerPool alone(0);
    YuvPicture empty;
    EXPECT_TRUE(convertedYuv(empty, alone).isNull());
    empty.width = empty.height = 16;
    EXPECT_TRUE(convertedYuv(empty, alone).isNull());
    EXPECT_TRUE(downscaledYuv(empty, QRectF(0, 0, 16, 16), {4, 4}, alone).isNull());
}

// A smooth picture: slow waves in each plane, so that shrinking it after converting and
// converting after shrinking agree up to rounding; within the RGB gamut, where the conversion
// is linear (clamping is not).
Planes smoothPlanes(int w, int h) {
    return Planes(
        w, h, [](int x, int y) { return 126 + int(50 * std::sin(x / 97.0) * std::cos(y / 61.0)); },
        [](int x, int y) { return 128 + int(30 * std::sin((x + y) / 53.0)); },
        [](int x, int y) { return 128 + int(30 * std::cos((x - 2 * y) / 71.0)); });
}

// Lines one pixel apart average out to their mean, and a flat colour stays that colour.
TEST(YuvDownscale, ShrinksToTheColourOfTheWhole) {
    const auto flat = [](int code) { return [code](int, int) { return code; }; };
    const auto alternate = [](bool rows) {
        return [rows](int x, int y) { return (rows ? y : x) % 2 ? 235 : 16; };
    };
    const Planes orange(1280, 720, flat(81), flat(90), flat(240));
    struct Case {
        const char* name;
        Planes planes;
        QRgb colour;
        int tolerance;
    };
    // Y' 125.5 is 127.5 of 255.
    const Case cases[] = {
        {"luma rows", Planes(3840, 2160, alternate(true), flat(128), flat(128)), 0xff808080u, 1},
        {"luma columns", Planes(3840, 2160, alternate(false), flat(128), flat(128)), 0xff808080u,
         1},
        {"flat colour", orange, converted(orange).pixel(0, 0), 0},
    };
    WorkerPool alone(0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QImage small = downscaledYuv(
            c.planes.picture(), QRectF(0, 0, c.planes.width, c.planes.height), {547, 308}, alone);
        ASSERT_EQ(small.size(), QSize(547, 308));
        ASSERT_EQ(small.format(), QImage::Format_ARGB32_Premultiplied);
        QImage expected(small.size(), small.format());
        expected.fill(c.colour);
        EXPECT_LE(difference(small, expected).worst, c.tolerance);
    }
}

// The shrinking of the planes against shrinking their RGB conversion, which reads the same
// boxes: they differ by where each rounds (averages of RGB levels against RGB levels of
// averages), a level at most.
TEST(YuvDownscale, MatchesShrinkingTheConvertedPicture) {
    struct Case {
        const char* name;
        QSize picture;
        QRectF source;
        QSize size;
    };
    const Case cases[] = {
        {"2160p to the panel", {3840, 2160}, QRectF(0, 0, 3840, 2160), {547, 308}},
        {"2160p to odd sizes", {3840, 2160}, QRectF(0, 0, 3840, 2160), {301, 167}},
        {"part of the picture", {3840, 2160}, QRectF(1000.5, 301, 1920, 1080.5), {480, 270}},
        {"odd picture", {1001, 777}, QRectF(0, 0, 1001, 777), {97, 55}},
        {"large output spread over a pool", {3840, 2160}, QRectF(0, 0, 3840, 2160), {1920, 1080}},
        {"one pixel high", {4000, 1}, QRectF(0, 0, 4000, 1), {500, 1}},
        {"one pixel wide", {1, 4000}, QRectF(0, 0, 1, 4000), {1, 500}},
    };
    WorkerPool alone(0);
    WorkerPool pool(3);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Planes planes = smoothPlanes(c.picture.width(), c.picture.height());
        const QImage one = downscaledYuv(planes.picture(), c.source, c.size, alone);
        ASSERT_EQ(one.size(), c.size);
        EXPECT_TRUE(one == downscaledYuv(planes.picture(), c.source, c.size, pool))
            << "the pool changed the pixels";
        const QImage reference = downscaled(converted(planes), c.source, c.size, alone);
        const Difference d = difference(one, reference);
        EXPECT_LE(d.worst, 1);
        EXPECT_LT(d.mean, 0.5);
    }
}

// Halving a picture puts every box of both shrinks on the 2x2 block of its output pixel, so
// they read the same samples however much neighbours differ: noise in every plane (a box at the
// wrong row or column, or chroma from the wrong sample, shows; from an odd row and column a box
// takes its chroma from four samples), kept close to grey so that no colour clips and the
// conversion stays linear.
TEST(YuvDownscale, MatchesShrinkingTheConvertedPictureWhereBoxesCoincide) {
    struct Case {
        const char* name;
        QSize picture;
        QRectF source;
    };
    const Case cases[] = {
        {"whole picture", {512, 288}, QRectF(0, 0, 512, 288)},
        {"part from even offsets", {512, 288}, QRectF(66, 38, 300, 170)},
        {"part from odd offsets, boxes across chroma samples",
         {512, 288},
         QRectF(67, 39, 300, 170)},
        {"odd picture", {301, 167}, QRectF(0, 0, 300, 166)},
    };
    WorkerPool alone(0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Planes planes = randomPlanes(c.picture.width(), c.picture.height(), 11, 100, 150);
        const QSize size = (c.source.size() / 2).toSize();
        const QImage one = downscaledYuv(planes.picture(), c.source, size, alone);
        ASSERT_EQ(one.size(), size);
        EXPECT_LE(difference(one, downscaled(converted(planes), c.source, size, alone)).worst, 1);
    }
}

}  // namespace
}  // namespace kestio::platform
