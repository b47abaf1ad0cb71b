#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

struct stat;

namespace kestio::platform {

// One state of a file: where it is, which file it is (device and inode) and what it holds as
// far as the system tells without reading it (size and modification time). What the program
// reads or learns from a file (an open reader, decoded sound, a probe, a picture) holds for
// that state only: a new render copied over the file keeps its inode but changes its size or
// time, a save by rename puts another inode at the path. Two values are equal only for the same
// path in the same state.
struct FileIdentity {
    std::filesystem::path path;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint64_t size = 0;  // 0 for a folder
    std::int64_t modifiedNs = 0;
    bool isDirectory = false;

    // The state of what is at `path` now (links followed); none when it cannot be examined.
    // Touches the disk: never on the main thread.
    static std::optional<FileIdentity> of(const std::filesystem::path& path);
    // The state `status` describes, of the file at `path`.
    static FileIdentity of(const std::filesystem::path& path, const struct stat& status);

    // The same file (device and inode, and kind), whatever it holds now.
    bool sameFile(const FileIdentity& other) const {
        return device == other.device && inode == other.inode && isDirectory == other.isDirectory;
    }
    // The same file holding what it held: its size and time unchanged. (A folder's time moves
    // with its entries, so a folder is known by its inode alone.)
    bool sameFileUnchanged(const FileIdentity& other) const {
        return sameFile(other) &&
               (isDirectory || (size == other.size && modifiedNs == other.modifiedNs));
    }

    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

}  // namespace kestio::platform
