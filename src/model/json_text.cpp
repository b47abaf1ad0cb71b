#include "model/json_text.h"

#include <fstream>
#include <istream>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace kestio {

namespace {

// Follows nesting and string lengths over text handed in pieces.
class TextShape {
  public:
    void feed(const char* data, std::size_t size) {
        for (std::size_t i = 0; i < size; ++i) {
            const char c = data[i];
            if (inString_) {
                if (escaped_) {
                    escaped_ = false;
                } else if (c == '\\') {
                    escaped_ = true;
                } else if (c == '"') {
                    inString_ = false;
                    continue;
                }
                if (++stringBytes_ > kMaxJsonStringBytes) {
                    throw ModelCodingError({}, "a string is longer than " +
                                                   std::to_string(kMaxJsonStringBytes) + " bytes");
                }
                continue;
            }
            switch (c) {
                case '"':
                    inString_ = true;
                    stringBytes_ = 0;
                    break;
                case '[':
                case '{':
                    if (++depth_ > kMaxJsonNesting) {
                        throw ModelCodingError({}, "arrays and objects are nested deeper than " +
                                                       std::to_string(kMaxJsonNesting) + " levels");
                    }
                    break;
                case ']':
                case '}':
                    if (depth_ > 0) {
                        --depth_;
                    }
                    break;
                default:
                    break;
            }
        }
    }

  private:
    int depth_ = 0;
    bool inString_ = false;
    bool escaped_ = false;
    std::size_t stringBytes_ = 0;
};

std::ifstream openForReading(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        throw std::filesystem::filesystem_error(
            "cannot open the file", file,
            std::make_error_code(std::errc::no_such_file_or_directory));
    }
    return in;
}

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

// The error for text the parser refused, with the place its message names (" at line L,
// column C", the line from 1 and the byte within it) when it names one.
ModelCodingError notJson(const char* message) {
    std::string reason = "not valid JSON: " + withoutExceptionTag(message);
    static constexpr std::string_view kLine = " at line ";
    static constexpr std::string_view kColumn = ", column ";
    const auto at = reason.find(kLine);
    const auto comma = at == std::string::npos ? at : reason.find(kColumn, at);
    if (comma != std::string::npos) {
        try {
            const std::size_t line = std::stoul(reason.substr(at + kLine.size()));
            const std::size_t column = std::stoul(reason.substr(comma + kColumn.size()));
            return ModelCodingError(std::move(reason), ModelCodingError::TextPlace{line, column});
        } catch (const std::logic_error&) {
            // No numbers where they belong: the message is kept without a place.
        }
    }
    return ModelCodingError({}, std::move(reason));
}

// Forwards every event; a syntax error becomes the same error parseJsonText gives.
class Forwarding : public nlohmann::json_sax<nlohmann::json> {
  public:
    explicit Forwarding(nlohmann::json_sax<nlohmann::json>& to) : to_(to) {}
    bool null() override { return to_.null(); }
    bool boolean(bool v) override { return to_.boolean(v); }
    bool number_integer(number_integer_t v) override { return to_.number_integer(v); }
    bool number_unsigned(number_unsigned_t v) override { return to_.number_unsigned(v); }
    bool number_float(number_float_t v, const string_t& s) override {
        return to_.number_float(v, s);
    }
    bool string(string_t& v) override { return to_.string(v); }
    bool binary(binary_t& v) override { return to_.binary(v); }
    bool start_object(std::size_t n) override { return to_.start_object(n); }
    bool key(string_t& v) override { return to_.key(v); }
    bool end_object() override { return to_.end_object(); }
    bool start_array(std::size_t n) override { return to_.start_array(n); }
    bool end_array() override { return to_.end_array(); }
    bool parse_error(std::size_t, const std::string&,
                     const nlohmann::detail::exception& error) override {
        throw notJson(error.what());
    }

  private:
    nlohmann::json_sax<nlohmann::json>& to_;
};

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

