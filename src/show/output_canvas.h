#pragma once

#include "model/model_enums.h"
#include "platform/graphics/geometry.h"

namespace kestio {

// The output canvas in points of an output resolution.
platform::SizeF canvasSize(OutputResolution resolution);

// Frames a second of an output frame rate.
double frameRateValue(OutputFrameRate rate);

}  // namespace kestio
