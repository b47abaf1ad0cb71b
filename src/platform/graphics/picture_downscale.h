#pragma once

#include <QImage>
#include <QRectF>
#include <QSize>

#include "platform/graphics/worker_pool.h"

namespace kestio::platform {

// Shrinking a picture by a large factor, as a small view of a large picture needs (the player
// panel's 547x308 of a 2160p frame). Bilinear filtering, fine up to half size, reads only four
// pixels around each output pixel's centre and so shows fine detail of the source as shimmering
// moire; averaging every source pixel costs as much as drawing the large picture itself. This
// averages 2x2 pixel boxes spread evenly over each output pixel's footprint, at most four pixels
// apart across a row and eight down a column, so a pattern as fine as one pixel averages out
// while only a few rows of the source are read for each output row (about as many as bilinear
// filtering reads).

// True when shrinking `source` to `target` calls for downscaled() rather than bilinear filtering:
// at least halved both ways.
bool needsDownscale(QSizeF source, QSize target);

// The `source` part of `picture` (in its pixels) shrunk to `size`, premultiplied ARGB32. The
// picture is read as premultiplied ARGB32 or RGB32 (converted first when it is neither). The rows
// of a large output are spread over `pool`; a small one is shrunk on the calling thread.
QImage downscaled(const QImage& picture, QRectF source, QSize size, WorkerPool& pool);

}  // namespace kestio::platform
