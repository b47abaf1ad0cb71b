#pragma once

#include <cstdint>
#include <string>

namespace kestio {

// The text of a four-character code such as a codec's ("avc1", "aac " gives "aac"): its four
// bytes, most significant first, read as UTF-8 up to the first zero byte (invalid sequences
// become U+FFFD), trimmed of spaces and tabs at both ends; "Unknown" when nothing is left.
std::string fourCCString(std::uint32_t code);

}  // namespace kestio
