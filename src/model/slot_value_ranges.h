#pragma once

// The values the operator can give a slot's sound, equaliser, play rate, dissolve and geometry: the
// inspector's controls write within these ranges, and a slot read from disk is kept within
// them. The colour values' ranges are in their own table (color_values.h).

#include <limits>

#include "model/value_range.h"

namespace kestio {

// The slot's gain in dB; at the lower bound and below the sound is silent.
inline constexpr ValueRange kMasterLevelRange{-40.0, 12.0};
// Each equaliser band's gain in dB.
inline constexpr ValueRange kEqualizerBandRange{-12.0, 12.0};
inline constexpr ValueRange kPlayRateRange{0.1, 8.0};
// Seconds.
inline constexpr ValueRange kDissolveDurationRange{0.033, 5.0};
// In and out points, in seconds of the clip: they are set at the playhead, which never lies
// before the clip's start.
inline constexpr ValueRange kClipPointRange{0.0, std::numeric_limits<double>::max()};
// The picture's centre, in pixels of the output canvas: three canvases of the largest format
// either side of its origin.
inline constexpr ValueRange kPositionXRange{-5760.0, 5760.0};
inline constexpr ValueRange kPositionYRange{-3240.0, 3240.0};
// The picture's width and height, in percent of the canvas.
inline constexpr ValueRange kScaleRange{10.0, 400.0};

}  // namespace kestio
