#pragma once

namespace kestio::platform {

// The colour filters' working space: linear light with Rec.709/sRGB primaries. Pictures
// (8-bit stills and video frames alike) are taken to be sRGB-encoded; they are decoded with
// the sRGB transfer curve (IEC 61966-2-1) before the filters and encoded with it after.

// Encoded value in [0, 1] to linear light.
double srgbToLinear(double encoded);
// Linear light in [0, 1] to the encoded value.
double linearToSrgb(double linear);

}  // namespace kestio::platform
