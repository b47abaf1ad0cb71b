#pragma once

#include <QImage>
#include <QSize>
#include <cstdint>
#include <vector>

namespace kestio::platform {

// Shrinks a picture handed over row by row, top to bottom, into a smaller one, each output pixel
// the average of the box of source pixels it covers. Only one output row's sums are kept beside
// the output, so a picture far larger than memory allows can be reduced as it is decoded.
class BoxReducer {
  public:
    // `target` no larger than `source` either way. The output is premultiplied ARGB32 with
    // `alpha`, else RGB32; the rows added must then hold premultiplied pixels.
    BoxReducer(QSize source, QSize target, bool alpha);

    // False when the output picture could not be allocated.
    bool ok() const { return !output_.isNull(); }

    // Adds the next `count` source rows, `stride` pixels apart, each pixel four bytes R, G, B, A.
    void addRows(const std::uint8_t* rgba, int count, qsizetype stride);

    // The reduced picture, once every source row was added.
    QImage take();

  private:
    void flushRow();

    QSize source_;
    QSize target_;
    QImage output_;
    std::vector<int> column_;            // output column of each source column
    std::vector<std::uint32_t> widths_;  // source columns in each output column
    std::vector<std::uint64_t> sums_;    // R, G, B, A sums of the output row being gathered
    int sourceRow_ = 0;
    int outputRow_ = 0;
    std::uint32_t rowsGathered_ = 0;
};

}  // namespace kestio::platform