void scanJsonFile(const std::filesystem::path& file, nlohmann::json_sax<nlohmann::json>& handler) {
    {
        std::ifstream in = openForReading(file);
        TextShape shape;
        std::vector<char> piece(std::size_t(1) << 20);
        while (in) {
            in.read(piece.data(), static_cast<std::streamsize>(piece.size()));
            shape.feed(piece.data(), static_cast<std::size_t>(in.gcount()));
        }
        if (in.bad()) {
            throw std::filesystem::filesystem_error("cannot read the file", file,
                                                    std::make_error_code(std::errc::io_error));
        }
    }
    std::ifstream in = openForReading(file);
    parseJsonEvents(in, handler);
}

void parseJsonEvents(std::string_view text, nlohmann::json_sax<nlohmann::json>& handler) {
    Forwarding forwarding(handler);
    nlohmann::json::sax_parse(text.data(), text.data() + text.size(), &forwarding);
}

void parseJsonEvents(std::istream& in, nlohmann::json_sax<nlohmann::json>& handler) {
    Forwarding forwarding(handler);
    nlohmann::json::sax_parse(in, &forwarding);
}

void checkJsonNesting(std::string_view text) {
    if (nestsDeeperThan(text, kMaxJsonNesting)) {
        throw ModelCodingError({}, "arrays and objects are nested deeper than " +
                                       std::to_string(kMaxJsonNesting) + " levels");
    }
}

std::size_t writtenJsonStringBytes(std::string_view text) {
    std::size_t bytes = 0;
    for (const char c : text) {
        switch (c) {
            case '"':
            case '\\':
            case '\b':
            case '\t':
            case '\n':
            case '\f':
            case '\r':
                bytes += 2;
                break;
            default:
                bytes += static_cast<unsigned char>(c) < 0x20 ? 6 : 1;
                break;
        }
    }
    return bytes;
}

nlohmann::json parseJsonText(std::string_view text) {
    checkJsonNesting(text);
    try {
        return nlohmann::json::parse(text.data(), text.data() + text.size());
    } catch (const nlohmann::json::exception& error) {
        throw notJson(error.what());
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

void JsonTextWriter::indent(std::size_t levels) {
    for (std::size_t i = 0; i < levels; ++i) {
        out_.write("  ", 2);
    }
}

void JsonTextWriter::startItem() {
    if (levels_.empty()) {
        return;
    }
    Level& level = levels_.back();
    out_ << (level.count++ == 0 ? "\n" : ",\n");
    indent(levels_.size());
}

void JsonTextWriter::beginObject() {
    if (levels_.empty() || !levels_.back().object) {
        startItem();
    }
    out_.put('{');
    levels_.push_back({true, 0});
}

void JsonTextWriter::beginArray() {
    if (levels_.empty() || !levels_.back().object) {
        startItem();
    }
    out_.put('[');
    levels_.push_back({false, 0});
}

void JsonTextWriter::endObject() {
    const Level level = levels_.back();
    levels_.pop_back();
    if (level.count > 0) {
        out_.put('\n');
        indent(levels_.size());
    }
    out_.put('}');
}

void JsonTextWriter::endArray() {
    const Level level = levels_.back();
    levels_.pop_back();
    if (level.count > 0) {
        out_.put('\n');
        indent(levels_.size());
    }
    out_.put(']');
}

void JsonTextWriter::key(std::string_view name) {
    startItem();
    out_ << formatJsonText(nlohmann::ordered_json(name)) << ": ";
}

void JsonTextWriter::value(const nlohmann::ordered_json& value) {
    if (levels_.empty() || !levels_.back().object) {
        startItem();
    }
    // The value is printed on its own and its lines moved in to the depth it is written at;
    // a printed string never holds a line break, so every one starts a line of the value.
    const std::string text = formatJsonText(value);
    std::size_t from = 0;
    for (std::size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', from)) {
        out_.write(text.data() + from, static_cast<std::streamsize>(at + 1 - from));
        indent(levels_.size());
        from = at + 1;
    }
    out_.write(text.data() + from, static_cast<std::streamsize>(text.size() - from));
}

}  // namespace kestio
