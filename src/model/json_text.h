#pragma once

// Turning JSON text into values and back, safely: nesting is limited before parsing, every parse
// failure becomes a ModelCodingError, and output is deterministic (2-space indent, members in the
// order they were added, raw UTF-8, "/" unescaped).

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "model/model_coding_error.h"

namespace kestio {

// Arrays and objects nested deeper than this are refused before the parser sees them.
inline constexpr int kMaxJsonNesting = 256;

// Strings longer than this are refused by the streaming reader before the parser holds them
// (names, key texts and bookmarks of a document are a few kilobytes at most).
inline constexpr std::size_t kMaxJsonStringBytes = std::size_t(16) << 20;

// Hands the events of the JSON document in `file` to `handler`, reading the file in pieces so
// that memory stays small whatever its size: a first pass over the raw text refuses nesting
// deeper than kMaxJsonNesting and strings longer than kMaxJsonStringBytes, then the parser runs.
// Throws ModelCodingError as parseJsonText does (and whatever the handler throws), and
// std::filesystem::filesystem_error when the file cannot be read.
void scanJsonFile(const std::filesystem::path& file, nlohmann::json_sax<nlohmann::json>& handler);

// Parses one JSON document. Throws ModelCodingError (empty key path) for text that is not JSON,
// is truncated, nests deeper than kMaxJsonNesting, holds invalid UTF-8 or numbers out of range.
// Of duplicate keys in an object, the last one wins.
nlohmann::json parseJsonText(std::string_view text);

// Whether the bytes are well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool isValidUtf8(std::string_view text);

// Pretty-prints a value. Throws ModelCodingError for strings that are not valid UTF-8.
std::string formatJsonText(const nlohmann::ordered_json& value);

}  // namespace kestio
