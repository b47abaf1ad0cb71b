#include "platform/storage/file_stamp.h"

#include <sys/stat.h>

namespace kestio::platform {

std::optional<FileStamp> stampOf(const std::filesystem::path& file) {
    struct stat info {};
    if (::lstat(file.c_str(), &info) != 0) {
        return std::nullopt;
    }
    return FileStamp{.device = static_cast<std::uint64_t>(info.st_dev),
                     .inode = static_cast<std::uint64_t>(info.st_ino),
                     .size = static_cast<std::int64_t>(info.st_size),
                     .modifiedSeconds = static_cast<std::int64_t>(info.st_mtim.tv_sec),
                     .modifiedNanoseconds = static_cast<std::int64_t>(info.st_mtim.tv_nsec)};
}

}  // namespace kestio::platform
