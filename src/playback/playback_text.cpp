#include "playback/playback_text.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace kestio {

std::string shortestDouble(double value) {
    if (std::isnan(value)) {
        return "nan";
    }
    if (std::isinf(value)) {
        return value > 0 ? "inf" : "-inf";
    }
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    std::string text(buffer, result.ptr);
    if (text.find_first_of(".e") == std::string::npos) {
        text += ".0";
    }
    return text;
}

std::string sizeText(double width, double height) {
    return "(" + shortestDouble(width) + ", " + shortestDouble(height) + ")";
}

std::string wholePercent(double value) {
    if (!std::isfinite(value) || std::trunc(value) > double(std::numeric_limits<int>::max()) ||
        std::trunc(value) < double(std::numeric_limits<int>::min())) {
        return shortestDouble(value);
    }
    return std::to_string(int(std::trunc(value)));
}

std::string bankSlotText(int bank, int slot) {
    return "BANK" + std::to_string(bank + 1) + " SLOT" + std::to_string(slot + 1);
}

}  // namespace kestio
