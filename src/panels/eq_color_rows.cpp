#include "panels/eq_color_rows.h"

#include <algorithm>
#include <cmath>

#include "model/color_values.h"
#include "ui/number_text.h"
#include "ui/value_range.h"

namespace kestio::panels {

const std::array<EqBandRow, 6>& eqBandRows() {
    static const std::array<EqBandRow, 6> rows{{
        {"80", &EqualizerSettings::hz80},
        {"315", &EqualizerSettings::hz315},
        {"800", &EqualizerSettings::hz800},
        {"1.25k", &EqualizerSettings::khz1_25},
        {"2.5k", &EqualizerSettings::khz2_5},
        {"3.2k", &EqualizerSettings::khz3_2},
    }};
    return rows;
}

const std::array<ColorRow, 8>& colorRows() {
    // The rows of the colour values' one table, in its order.
    static const std::array<ColorRow, 8> rows = [] {
        std::array<ColorRow, 8> made{};
        for (std::size_t i = 0; i < made.size(); ++i) {
            const ColorValue& value = kColorValues[i];
            made[i] = ColorRow{value.labelJa, value.labelEn, value.field,
                               value.lower,   value.upper,   value.neutral};
        }
        return made;
    }();
    return rows;
}

namespace {

constexpr double kSliderEnd = 12.0;

double sign(double v) {
    return v > 0 ? 1.0 : (v < 0 ? -1.0 : 0.0);
}

// The hue row is the one whose values are whole degrees.
bool showsWholeDegrees(const ColorRow& row) {
    return row.upper == 180.0f;
}

}  // namespace

double colorSliderPosition(const ColorRow& row, float value) {
    const double v = value;
    const double d = row.neutral;
    double t = 0.0;
    if (v >= d) {
        if (row.upper <= d) {
            return 0.0;
        }
        t = (v - d) / (row.upper - d);
    } else {
        if (row.lower >= d) {
            return 0.0;
        }
        t = (v - d) / (d - row.lower);
    }
    // A value outside the row (from a hand-edited project) holds the slider at its end, and a
    // NaN at the middle: the slider never draws off its track.
    if (std::isnan(t)) {
        return 0.0;
    }
    return std::clamp(kSliderEnd * sign(t) * std::cbrt(std::abs(t)), -kSliderEnd, kSliderEnd);
}

float colorValueAtPosition(const ColorRow& row, double position) {
    const double q = position / kSliderEnd;
    const float t = static_cast<float>(sign(q) * std::abs(q) * std::abs(q) * std::abs(q));
    const float d = row.neutral;
    return t < 0 ? d + t * (d - row.lower) : d + t * (row.upper - d);
}

QString colorValueText(const ColorRow& row, float value) {
    return showsWholeDegrees(row) ? ui::formatFixedQ(value, 0, true) : ui::formatFixedQ(value, 2);
}

QString colorEntryText(float value) {
    return ui::formatFixedQ(value, 2);
}

QString colorRangeText(const ColorRow& row, AppLanguage language) {
    const QString lo = ui::formatFixedQ(row.lower, 2);
    const QString hi = ui::formatFixedQ(row.upper, 2);
    return language == AppLanguage::en ? QStringLiteral("Range: %1 to %2").arg(lo, hi)
                                       : QStringLiteral("範囲: %1 〜 %2").arg(lo, hi);
}

std::optional<float> colorEntryValue(const ColorRow& row, const QString& text) {
    const auto committed = ui::ValueRange{row.lower, row.upper}.committed(ui::parseNumber(text));
    if (!committed) {
        return std::nullopt;
    }
    // The bounds are floats, so the clamped value converts without leaving the range.
    return static_cast<float>(*committed);
}

QString eqBandValueText(float value) {
    return value == 0.0f ? QStringLiteral("0") : ui::formatFixedQ(value, 0, true);
}

bool isEqualizerModified(const EqualizerSettings& equalizer) {
    return !(equalizer == EqualizerSettings{});
}

bool isColorModified(const ColorSettings& color) {
    return !(color == ColorSettings{});
}

}  // namespace kestio::panels
