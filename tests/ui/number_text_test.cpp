#include "ui/number_text.h"

#include <gtest/gtest.h>
#include <locale.h>
#include <stdlib.h>

#include <cmath>
#include <filesystem>
#include <limits>

#include "ui/value_range.h"

namespace kestio::ui {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(NumberText, FormatsFixedDecimalsLikePrintf) {
    struct Case {
        double value;
        int decimals;
        bool plus;
        const char* text;
    };
    const Case cases[] = {
        {-6.0, 1, false, "-6.0"},    {0.0, 1, false, "0.0"},
        {12.0, 1, false, "12.0"},    {0.5, 3, false, "0.500"},
        {1.0, 2, false, "1.00"},     {45.0, 2, false, "45.00"},
        {5.0, 0, true, "+5"},        {-5.0, 0, true, "-5"},
        {0.0, 0, true, "+0"},        {-0.4, 0, true, "-0"},
        {0.125, 2, false, "0.12"},   {2.5, 0, false, "2"},
        {-39.96, 1, false, "-40.0"}, {1e20, 0, false, "100000000000000000000"},
        {kInf, 1, false, "inf"},     {-kInf, 1, true, "-inf"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(formatFixed(c.value, c.decimals, c.plus), c.text) << c.value;
    }
    EXPECT_EQ(formatFixed(std::nan(""), 2), "nan");
}

// The number reading of typed values: the whole text, untrimmed, in the C syntax.
TEST(NumberText, ParsesTheWholeTextOnly) {
    struct Case {
        const char* text;
        std::optional<double> value;
    };
    const Case cases[] = {
        {"3", 3.0},
        {"+3", 3.0},
        {"-6.0", -6.0},
        {"1e0", 1.0},
        {".5", 0.5},
        {"5.", 5.0},
        {"0x10", 16.0},
        {"-0", -0.0},
        {"inf", kInf},
        {"-Infinity", -kInf},
        {"1e400", kInf},
        {"", std::nullopt},
        {" 3", std::nullopt},
        {"3 ", std::nullopt},
        {"\t3", std::nullopt},
        {"1,5", std::nullopt},
        {"3,5", std::nullopt},
        {"-6 dB", std::nullopt},
        {"abc", std::nullopt},
        {"1.2.3", std::nullopt},
        {"--1", std::nullopt},
        {"\xef\xbc\x91\xef\xbc\x92", std::nullopt},  // full-width "12"
    };
    for (const auto& c : cases) {
        const auto parsed = parseNumber(std::string_view(c.text));
        ASSERT_EQ(parsed.has_value(), c.value.has_value()) << '"' << c.text << '"';
        if (parsed) {
            EXPECT_EQ(*parsed, *c.value) << c.text;
            EXPECT_EQ(std::signbit(*parsed), std::signbit(*c.value)) << c.text;
        }
    }
    const auto nan = parseNumber(std::string_view("nan"));
    ASSERT_TRUE(nan.has_value());
    EXPECT_TRUE(std::isnan(*nan));
    EXPECT_FALSE(parseNumber(std::string_view("3\0"
                                              "4",
                                              3))
                     .has_value());
}

TEST(NumberText, TrimsOnlyTheGivenCharactersAtTheEnds) {
    struct Case {
        const char* text;
        const char* trimmed;
        std::optional<double> value;
    };
    const Case cases[] = {
        {"2s", "sS ", 2.0},
        {"2 S", "sS ", 2.0},
        {"  2  ", "sS ", 2.0},
        {"2sec", "sS ", std::nullopt},
        {"2 seconds", "sS ", std::nullopt},
        {"x1.5", "xX ", 1.5},
        {"X 2 x", "xX ", 2.0},
        {"1x5", "xX ", std::nullopt},
        {"-6 dB", "dDbB \t", -6.0},
        {"\t+3db", "dDbB \t", 3.0},
        {"sss", "sS ", std::nullopt},
        {"", "sS ", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parseNumberTrimming(std::string_view(c.text), c.trimmed), c.value)
            << '"' << c.text << '"';
    }
    EXPECT_EQ(parseNumberTrimming(QStringLiteral("2 s"), "sS "), 2.0);
}

// A locale with a decimal comma is switched on for the C library, as the desktop may do; the
// views still read and write "." numbers. The locale is built into a temporary folder.
TEST(NumberText, IgnoresTheProcessLocale) {
    const auto folder = std::filesystem::temp_directory_path() / "kestio-ui-locale";
    std::filesystem::create_directories(folder);
    const auto compiled = folder / "de_DE.UTF-8";
    if (!std::filesystem::exists(compiled)) {
        const std::string command =
            "localedef -i de_DE -f UTF-8 '" + compiled.string() + "' >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0 && !std::filesystem::exists(compiled)) {
            GTEST_SKIP() << "cannot build a German locale here";
        }
    }
    setenv("LOCPATH", folder.c_str(), 1);
    const std::string previous = setlocale(LC_NUMERIC, nullptr);
    if (setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr) {
        unsetenv("LOCPATH");
        GTEST_SKIP() << "the German locale does not load";
    }
    // The C library now reads a decimal comma...
    EXPECT_EQ(strtod("3,5", nullptr), 3.5);
    // ...and the views do not.
    EXPECT_FALSE(parseNumber(std::string_view("3,5")).has_value());
    EXPECT_EQ(parseNumber(std::string_view("3.5")), 3.5);
    EXPECT_EQ(formatFixed(1.5, 2), "1.50");
    EXPECT_EQ(parseNumberTrimming(std::string_view("1.25 s"), "sS "), 1.25);
    setlocale(LC_NUMERIC, previous.c_str());
    unsetenv("LOCPATH");
}

TEST(ValueRange, CommitsClampedNumbersAndNeverANaN) {
    const ValueRange gain{-40.0, 12.0};
    struct Case {
        std::optional<double> parsed;
        std::optional<double> written;
    };
    const Case cases[] = {
        {3.0, 3.0},
        {20.0, 12.0},
        {-100.0, -40.0},
        {kInf, 12.0},
        {-kInf, -40.0},
        {std::nullopt, std::nullopt},
        {std::nan(""), std::nullopt},
        {-0.0, -0.0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(gain.committed(c.parsed), c.written);
    }
    // Bounds that cross: the upper one wins, as raising then lowering gives.
    EXPECT_EQ((ValueRange{5.0, 1.0}).clamp(3.0), 1.0);
}

}  // namespace
}  // namespace kestio::ui
