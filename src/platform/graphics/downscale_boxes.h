#pragma once

#include <QSize>
#include <algorithm>
#include <cmath>
#include <vector>

// Where a large shrink reads its source: the 2x2 pixel boxes spread evenly over each output
// pixel's footprint, and how the output rows are shared among threads. Shared by the shrinking
// of RGB pictures (picture_downscale.cpp) and of Y'CbCr ones (yuv_picture.cpp), so both read
// the same pixels for the same view.
namespace kestio::platform::downscale {

// Boxes are at most this many source pixels apart across a row, and this many rows apart down
// a column. Rows cost more than columns (a row read at all is read from memory whole), so they
// are sampled more sparsely.
inline constexpr double kColumnSpacing = 4.0;
inline constexpr double kRowSpacing = 8.0;
// At most this many boxes along each axis: 4 * 8 * 8 = 256 pixels per sum keep every channel's
// sum within 16 bits.
inline constexpr int kMaxBoxes = 8;
// Output pixels per part of the work spread over the pool. Shrinking is bound by reading the
// source from memory, not by arithmetic, so a small picture (the player panel's 547x308) is
// shrunk on the calling thread alone: splitting it costs more in waking workers and in threads
// stalling on the same memory than it saves, and beside a full-size view it competes less with
// that view's drawing.
inline constexpr qint64 kPixelsPerPart = 256 * 1024;

// The first row (or column) of each 2x2 box along one axis, for every output position: `boxes`
// per position, the footprint [origin, origin + extent) of the source's `limit` pixels cut into
// `outputs` equal steps.
inline std::vector<int> boxStarts(double origin, double extent, int outputs, int limit,
                                  double spacing, int& boxes) {
    const double step = extent / outputs;
    boxes = std::clamp(static_cast<int>(std::ceil(step / spacing)), 1, kMaxBoxes);
    std::vector<int> starts(static_cast<std::size_t>(outputs) * boxes);
    const int last = std::max(0, limit - 2);
    for (int o = 0; o < outputs; ++o) {
        for (int b = 0; b < boxes; ++b) {
            // The box's centre falls on its share of the footprint's centre.
            const double centre = origin + (o + (b + 0.5) / boxes) * step;
            const int start = static_cast<int>(std::floor(centre - 1.0 + 0.5));
            starts[static_cast<std::size_t>(o) * boxes + b] = std::clamp(start, 0, last);
        }
    }
    return starts;
}

// How many parts of contiguous output rows an output of `size` is shrunk in, on a pool where
// `concurrency` threads can work at once: 1 (the calling thread alone) for a small output.
inline int parts(QSize size, int concurrency) {
    const qint64 pixels = qint64(size.width()) * size.height();
    return static_cast<int>(
        std::min({qint64(size.height()), qint64(concurrency) * 2, 1 + pixels / kPixelsPerPart}));
}

// The first output row of part `part` of `count` (the next part's first row ends it).
inline int partRow(int height, int part, int count) {
    return static_cast<int>(static_cast<qint64>(height) * part / count);
}

}  // namespace kestio::platform::downscale
