#pragma once

#include <stdexcept>
#include <string>

namespace kestio {

// A failure to read or write the show document (or one of its records). keyPath() names the member
// at fault, e.g. "banks[0].slots[3].postRollMode"; it is empty when the text is not JSON at all.
class ModelCodingError : public std::runtime_error {
  public:
    ModelCodingError(std::string keyPath, std::string reason);

    const std::string& keyPath() const noexcept { return keyPath_; }
    const std::string& reason() const noexcept { return reason_; }

  private:
    std::string keyPath_;
    std::string reason_;
};

}  // namespace kestio
