#include "ui/number_text.h"

#include <locale.h>
#include <stdlib.h>

#include <array>
#include <charconv>
#include <cmath>

namespace kestio::ui {

namespace {

// The "C" locale as an object of its own, made once; strtod_l reads with it whatever the
// process's current locale is.
locale_t cLocale() {
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return locale;
}

bool isBlank(char c) {
    // The characters strtod skips before a number.
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

std::string formatFixed(double value, int decimals, bool plusSign) {
    if (std::isnan(value)) {
        return std::signbit(value) ? "-nan" : (plusSign ? "+nan" : "nan");
    }
    // Enough for the largest double in fixed notation with the decimals asked for.
    std::array<char, 400> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                      std::chars_format::fixed, decimals);
    std::string text(buffer.data(), result.ptr);
    if (plusSign && !std::signbit(value)) {
        text.insert(text.begin(), '+');
    }
    return text;
}

QString formatFixedQ(double value, int decimals, bool plusSign) {
    return QString::fromStdString(formatFixed(value, decimals, plusSign));
}

std::optional<double> parseNumber(std::string_view text) {
    if (text.empty() || isBlank(text.front())) {
        return std::nullopt;
    }
    const std::string copy(text);  // strtod needs a terminated string
    if (copy.size() != std::char_traits<char>::length(copy.c_str())) {
        return std::nullopt;  // an embedded NUL would end the number early
    }
    char* end = nullptr;
    const double value = strtod_l(copy.c_str(), &end, cLocale());
    if (end != copy.c_str() + copy.size()) {
        return std::nullopt;
    }
    return value;
}

std::optional<double> parseNumber(const QString& text) {
    return parseNumber(std::string_view(text.toStdString()));
}

std::optional<double> parseNumberTrimming(std::string_view text, std::string_view trimmed) {
    const auto first = text.find_first_not_of(trimmed);
    if (first == std::string_view::npos) {
        return std::nullopt;
    }
    const auto last = text.find_last_not_of(trimmed);
    return parseNumber(text.substr(first, last - first + 1));
}

std::optional<double> parseNumberTrimming(const QString& text, std::string_view trimmed) {
    const std::string utf8 = text.toStdString();
    return parseNumberTrimming(std::string_view(utf8), trimmed);
}

}  // namespace kestio::ui
