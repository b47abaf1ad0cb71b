#pragma once

#include <QImage>
#include <QRectF>
#include <QSize>
#include <cstdint>
#include <memory>

#include "platform/graphics/worker_pool.h"

namespace kestio::platform {

// A decoded picture kept as the decoder gave it: 8-bit Y'CbCr with both chroma planes at half
// the width and half the height (4:2:0), as most delivery codecs (H.264, HEVC, VP9, AV1 ...)
// decode. It is turned into RGB only where it is drawn, so a queue of pictures waiting to be
// shown holds 1.5 bytes a pixel instead of 4, and a small view of it reads a third as much.
//
// Immutable once made, and safe to read from any thread; `owner` keeps the planes' memory
// (the decoder's frame) alive for as long as any copy of the picture is around.
struct YuvPicture {
    int width = 0;
    int height = 0;
    // Y' (width x height), Cb and Cr ((width + 1) / 2 x (height + 1) / 2), top row first.
    const std::uint8_t* planes[3] = {};
    qsizetype strides[3] = {};
    // The luma weights of red and blue for the matrix the picture was coded with (0.2126 and
    // 0.0722 for BT.709, 0.299 and 0.114 for BT.601); green's is what is left.
    float kr = 0.2126f;
    float kb = 0.0722f;
    // Full-range samples (0-255) instead of the studio range (Y' 16-235, Cb/Cr 16-240).
    bool fullRange = false;
    std::shared_ptr<const void> owner;
};

// Rows [top, top + rows) of `picture` as opaque 32-bit pixels (QImage::Format_RGB32, which is
// also valid premultiplied ARGB32): row `top` lands at `out`, each next row `stride` bytes
// further. Chroma is taken from the nearest chroma sample (rows and columns shared by two luma
// samples), clamped to the picture. Rows of a large picture are written around the cache, unless
// `readSoon` says they are read again at once (a row of scratch, say).
void convertYuvRows(const YuvPicture& picture, int top, int rows, std::uint8_t* out,
                    qsizetype stride, bool readSoon = false);

// The whole picture as a Format_RGB32 image (null when it cannot be allocated), with its rows
// spread over `pool`.
QImage convertedYuv(const YuvPicture& picture, WorkerPool& pool);

// The `source` part of `picture` (in its luma pixels) shrunk to `size`, premultiplied ARGB32
// (opaque): the same filter as downscaled() in picture_downscale.h (boxes spread evenly over each
// output pixel's footprint, so a pattern as fine as one pixel averages out), applied to the
// planes as they are, and the averages converted to RGB.
QImage downscaledYuv(const YuvPicture& picture, QRectF source, QSize size, WorkerPool& pool);

}  // namespace kestio::platform
