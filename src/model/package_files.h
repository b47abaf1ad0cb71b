#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <iosfwd>
#include <span>

namespace kestio {

// The file operations a show package is written with. The standard ones replace files
// atomically and flush them to the disk; tests put in ones that fail, or stop the process, at a
// chosen step of a save.
struct PackageFiles {
    // Writes a thumbnail file whole; it appears under its name only with all of its content,
    // which may still be on its way to the disk. Throws std::filesystem::filesystem_error.
    std::function<void(const std::filesystem::path& file, std::span<const std::uint8_t> bytes)>
        writeThumbnail;
    // Waits until the thumbnail files written are on the disk, all at once. Throws
    // std::filesystem::filesystem_error.
    std::function<void(std::span<const std::filesystem::path> files)> flushThumbnails;
    // Replaces the document whole with the text `write` puts out, flushed to the disk. Throws
    // std::filesystem::filesystem_error, or what `write` throws.
    std::function<void(const std::filesystem::path& file,
                       const std::function<void(std::ostream&)>& write)>
        writeDocument;
    // Removes a file; a failure is ignored.
    std::function<void(const std::filesystem::path& file)> remove;

    static PackageFiles standard();
};

}  // namespace kestio
