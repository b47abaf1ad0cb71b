#pragma once

// Standard Base64 (RFC 4648 alphabet, "=" padding, no line breaks), as byte fields are stored in
// "data.json".

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestio {

std::string base64Encode(const std::vector<std::uint8_t>& bytes);

// The decoded bytes, or nothing when the text is not strict Base64 (wrong length, characters
// outside the alphabet, misplaced padding).
std::optional<std::vector<std::uint8_t>> base64Decode(std::string_view text);

}  // namespace kestio
