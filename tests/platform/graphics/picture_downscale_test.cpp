// Shrinking a picture by a large factor: against QImage's area-averaging smooth scaling, for
// detail as fine as one pixel each way, smooth content, part of a picture and pictures one pixel
// thin; and the same pixels whether the rows are shrunk on one thread or spread over a pool.
#include <gtest/gtest.h>

#include <QImage>
#include <algorithm>
#include <cstdlib>
#include <functional>
#include <vector>

#include "platform/graphics/picture_downscale.h"

namespace kestio::platform {
namespace {

QImage picture(QSize size, QImage::Format format, const std::function<QRgb(int, int)>& pixel) {
    QImage image(size, format);
    for (int y = 0; y < size.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            line[x] = pixel(x, y);
        }
    }
    return image;
}

QRgb grey(int level) {
    return qRgb(level, level, level);
}

int channelDifference(QRgb a, QRgb b) {
    return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                     std::abs(qBlue(a) - qBlue(b)), std::abs(qAlpha(a) - qAlpha(b))});
}

struct Case {
    const char* name;
    QImage picture;
    QRect source;  // whole pixels, so that the reference can cut the same part
    QSize size;
    double meanLimit;  // mean channel difference from the reference
    int worstLimit;
    // The reference for detail finer than area averaging over a footprint of a fractional
    // number of pixels shows without beats: its even grey (-1: QImage's smooth scaling).
    int evenGrey = -1;
};

TEST(PictureDownscale, MatchesAreaAveragingOnOneThreadAndSpreadOverAPool) {
    const QSize k2160(3840, 2160);
    const auto rgb = QImage::Format_RGB32;
    const QRect whole({0, 0}, k2160);
    const QSize panel(547, 308);
    // clang-format off
    const std::vector<Case> cases = {
        {"one-pixel columns", picture(k2160, rgb, [](int x, int) { return grey(x % 2 ? 255 : 0); }),
         whole, panel, 0.6, 1, 128},
        {"one-pixel rows", picture(k2160, rgb, [](int, int y) { return grey(y % 2 ? 255 : 0); }),
         whole, panel, 0.6, 1, 128},
        {"gradient to a large view, spread over the pool",
         picture(k2160, rgb, [](int x, int y) { return qRgb(x * 255 / 3839, y * 255 / 2159, 77); }),
         whole, {1920, 1080}, 0.5, 2},
        {"part of a gradient",
         picture(k2160, rgb, [](int x, int y) { return qRgb(x / 16, (x + y) / 24, y / 9); }),
         QRect(1000, 300, 1920, 1080), {480, 270}, 0.5, 2},
        {"translucent premultiplied gradient",
         picture(k2160, QImage::Format_ARGB32_Premultiplied, [](int x, int) {
             const int a = x * 255 / 3839;
             return qRgba(a / 2, a, a / 3, a);
         }),
         whole, panel, 0.5, 2},
        {"one pixel high", picture({4000, 1}, rgb, [](int x, int) { return grey(x * 255 / 3999); }),
         QRect(0, 0, 4000, 1), {500, 1}, 0.5, 1},
        {"one pixel wide", picture({1, 4000}, rgb, [](int, int y) { return grey(y * 255 / 3999); }),
         QRect(0, 0, 1, 4000), {1, 500}, 0.5, 1},
    };
    // clang-format on
    WorkerPool alone(0);
    WorkerPool pool(3);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QImage one = downscaled(c.picture, QRectF(c.source), c.size, alone);
        const QImage spread = downscaled(c.picture, QRectF(c.source), c.size, pool);
        ASSERT_EQ(one.size(), c.size);
        ASSERT_EQ(one.format(), QImage::Format_ARGB32_Premultiplied);
        EXPECT_TRUE(one == spread) << "the pool changed the pixels";
        QImage reference(c.size, QImage::Format_ARGB32_Premultiplied);
        if (c.evenGrey >= 0) {
            reference.fill(grey(c.evenGrey));
        } else {
            reference = c.picture.copy(c.source)
                            .scaled(c.size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                            .convertToFormat(QImage::Format_ARGB32_Premultiplied);
        }
        long long total = 0;
        int worst = 0;
        for (int y = 0; y < c.size.height(); ++y) {
            for (int x = 0; x < c.size.width(); ++x) {
                const int d = channelDifference(one.pixel(x, y), reference.pixel(x, y));
                total += d;
                worst = std::max(worst, d);
            }
        }
        EXPECT_LT(double(total) / (c.size.width() * c.size.height()), c.meanLimit);
        EXPECT_LE(worst, c.worstLimit);
    }
}

}  // namespace
}  // namespace kestio::platform
