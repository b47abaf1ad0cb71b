#pragma once

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>

namespace kestio {

// A failure to read or write the show document (or one of its records). keyPath() names the member
// at fault, e.g. "banks[0].slots[3].postRollMode"; it is empty when the text is not JSON at all.
class ModelCodingError : public std::runtime_error {
  public:
    // Where in the text a syntax error lies: the line from 1, and the byte of that line from 1.
    struct TextPlace {
        std::size_t line = 0;
        std::size_t column = 0;

        bool operator==(const TextPlace&) const = default;
    };

    ModelCodingError(std::string keyPath, std::string reason);
    // Text that is not JSON, failing at `place`.
    ModelCodingError(std::string reason, TextPlace place);

    const std::string& keyPath() const noexcept { return keyPath_; }
    const std::string& reason() const noexcept { return reason_; }
    // Set only for a syntax error.
    const std::optional<TextPlace>& place() const noexcept { return place_; }

  private:
    std::string keyPath_;
    std::string reason_;
    std::optional<TextPlace> place_;
};

}  // namespace kestio
