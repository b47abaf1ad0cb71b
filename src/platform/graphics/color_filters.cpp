#include "platform/graphics/color_filters.h"

#include <algorithm>
#include <cmath>

namespace kestio::platform {

namespace {
constexpr float kLumaR = 0.2125f;
constexpr float kLumaG = 0.7154f;
constexpr float kLumaB = 0.0721f;

float gamma(float c, float power) {
    return c > 0.0f ? std::pow(c, power) : 0.0f;
}
}  // namespace

Rgb applyColorControls(const ColorControls& f, Rgb c) {
    const float luma = kLumaR * c.r + kLumaG * c.g + kLumaB * c.b;
    auto one = [&](float v) {
        v = luma + f.saturation * (v - luma);
        v = (v - 0.5f) * f.contrast + 0.5f;
        return v + f.brightness;
    };
    return {one(c.r), one(c.g), one(c.b)};
}

Rgb applyHueAdjust(const HueAdjust& f, Rgb c) {
    const float cs = std::cos(f.angle);
    const float sn = std::sin(f.angle);
    const float third = (1.0f - cs) / 3.0f;
    const float root = sn / std::sqrt(3.0f);
    const float a = cs + third;
    const float p = third - root;
    const float q = third + root;
    return {a * c.r + p * c.g + q * c.b, q * c.r + a * c.g + p * c.b, p * c.r + q * c.g + a * c.b};
}

Rgb applyGammaAdjust(const GammaAdjust& f, Rgb c) {
    return {gamma(c.r, f.power), gamma(c.g, f.power), gamma(c.b, f.power)};
}

Rgb applyColorMatrix(const ColorMatrix& f, Rgb c) {
    return {f.redGain * c.r, f.greenGain * c.g, f.blueGain * c.b};
}

Rgb applyColorFilter(const ColorFilter& filter, Rgb c) {
    return std::visit(
        [&](const auto& f) -> Rgb {
            using F = std::decay_t<decltype(f)>;
            if constexpr (std::is_same_v<F, ColorControls>) {
                return applyColorControls(f, c);
            } else if constexpr (std::is_same_v<F, HueAdjust>) {
                return applyHueAdjust(f, c);
            } else if constexpr (std::is_same_v<F, GammaAdjust>) {
                return applyGammaAdjust(f, c);
            } else {
                return applyColorMatrix(f, c);
            }
        },
        filter);
}

Rgb applyColorFilters(const std::vector<ColorFilter>& filters, Rgb c) {
    for (const auto& f : filters) {
        c = applyColorFilter(f, c);
    }
    return c;
}

bool isNeutral(const ColorFilter& filter) {
    return std::visit([](const auto& f) { return f.isNeutral(); }, filter);
}

bool isIdentity(const std::vector<ColorFilter>& filters) {
    return std::all_of(filters.begin(), filters.end(),
                       [](const ColorFilter& f) { return isNeutral(f); });
}

}  // namespace kestio::platform
