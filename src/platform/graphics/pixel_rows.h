#pragma once

#include <QImage>
#include <algorithm>

#include "platform/graphics/worker_pool.h"

// What the colour kernels (ColorLut, ColorFilterChain) share: the 32-bit pixel layouts they
// read and write in place, and the split of a picture's rows over a worker pool. Internal to
// platform/graphics.
namespace kestio::platform::pixel_rows {

enum class Alpha { Opaque, Straight, Premultiplied };

struct Layout {
    int redShift;   // 16 for 0xAARRGGBB words, 0 for R,G,B,A bytes
    int blueShift;  // the other of the two
    Alpha alpha;
};

// False for a format the kernels do not read.
inline bool layoutOf(QImage::Format format, Layout& layout) {
    switch (format) {
        case QImage::Format_RGB32:
            layout = {16, 0, Alpha::Opaque};
            return true;
        case QImage::Format_ARGB32:
            layout = {16, 0, Alpha::Straight};
            return true;
        case QImage::Format_ARGB32_Premultiplied:
            layout = {16, 0, Alpha::Premultiplied};
            return true;
        case QImage::Format_RGBX8888:
            layout = {0, 16, Alpha::Opaque};
            return true;
        case QImage::Format_RGBA8888:
            layout = {0, 16, Alpha::Straight};
            return true;
        case QImage::Format_RGBA8888_Premultiplied:
            layout = {0, 16, Alpha::Premultiplied};
            return true;
        default:
            return false;
    }
}

// `image` itself when the kernels read its format, else a copy converted to one they read
// (premultiplied ARGB32 with an alpha channel, RGB32 without); `layout` is set to its layout.
inline QImage inKernelLayout(const QImage& image, Layout& layout) {
    if (layoutOf(image.format(), layout)) {
        return image;
    }
    QImage converted = image.convertToFormat(
        image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    layoutOf(converted.format(), layout);
    return converted;
}

// Calls rows(from, to) over the rows [0, height) of a picture `width` wide: at once for a small
// picture or a pool of one, else in bands spread over `pool`.
template <class Rows>
void forEachRowBand(int width, int height, WorkerPool& pool, const Rows& rows) {
    const qint64 pixels = static_cast<qint64>(width) * height;
    if (pixels < 32 * 1024 || pool.concurrency() == 1) {
        rows(0, height);
        return;
    }
    const int parts = std::min(height, pool.concurrency() * 4);
    pool.parallelFor(parts, [&](int part) {
        rows(static_cast<int>(static_cast<qint64>(height) * part / parts),
             static_cast<int>(static_cast<qint64>(height) * (part + 1) / parts));
    });
}

}  // namespace kestio::platform::pixel_rows
