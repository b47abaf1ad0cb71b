#pragma once

// Finding when a picture first turns white, the flash of a flash-and-beep clip, on host time.

#include <gtest/gtest.h>

#include <QImage>
#include <optional>

namespace kestio::test {

// The middle of the picture is white.
inline bool isWhite(const QImage& picture) {
    return !picture.isNull() &&
           qGray(picture.pixel(picture.width() / 2, picture.height() / 2)) > 128;
}

// The host time, to well under a microsecond, at which `whiteAt(host)` first holds after `from`
// and no later than `until`: stepped by `step` (half a frame finds every flash), then bisected.
// Empty when it never holds, and also a failure when it already holds at `from`.
template <typename WhiteAt>
std::optional<double> firstWhite(double from, double until, double step, WhiteAt whiteAt) {
    double lo = from;
    if (whiteAt(lo)) {
        ADD_FAILURE() << "already white at host time " << lo;
        return std::nullopt;
    }
    double hi = lo;
    while (!whiteAt(hi)) {
        lo = hi;
        hi += step;
        if (hi > until) {
            return std::nullopt;
        }
    }
    for (int i = 0; i < 40; ++i) {
        const double mid = 0.5 * (lo + hi);
        (whiteAt(mid) ? hi : lo) = mid;
    }
    return hi;
}

}  // namespace kestio::test
