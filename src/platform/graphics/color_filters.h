#pragma once

#include <variant>
#include <vector>

namespace kestio::platform {

// The four colour filters as pure functions on one colour. They work on linear-light RGB
// with Rec.709/sRGB primaries (see color_space.h); values outside [0, 1] pass from filter to
// filter unclamped, and the picture is clamped to [0, 1] only when it is written back.

struct Rgb {
    float r = 0.0f;
    float g = 0.0f;
    float b = 0.0f;
    bool operator==(const Rgb&) const = default;
};

// Saturation, then contrast, then brightness:
//   L = 0.2125 R + 0.7154 G + 0.0721 B;  c = L + saturation (c - L)
//   c = (c - 0.5) contrast + 0.5
//   c = c + brightness
struct ColorControls {
    float brightness = 0.0f;
    float contrast = 1.0f;
    float saturation = 1.0f;
    bool isNeutral() const { return brightness == 0.0f && contrast == 1.0f && saturation == 1.0f; }
};

// A rotation of the colour about the grey axis by `angle` radians (positive turns red toward
// green). With c = cos, s = sin: a = c + (1 - c)/3, p = (1 - c)/3 - s/sqrt 3,
// q = (1 - c)/3 + s/sqrt 3;  R' = aR + pG + qB,  G' = qR + aG + pB,  B' = pR + qG + aB.
struct HueAdjust {
    float angle = 0.0f;
    bool isNeutral() const { return angle == 0.0f; }
};

// c' = c^power for each channel; a channel at or below 0 gives 0.
struct GammaAdjust {
    float power = 1.0f;
    bool isNeutral() const { return power == 1.0f; }
};

// R' = redGain R, G' = greenGain G, B' = blueGain B; alpha unchanged, no bias.
struct ColorMatrix {
    float redGain = 1.0f;
    float greenGain = 1.0f;
    float blueGain = 1.0f;
    bool isNeutral() const { return redGain == 1.0f && greenGain == 1.0f && blueGain == 1.0f; }
};

using ColorFilter = std::variant<ColorControls, HueAdjust, GammaAdjust, ColorMatrix>;

Rgb applyColorControls(const ColorControls& filter, Rgb c);
Rgb applyHueAdjust(const HueAdjust& filter, Rgb c);
Rgb applyGammaAdjust(const GammaAdjust& filter, Rgb c);
Rgb applyColorMatrix(const ColorMatrix& filter, Rgb c);
Rgb applyColorFilter(const ColorFilter& filter, Rgb c);
// Each filter in turn, without clamping.
Rgb applyColorFilters(const std::vector<ColorFilter>& filters, Rgb c);

bool isNeutral(const ColorFilter& filter);
// True when the filters leave every colour as it is: none, or all at their neutral values.
bool isIdentity(const std::vector<ColorFilter>& filters);

}  // namespace kestio::platform
