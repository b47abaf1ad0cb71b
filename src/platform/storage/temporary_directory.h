#pragma once

#include <filesystem>

namespace kestio::platform {

// The user's folder for temporary files ($TMPDIR, else /tmp).
inline std::filesystem::path temporaryDirectory() {
    return std::filesystem::temp_directory_path();
}

}  // namespace kestio::platform
