#include "import/four_cc.h"

#include <QString>

namespace kestio {

std::string fourCCString(std::uint32_t code) {
    char bytes[4];
    int length = 0;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const char byte = static_cast<char>((code >> shift) & 0xFFu);
        if (byte == '\0') {
            break;
        }
        bytes[length++] = byte;
    }
    std::string text = QString::fromUtf8(bytes, length).toStdString();
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return "Unknown";
    }
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

}  // namespace kestio
