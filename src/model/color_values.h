#pragma once

// The colour values of a slot, one row each: the name it is stored under, its field, its neutral
// value (no change to the picture), the range the operator may set, and its label in the two
// interface languages. The one table the project coding and the colour panel read.

#include <array>
#include <string_view>

#include "model/settings_records.h"

namespace kestio {

struct ColorValue {
    std::string_view key;
    float ColorSettings::*field;
    float neutral;
    float lower;
    float upper;
    const char* labelJa;
    const char* labelEn;
};

inline constexpr std::array<ColorValue, 8> kColorValues{{
    {"brightness", &ColorSettings::brightness, 0.0f, -1.0f, 1.0f, "明るさ", "Bright"},
    {"contrast", &ColorSettings::contrast, 1.0f, 0.0f, 2.0f, "コントラスト", "Contr"},
    {"saturation", &ColorSettings::saturation, 1.0f, 0.0f, 2.0f, "彩度", "Sat"},
    {"hue", &ColorSettings::hue, 0.0f, -180.0f, 180.0f, "色相", "Hue"},
    {"gamma", &ColorSettings::gamma, 1.0f, 0.1f, 3.0f, "ガンマ", "Gamma"},
    {"redGain", &ColorSettings::redGain, 1.0f, 0.0f, 2.0f, "R", "R"},
    {"greenGain", &ColorSettings::greenGain, 1.0f, 0.0f, 2.0f, "G", "G"},
    {"blueGain", &ColorSettings::blueGain, 1.0f, 0.0f, 2.0f, "B", "B"},
}};

}  // namespace kestio
