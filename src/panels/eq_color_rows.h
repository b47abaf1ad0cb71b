#pragma once

#include <QString>
#include <array>
#include <optional>

#include "model/app_language.h"
#include "model/settings_records.h"

namespace kestio::panels {

// One band of the equaliser tab: its label (the same in both languages) and its field.
struct EqBandRow {
    const char* label;
    float EqualizerSettings::*field;
};

// The six bands, low to high.
const std::array<EqBandRow, 6>& eqBandRows();

// One row of the colour tab: its label in both languages, its field, the values it may take
// and its neutral value.
struct ColorRow {
    const char* labelJa;
    const char* labelEn;
    float ColorSettings::*field;
    float lower;
    float upper;
    float neutral;

    const char* label(AppLanguage language) const {
        return language == AppLanguage::en ? labelEn : labelJa;
    }
};

// The eight rows: brightness, contrast, saturation, hue, gamma and the three channel gains.
const std::array<ColorRow, 8>& colorRows();

// The colour sliders share the equaliser slider's -12 to +12 scale. A cube-root curve around
// the neutral value makes them fine near it and coarse towards the ends: position ±12 is the
// row's bound, 0 its neutral value, and position p stands for neutral + (p/12)³ of the way to
// the bound on its side.
double colorSliderPosition(const ColorRow& row, float value);
float colorValueAtPosition(const ColorRow& row, double position);

// The value as its readout shows it: hue as a signed whole number of degrees ("+45", "-180"),
// every other row with two decimals ("1.25").
QString colorValueText(const ColorRow& row, float value);
// The text the value entry opens with: two decimals for every row, hue too ("45.00").
QString colorEntryText(float value);
// "Range: 0.10 to 3.00" / "範囲: 0.10 〜 3.00".
QString colorRangeText(const ColorRow& row, AppLanguage language);
// What a typed value writes: the whole text must be one number ("." as the decimal point, no
// blanks, no units); nothing for anything else, NaN included; a number beyond the row's range
// gives the nearer bound.
std::optional<float> colorEntryValue(const ColorRow& row, const QString& text);

// The readout of an equaliser band: "+3", "-12"; "0" for a flat band.
QString eqBandValueText(float value);

// Whether the settings differ from flat / neutral in any field (compared exactly).
bool isEqualizerModified(const EqualizerSettings& equalizer);
bool isColorModified(const ColorSettings& color);

}  // namespace kestio::panels
