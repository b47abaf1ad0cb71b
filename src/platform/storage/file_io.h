#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <iosfwd>
#include <optional>
#include <span>
#include <string_view>

#include "platform/storage/user_defaults.h"

namespace kestio::platform {

// Whether an atomic write waits until the new content is on the disk before it replaces the
// old file. Without the wait a crash of the process still leaves the old or the new content
// whole; only a power failure may cost the new content.
enum class Durability { flushed, unflushed };

// Replaces `file` with `bytes` so that a reader only ever sees the old content or the new
// content in full: the bytes go to a temporary file in the same folder, are flushed to the
// disk (Durability::flushed) and then renamed over `file`. On any failure the old file is
// untouched, no temporary file is left behind, and std::filesystem::filesystem_error is
// thrown. A new file gets the default permissions (0666 less the umask); an existing one
// keeps its permissions.
void writeFileAtomically(const std::filesystem::path& file, std::span<const std::uint8_t> bytes,
                         Durability durability = Durability::flushed);
void writeFileAtomically(const std::filesystem::path& file, std::string_view bytes,
                         Durability durability = Durability::flushed);
// The same for content that `write` puts out to the stream it is given, in pieces that go to the
// temporary file as they come, so that the whole content never needs to be in memory. What
// `write` throws is passed on after the temporary file is removed; the old file is untouched.
void writeFileAtomically(const std::filesystem::path& file,
                         const std::function<void(std::ostream&)>& write,
                         Durability durability = Durability::flushed);

// Waits until the content of `files` (written Durability::unflushed) and their names are on the
// disk: the writes of all of them are started before any is waited for, so that many small
// files cost about what one does. Throws std::filesystem::filesystem_error when one cannot be
// flushed.
void flushFiles(std::span<const std::filesystem::path> files);

// Whether `name` is the name of a temporary file of writeFileAtomically() for a file named
// `target` (any target when empty): what a process killed between the write and the rename
// leaves behind, and nothing else may remove.
bool isTemporaryFileName(std::string_view name, std::string_view target = {});

// The whole content of a file. Throws std::filesystem::filesystem_error when it cannot be
// opened or read.
Bytes readFile(const std::filesystem::path& file);

// The content of `file` only if it is a regular file itself (not a link, folder, device or
// pipe) of at most `maxBytes`; otherwise, or when it cannot be read, no value. Never blocks
// on a pipe or device.
std::optional<Bytes> readRegularFile(const std::filesystem::path& file, std::size_t maxBytes);

}  // namespace kestio::platform
