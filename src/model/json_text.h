#pragma once

// Turning JSON text into values and back, safely: nesting is limited before parsing, every parse
// failure becomes a ModelCodingError, and output is deterministic (2-space indent, members in the
// order they were added, raw UTF-8, "/" unescaped).

#include <cstddef>
#include <filesystem>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "model/model_coding_error.h"

namespace kestio {

// Arrays and objects nested deeper than this are refused before the parser sees them.
inline constexpr int kMaxJsonNesting = 256;

// Strings longer than this are refused by the streaming reader before the parser holds them
// (names, key texts and bookmarks of a document are a few kilobytes at most).
inline constexpr std::size_t kMaxJsonStringBytes = std::size_t(16) << 20;

// The bytes `text` takes between its quotes when formatJsonText or JsonTextWriter writes it: raw
// UTF-8, with '"', '\\' and the control characters escaped (two bytes for \b \t \n \f \r, six
// for the others). The streaming reader counts the same bytes against kMaxJsonStringBytes.
std::size_t writtenJsonStringBytes(std::string_view text);

// Hands the events of the JSON document in `file` to `handler`, reading the file in pieces so
// that memory stays small whatever its size: a first pass over the raw text refuses nesting
// deeper than kMaxJsonNesting and strings longer than kMaxJsonStringBytes, then the parser runs.
// Throws ModelCodingError as parseJsonText does (and whatever the handler throws), and
// std::filesystem::filesystem_error when the file cannot be read.
void scanJsonFile(const std::filesystem::path& file, nlohmann::json_sax<nlohmann::json>& handler);

// Hands the events of the JSON document in `text` (or in `in`, read to its end) to `handler`,
// without the checks of the raw text that scanJsonFile and parseJsonText make first. A syntax
// error throws the ModelCodingError parseJsonText gives; what the handler throws passes through.
void parseJsonEvents(std::string_view text, nlohmann::json_sax<nlohmann::json>& handler);
void parseJsonEvents(std::istream& in, nlohmann::json_sax<nlohmann::json>& handler);

// Throws the ModelCodingError parseJsonText gives when `text` nests arrays and objects deeper
// than kMaxJsonNesting, counting brackets outside strings (an upper bound of what the parser
// would build).
void checkJsonNesting(std::string_view text);

// Parses one JSON document. Throws ModelCodingError (empty key path) for text that is not JSON,
// is truncated, nests deeper than kMaxJsonNesting, holds invalid UTF-8 or numbers out of range.
// Of duplicate keys in an object, the last one wins.
nlohmann::json parseJsonText(std::string_view text);

// Whether the bytes are well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool isValidUtf8(std::string_view text);

// Pretty-prints a value. Throws ModelCodingError for strings that are not valid UTF-8.
std::string formatJsonText(const nlohmann::ordered_json& value);

// Writes one pretty-printed document to a stream piece by piece, so that a large one never
// exists whole in memory: the text is byte for byte what formatJsonText gives for the whole
// value. Containers are opened and closed around their members and elements; any value inside
// may be handed over whole. Errors as formatJsonText; the stream's own state is the caller's.
class JsonTextWriter {
  public:
    explicit JsonTextWriter(std::ostream& out) : out_(out) {}

    void beginObject();
    void endObject();
    void beginArray();
    void endArray();
    // The name of the object member whose value comes next.
    void key(std::string_view name);
    // A whole value: an element of the open array, the value of the member just named, or
    // the whole document.
    void value(const nlohmann::ordered_json& value);

  private:
    struct Level {
        bool object = false;
        std::size_t count = 0;
    };
    // Puts out what comes before an element of an array (or a member of an object): the
    // separator and the indentation of its line.
    void startItem();
    void indent(std::size_t levels);

    std::ostream& out_;
    std::vector<Level> levels_;
};

}  // namespace kestio
