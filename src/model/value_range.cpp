#include "model/value_range.h"

#include <cmath>

namespace kestio {

double ValueRange::clamp(double value) const {
    if (value < lower) {
        value = lower;
    }
    if (value > upper) {
        value = upper;
    }
    return value;
}

std::optional<double> ValueRange::committed(std::optional<double> parsed) const {
    if (!parsed || std::isnan(*parsed)) {
        return std::nullopt;
    }
    return clamp(*parsed);
}

}  // namespace kestio
