#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <QString>

namespace kestio::ui {

// Numbers as the views show and read them, the same whatever the user's locale: "." is the
// decimal point and there are no group separators. The application's C library locale follows
// the environment (Qt sets it at start-up), so printf and strtod cannot be used for this.

// The value with `decimals` digits after the point, rounded as printf's "%.Nf" rounds (the
// nearest of the binary value, ties to even). With `plusSign` a value that is not negative gets a
// "+" in front, as "%+.Nf" does. Infinities read "inf" / "-inf", NaN "nan".
std::string formatFixed(double value, int decimals, bool plusSign = false);
QString formatFixedQ(double value, int decimals, bool plusSign = false);

// Reads the whole text as one floating-point number: an optional sign, digits with an optional
// "." and exponent, a hexadecimal float, "inf"/"infinity" or "nan" (any case). Nothing is
// trimmed: an empty text, a leading or trailing blank, a unit or a "," makes it no number.
// Numbers too large for a double read as an infinity. "nan" gives a NaN: callers decide what a NaN
// means (see ValueRange::committed).
std::optional<double> parseNumber(std::string_view text);
std::optional<double> parseNumber(const QString& text);

// Removes from both ends of the text every character in `trimmed` (characters inside the text
// stay), then reads the rest with parseNumber.
std::optional<double> parseNumberTrimming(std::string_view text, std::string_view trimmed);
std::optional<double> parseNumberTrimming(const QString& text, std::string_view trimmed);

}  // namespace kestio::ui
