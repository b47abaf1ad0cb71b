#include "panels/eq_band_scale.h"

#include <algorithm>
#include <cmath>

namespace kestio::panels {

std::optional<double> eqBandValueAtPointer(double y, double height) {
    if (!(height > 0.0) || std::isnan(y)) {
        return std::nullopt;
    }
    const double t = y / height;
    if (t <= 0.0) {
        return kEqBandMaxDB;
    }
    const double value = std::round((1.0 - std::min(t, 1.0)) * 2.0 * kEqBandMaxDB - kEqBandMaxDB);
    return std::clamp(value, -kEqBandMaxDB, kEqBandMaxDB);
}

double eqBandY(double value, double height) {
    return height * (1.0 - (value + kEqBandMaxDB) / (2.0 * kEqBandMaxDB));
}

double eqBandKnobCentreY(double value, double height) {
    const double half = kEqBandKnobHeight / 2.0;
    return std::min(std::max(eqBandY(value, height), half), height - half);
}

}  // namespace kestio::panels
