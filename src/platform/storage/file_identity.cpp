#include "platform/storage/file_identity.h"

#include <sys/stat.h>

namespace kestio::platform {

std::optional<FileIdentity> FileIdentity::of(const std::filesystem::path& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        return std::nullopt;
    }
    return of(path, status);
}

FileIdentity FileIdentity::of(const std::filesystem::path& path, const struct stat& status) {
    FileIdentity id;
    id.path = path;
    id.device = static_cast<std::uint64_t>(status.st_dev);
    id.inode = static_cast<std::uint64_t>(status.st_ino);
    id.isDirectory = S_ISDIR(status.st_mode);
    id.size = id.isDirectory ? 0 : static_cast<std::uint64_t>(status.st_size);
    id.modifiedNs = static_cast<std::int64_t>(status.st_mtim.tv_sec) * 1000000000 +
                    static_cast<std::int64_t>(status.st_mtim.tv_nsec);
    return id;
}

}  // namespace kestio::platform
