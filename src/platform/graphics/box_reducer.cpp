#include "platform/graphics/box_reducer.h"

#include <algorithm>

namespace kestio::platform {

namespace {

// The output row or column a source one falls in: evenly spread, every output one covered.
int outputIndex(qint64 at, qint64 source, qint64 target) {
    return static_cast<int>(at * target / source);
}

}  // namespace

BoxReducer::BoxReducer(QSize source, QSize target, bool alpha)
    : source_(source),
      target_(target),
      output_(target, alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32),
      column_(static_cast<std::size_t>(source.width())),
      widths_(static_cast<std::size_t>(target.width()), 0),
      sums_(static_cast<std::size_t>(target.width()) * 4, 0) {
    for (int x = 0; x < source.width(); ++x) {
        column_[std::size_t(x)] = outputIndex(x, source.width(), target.width());
        ++widths_[std::size_t(column_[std::size_t(x)])];
    }
}

void BoxReducer::addRows(const std::uint8_t* rgba, int count, qsizetype stride) {
    for (int r = 0; r < count && sourceRow_ < source_.height(); ++r, ++sourceRow_) {
        const int row = outputIndex(sourceRow_, source_.height(), target_.height());
        if (row != outputRow_) {
            flushRow();
            outputRow_ = row;
        }
        const std::uint8_t* pixel = rgba + qsizetype(r) * stride * 4;
        for (int x = 0; x < source_.width(); ++x, pixel += 4) {
            std::uint64_t* sum = &sums_[std::size_t(column_[std::size_t(x)]) * 4];
            sum[0] += pixel[0];
            sum[1] += pixel[1];
            sum[2] += pixel[2];
            sum[3] += pixel[3];
        }
        ++rowsGathered_;
    }
}

void BoxReducer::flushRow() {
    if (rowsGathered_ == 0 || output_.isNull()) {
        return;
    }
    auto* out = reinterpret_cast<QRgb*>(output_.scanLine(outputRow_));
    const bool alpha = output_.hasAlphaChannel();
    for (int x = 0; x < target_.width(); ++x) {
        std::uint64_t* sum = &sums_[std::size_t(x) * 4];
        const std::uint64_t n = std::uint64_t(widths_[std::size_t(x)]) * rowsGathered_;
        const auto mean = [n](std::uint64_t s) { return int((s + n / 2) / n); };
        const int a = alpha ? mean(sum[3]) : 255;
        // Rounding each channel alone can leave a premultiplied colour a step above its alpha.
        out[x] = qRgba(std::min(mean(sum[0]), a), std::min(mean(sum[1]), a),
                       std::min(mean(sum[2]), a), a);
        std::fill(sum, sum + 4, 0);
    }
    rowsGathered_ = 0;
}

QImage BoxReducer::take() {
    flushRow();
    return std::move(output_);
}

}  // namespace kestio::platform
