#pragma once

#include <optional>

namespace kestio {

// The length of one frame at a clip's nominal frame rate, in seconds: the NTSC rates just
// below 24, 30, 48, 60 and 120 (and those exact rates, as containers round them) as 1001/n000,
// the rates just above them and 25 and 50 exactly, any other rate as 1/rate at the 1/600 s
// timescale, and 1/30 when the rate is unknown, not a number or not above 0.
double frameDuration(std::optional<double> nominalFrameRate);

}  // namespace kestio
