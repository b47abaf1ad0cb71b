#include "output/still_display_size.h"

#include <algorithm>
#include <cmath>

namespace kestio::output {

namespace {

// Beyond the largest side any still decodes at.
constexpr double kLargestSide = 32768.0;
// The canvas when the output has given none.
constexpr platform::SizeF kDefaultCanvas{1920.0, 1080.0};

int wholePixels(double length) {
    return int(std::ceil(std::min(length, kLargestSide)));
}

}  // namespace

QSize stillDisplaySize(const GeometrySettings& geometry, platform::SizeF canvas) {
    if (canvas.isEmpty() || !std::isfinite(canvas.width) || !std::isfinite(canvas.height)) {
        canvas = kDefaultCanvas;
    }
    const QSize whole(wholePixels(canvas.width), wholePixels(canvas.height));
    switch (geometry.mode) {
        case GeometryMode::fitToWindow:
            return whole;
        case GeometryMode::custom: {
            const double w = std::abs(canvas.width * geometry.scaleX / 100.0);
            const double h = std::abs(canvas.height * geometry.scaleY / 100.0);
            // A frame of no area shows nothing: the picture is decoded as for the canvas.
            if (!(w >= 1.0) || !(h >= 1.0)) {
                return whole;
            }
            return {wholePixels(w), wholePixels(h)};
        }
        case GeometryMode::originalSize:
            return {};
    }
    return whole;
}

QSize stillSizeNeeded(QSize ownSize, QSize shownAt) {
    if (!shownAt.isValid() || shownAt.isEmpty() || ownSize.isEmpty()) {
        return ownSize;
    }
    if (ownSize.width() <= shownAt.width() && ownSize.height() <= shownAt.height()) {
        return ownSize;
    }
    return ownSize.scaled(shownAt, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
}

}  // namespace kestio::output
