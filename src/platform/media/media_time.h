#pragma once

#include <cmath>
#include <limits>

namespace kestio::platform::media {

// Media times are seconds as double. A time that is not known is NaN ("invalid"); a duration
// without an end (a live or unterminated stream) is +infinity ("indefinite").
struct MediaTime {
    // The timescale the application uses for seeks and ranges: 1/600 s resolves every common
    // frame rate (23.976 to 60) to whole ticks.
    static constexpr int kPreferredTimescale = 600;

    static double invalid() { return std::numeric_limits<double>::quiet_NaN(); }
    static double indefinite() { return std::numeric_limits<double>::infinity(); }
    static bool isNumeric(double t) { return std::isfinite(t); }
    static bool isIndefinite(double t) { return std::isinf(t) && t > 0; }

    // `s` rounded to the nearest multiple of 1/timescale (as a time made from seconds at that
    // timescale). Non-numeric times pass through unchanged.
    static double seconds(double s, int timescale = kPreferredTimescale) {
        if (!std::isfinite(s) || timescale <= 0) {
            return s;
        }
        return std::round(s * timescale) / timescale;
    }
};

// A span of media time, [start, start + duration).
struct TimeRange {
    double start = 0.0;
    double duration = 0.0;

    static TimeRange fromTo(double start, double end) { return {start, end - start}; }
    double end() const { return start + duration; }
    bool isValid() const {
        return std::isfinite(start) && std::isfinite(duration) && duration >= 0.0;
    }
    bool operator==(const TimeRange&) const = default;
};

}  // namespace kestio::platform::media
