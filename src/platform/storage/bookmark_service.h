#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>

#include "platform/storage/user_defaults.h"

namespace kestio::platform {

// How a bookmark is made or resolved. A security-scoped resolution also requires that the
// file can be read (a folder: read and entered) by this process.
enum class BookmarkOption {
    none,
    withSecurityScope,
};

// Why a bookmark could not be made or resolved.
class BookmarkError : public std::runtime_error {
  public:
    enum class Kind {
        notOurs,       // bytes of another format (e.g. written on another system)
        malformed,     // our format, but truncated or damaged
        notFound,      // the file is neither at its path nor renamed within its folder
        noPermission,  // found, but not readable (security-scoped resolution only)
        unreachable,   // creation: the path cannot be examined
    };
    BookmarkError(Kind kind, const std::string& what) : std::runtime_error(what), kind_(kind) {}
    Kind kind() const { return kind_; }

  private:
    Kind kind_;
};

struct ResolvedBookmark {
    std::filesystem::path path;
    // The file was found by other means than its recorded identity at its recorded path
    // (renamed within its folder, or replaced by another file of the same name): a new
    // bookmark should be made of `path`.
    bool isStale = false;
    // The file at the recorded path holds other content than when the bookmark was made:
    // another file stands there, or the recorded one with another size.
    bool isReplaced = false;
};

// Persistent references to files and folders.
//
// A bookmark records the file's absolute path and its identity (device, inode, size,
// modification time) in our own binary format. Resolving looks first at the recorded path
// (same identity: not stale; another file of the same kind there: stale, as after an
// editor's save-by-rename), then for the same identity among the entries of the recorded
// folder (a rename within the folder: stale). Moves to other folders are not followed.
//
// Bytes that are not a bookmark of ours fail with Kind::notOurs and are never changed, so
// a document written elsewhere keeps its references when saved here.
class BookmarkService {
  public:
    // Whether this process may read `path` (and enter it, for a folder).
    using AccessCheck = std::function<bool(const std::filesystem::path& path, bool isDirectory)>;

    // Uses the system's permission check for the effective user.
    BookmarkService();
    explicit BookmarkService(AccessCheck accessCheck);

    // The service of the application, with the system's permission check.
    static const BookmarkService& standard();

    // Makes a bookmark of an existing file or folder (a relative path is taken from the
    // current folder). Never fails for a path that can be examined with stat(), whether or
    // not it is readable; otherwise throws BookmarkError (Kind::unreachable).
    Bytes bookmarkData(const std::filesystem::path& path,
                       BookmarkOption option = BookmarkOption::withSecurityScope) const;

    // Finds the file of a bookmark. Throws BookmarkError.
    ResolvedBookmark resolveBookmarkData(const Bytes& data, BookmarkOption option) const;

    // The path a bookmark of ours recorded, read from its bytes alone (the disk is not
    // touched); none for bytes that are not a whole bookmark of ours.
    static std::optional<std::filesystem::path> recordedPath(const Bytes& data);

    // Access to a resolved location. Starting checks that the location exists and may be
    // read; stopping does nothing. Both are cheap and need not be balanced.
    bool startAccessingSecurityScopedResource(const std::filesystem::path& path) const;
    void stopAccessingSecurityScopedResource(const std::filesystem::path& path) const;

    // The system's permission check (read, plus search for a folder, as the effective user).
    static bool systemAccessCheck(const std::filesystem::path& path, bool isDirectory);

  private:
    AccessCheck accessCheck_;
};

}  // namespace kestio::platform
