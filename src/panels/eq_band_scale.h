#pragma once

#include <optional>

#include "model/slot_value_ranges.h"

namespace kestio::panels {

// The scale of an equaliser band slider: -12 dB at the bottom edge, 0 dB in the middle, +12 dB
// at the top edge, in whole decibels.
inline constexpr double kEqBandMaxDB = kEqualizerBandRange.upper;
inline constexpr double kEqBandKnobHeight = 16.0;

// The whole decibel under a pointer at `y` on a slider of `height`: +12 at or above the top,
// -12 at or below the bottom, halves rounded away from zero. A slider without height has none.
std::optional<double> eqBandValueAtPointer(double y, double height);

// The height of `value` on the scale (may lie outside the slider for values beyond ±12).
double eqBandY(double value, double height);

// The knob's centre for `value`: its height, kept 8 points (half the knob) inside the slider.
double eqBandKnobCentreY(double value, double height);

}  // namespace kestio::panels
