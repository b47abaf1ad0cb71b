#pragma once

#include <optional>

#include "ui/value_range.h"

namespace kestio::panels {

// Where the compact slider draws its parts, for a slider `width` wide.
struct CompactSliderLayout {
    double fraction = 0.0;   // 0 to 1 along the range; 0 for a range of no width
    double usable = 0.0;     // the width the thumb's centre travels
    double thumbX = 0.0;     // the thumb's centre
    double fillWidth = 0.0;  // the accent fill, never narrower than the track is high
    double height = 0.0;     // the larger of track height and thumb diameter
};

CompactSliderLayout compactSliderLayout(double value, const ui::ValueRange& range, double width,
                                        double trackHeight, double thumbDiameter);

// The value under a pointer at `x`: the range's lower bound plus its width times the pointer's
// place along the usable width (clamped to 0 to 1), unstepped. No value when the slider is too
// narrow for its thumb to move.
std::optional<double> compactSliderValueAtPointer(double x, const ui::ValueRange& range,
                                                  double width, double thumbDiameter);

}  // namespace kestio::panels
