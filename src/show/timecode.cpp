#include "show/timecode.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>

namespace kestio {

namespace {

// Far above any show's length, and small enough that frame counts stay exact in a double.
constexpr double kMaxFrames = 1e15;

}  // namespace

std::string timecodeString(double seconds, double fps) {
    if (!std::isfinite(seconds)) {
        return "00;00;00;00";
    }
    double rate = std::isfinite(fps) ? std::round(fps) : 1.0;
    rate = std::clamp(rate, 1.0, 1e6);
    const double frames = std::clamp(std::round(seconds * rate), -kMaxFrames, kMaxFrames);
    const auto f = static_cast<std::int64_t>(rate);
    const auto total = static_cast<std::int64_t>(frames);
    const std::int64_t s = total / f;
    char text[96];
    std::snprintf(text, sizeof text, "%02lld;%02lld;%02lld;%02lld",
                  static_cast<long long>(s / 3600), static_cast<long long>((s / 60) % 60),
                  static_cast<long long>(s % 60), static_cast<long long>(total - s * f));
    return text;
}

}  // namespace kestio
