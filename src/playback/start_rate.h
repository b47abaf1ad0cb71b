#pragma once

// The rate a clip starts at, picture and sound alike: its slot's play rate within what the
// time-pitch unit takes, normal speed for a rate that is not above 0.

#include <algorithm>
#include <cmath>

namespace kestio {

inline float startRate(double playRate) {
    if (!std::isfinite(playRate) || playRate <= 0.0) {
        return 1.0f;
    }
    return float(std::clamp(playRate, 0.1, 8.0));
}

}  // namespace kestio
