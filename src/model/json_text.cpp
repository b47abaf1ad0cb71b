#include "model/json_text.h"

#include <string>

namespace kestio {

namespace {

// Finds the deepest nesting of arrays and objects outside strings, stopping once it passes the
// limit. The parser stops at the first syntax error, so counting brackets this way is an upper
// bound of what it would build.
bool nestsDeeperThan(std::string_view text, int limit) {
    int depth = 0;
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                inString = false;
            }
            continue;
        }
        switch (c) {
            case '"':
                inString = true;
                break;
            case '[':
            case '{':
                if (++depth > limit) {
                    return true;
                }
                break;
            case ']':
            case '}':
                if (depth > 0) {
                    --depth;
                }
                break;
            default:
                break;
        }
    }
    return false;
}

// nlohmann's messages start with "[json.exception.<kind>.<id>] "; the rest is the useful part.
std::string withoutExceptionTag(const char* message) {
    std::string text = message;
    if (!text.empty() && text.front() == '[') {
        const auto end = text.find("] ");
        if (end != std::string::npos) {
            text.erase(0, end + 2);
        }
    }
    return text;
}

}  // namespace

bool isValidUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            ++i;
            continue;
        }
        std::size_t length = 0;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0) {
                low = 0xA0;  // no overlong forms
            } else if (lead == 0xED) {
                high = 0x9F;  // no surrogates
            }
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0) {
                low = 0x90;
            } else if (lead == 0xF4) {
                high = 0x8F;  // nothing past U+10FFFF
            }
        } else {
            return false;
        }
        if (text.size() - i < length) {
            return false;
        }
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            const unsigned char min = k == 1 ? low : 0x80;
            const unsigned char max = k == 1 ? high : 0xBF;
            if (next < min || next > max) {
                return false;
            }
        }
        i += length;
    }
    return true;
}

nlohmann::json parseJsonText(std::string_view text) {
    if (nestsDeeperThan(text, kMaxJsonNesting)) {
        throw ModelCodingError({}, "arrays and objects are nested deeper than " +
                                       std::to_string(kMaxJsonNesting) + " levels");
    }
    try {
        return nlohmann::json::parse(text.data(), text.data() + text.size());
    } catch (const nlohmann::json::exception& error) {
        throw ModelCodingError({}, "not valid JSON: " + withoutExceptionTag(error.what()));
    }
}

std::string formatJsonText(const nlohmann::ordered_json& value) {
    try {
        return value.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::strict);
    } catch (const nlohmann::json::exception& error) {
        throw ModelCodingError({},
                               "cannot be written as JSON: " + withoutExceptionTag(error.what()));
    }
}

}  // namespace kestio
