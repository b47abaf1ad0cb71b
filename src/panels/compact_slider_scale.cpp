#include "panels/compact_slider_scale.h"

#include <algorithm>
#include <cmath>

namespace kestio::panels {

CompactSliderLayout compactSliderLayout(double value, const ui::ValueRange& range, double width,
                                        double trackHeight, double thumbDiameter) {
    CompactSliderLayout layout;
    const double span = range.upper - range.lower;
    if (span > 0.0) {
        const double f = (value - range.lower) / span;
        layout.fraction = (f > 0.0) ? std::min(f, 1.0) : 0.0;  // NaN reads as 0
    }
    layout.usable = std::max(width - thumbDiameter, 0.0);
    layout.thumbX = thumbDiameter / 2.0 + layout.usable * layout.fraction;
    layout.fillWidth = std::max(layout.thumbX, trackHeight);
    layout.height = std::max(trackHeight, thumbDiameter);
    return layout;
}

std::optional<double> compactSliderValueAtPointer(double x, const ui::ValueRange& range,
                                                  double width, double thumbDiameter) {
    const double usable = width - thumbDiameter;
    if (!(usable > 0.0) || std::isnan(x)) {
        return std::nullopt;
    }
    double t = (x - thumbDiameter / 2.0) / usable;
    if (t > 1.0) {
        t = 1.0;
    }
    if (t <= 0.0) {
        t = 0.0;
    }
    return range.lower + (range.upper - range.lower) * t;
}

}  // namespace kestio::panels
