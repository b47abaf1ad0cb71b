#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

namespace kestio::platform {

// What tells one version of a file from another: the file itself (device and inode, which a
// replacement by rename changes), its size and its modification time to the nanosecond.
struct FileStamp {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t modifiedSeconds = 0;
    std::int64_t modifiedNanoseconds = 0;

    bool operator==(const FileStamp&) const = default;
};

// The stamp of `file` itself (a link is not followed); none when there is no such file.
std::optional<FileStamp> stampOf(const std::filesystem::path& file);

}  // namespace kestio::platform
