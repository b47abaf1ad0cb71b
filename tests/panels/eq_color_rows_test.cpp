#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "panels/eq_color_rows.h"

namespace kestio::panels {
namespace {

const ColorRow& row(const char* english) {
    for (const auto& r : colorRows()) {
        if (std::string_view(r.labelEn) == english) {
            return r;
        }
    }
    throw std::out_of_range(english);
}

TEST(EqColor, TablesMatchTheSettingsDefaults) {
    // Every row's neutral value is what a fresh slot holds, so "reset" and "modified" agree.
    const ColorSettings fresh;
    for (const auto& r : colorRows()) {
        EXPECT_EQ(fresh.*(r.field), r.neutral) << r.labelEn;
        EXPECT_LT(r.lower, r.upper) << r.labelEn;
    }
    EXPECT_EQ(row("Gamma").lower, 0.1f);
    EXPECT_STREQ(row("Hue").labelJa, "色相");
    EXPECT_STREQ(eqBandRows()[3].label, "1.25k");
}

// The slider's whole positions reach 25 values a row: the ends are the bounds, the middle the
// neutral value, and one step from the middle is 1/1728 (= 1/12³) of the way to the bound.
TEST(EqColor, CubeMappingReachesTheBoundsAndFineStepsNearNeutral) {
    struct Case {
        const char* row;
        double position;
        float value;
    };
    const Case cases[] = {
        {"Contr", 12, 2.0f},   {"Contr", -12, 0.0f},
        {"Contr", 0, 1.0f},    {"Contr", 1, 1.0f + 1.0f / 1728.0f},
        {"Contr", 6, 1.125f},  {"Gamma", -12, 0.1f},
        {"Gamma", 12, 3.0f},   {"Gamma", -6, 1.0f - 0.9f / 8.0f},
        {"Hue", 12, 180.0f},   {"Hue", -12, -180.0f},
        {"Bright", 6, 0.125f}, {"Bright", -1, -1.0f / 1728.0f},
    };
    for (const auto& c : cases) {
        EXPECT_FLOAT_EQ(colorValueAtPosition(row(c.row), c.position), c.value)
            << c.row << " at " << c.position;
    }
    // Reading a value back gives the position it was written from, for every reachable step.
    for (const auto& r : colorRows()) {
        for (int p = -12; p <= 12; ++p) {
            EXPECT_NEAR(colorSliderPosition(r, colorValueAtPosition(r, p)), p, 1e-4)
                << r.labelEn << " " << p;
        }
    }
}

TEST(EqColor, SliderPositionOfValuesOffTheRowStaysOnTheTrack) {
    EXPECT_EQ(colorSliderPosition(row("Sat"), 50.0f), 12.0);
    EXPECT_EQ(colorSliderPosition(row("Sat"), -3.0f), -12.0);
    EXPECT_EQ(colorSliderPosition(row("Sat"), std::numeric_limits<float>::quiet_NaN()), 0.0);
    EXPECT_EQ(colorSliderPosition(row("Hue"), -std::numeric_limits<float>::infinity()), -12.0);
}

TEST(EqColor, ReadoutAndEntryTexts) {
    EXPECT_EQ(colorValueText(row("Hue"), 45.0f), "+45");
    EXPECT_EQ(colorValueText(row("Hue"), -180.0f), "-180");
    EXPECT_EQ(colorValueText(row("Hue"), 0.0f), "+0");
    EXPECT_EQ(colorValueText(row("Contr"), 1.0f), "1.00");
    EXPECT_EQ(colorValueText(row("Bright"), -0.5f), "-0.50");
    EXPECT_EQ(colorEntryText(45.0f), "45.00");
    EXPECT_EQ(colorRangeText(row("Hue"), AppLanguage::en), "Range: -180.00 to 180.00");
    EXPECT_EQ(colorRangeText(row("Gamma"), AppLanguage::ja), "範囲: 0.10 〜 3.00");
    EXPECT_EQ(eqBandValueText(3), "+3");
    EXPECT_EQ(eqBandValueText(-12), "-12");
    EXPECT_EQ(eqBandValueText(0), "0");
}

// Typed values: a number within the row is written as typed, one beyond it as the bound;
// nothing else is written, a NaN least of all.
TEST(EqColor, TypedValuesAreWholeNumbersClampedOrNothing) {
    struct Case {
        const char* row;
        const char* text;
        std::optional<float> value;
    };
    const Case cases[] = {
        {"Sat", "2.5", 2.0f},         {"Sat", "1.2", 1.2f},          {"Sat", "-1", 0.0f},
        {"Hue", "1e400", 180.0f},     {"Hue", "-inf", -180.0f},      {"Bright", "-0", -0.0f},
        {"Gamma", "0", 0.1f},         {"Sat", "", std::nullopt},     {"Sat", "nan", std::nullopt},
        {"Sat", "abc", std::nullopt}, {"Sat", " 1.2", std::nullopt}, {"Sat", "1.2 ", std::nullopt},
        {"Sat", "3,5", std::nullopt}, {"Sat", "１２", std::nullopt}, {"Hue", "45°", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(colorEntryValue(row(c.row), QString::fromUtf8(c.text)), c.value)
            << c.row << " '" << c.text << "'";
    }
}

TEST(EqColor, ModifiedComparesEveryFieldExactly) {
    EXPECT_FALSE(isColorModified({}));
    EXPECT_FALSE(isEqualizerModified({}));
    for (const auto& r : colorRows()) {
        ColorSettings c;
        c.*(r.field) = std::nextafter(r.neutral, 10.0f);
        EXPECT_TRUE(isColorModified(c)) << r.labelEn;
    }
    for (const auto& b : eqBandRows()) {
        EqualizerSettings e;
        e.*(b.field) = -1;
        EXPECT_TRUE(isEqualizerModified(e)) << b.label;
    }
}

}  // namespace
}  // namespace kestio::panels
