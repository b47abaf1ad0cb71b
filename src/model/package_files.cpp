#include "model/package_files.h"

#include <system_error>

#include "platform/storage/file_io.h"

namespace kestio {

PackageFiles PackageFiles::standard() {
    PackageFiles files;
    files.writeThumbnail = [](const std::filesystem::path& file,
                              std::span<const std::uint8_t> bytes) {
        platform::writeFileAtomically(file, bytes, platform::Durability::unflushed);
    };
    files.flushThumbnails = [](std::span<const std::filesystem::path> written) {
        platform::flushFiles(written);
    };
    files.writeDocument = [](const std::filesystem::path& file,
                             const std::function<void(std::ostream&)>& write) {
        platform::writeFileAtomically(file, write, platform::Durability::flushed);
    };
    files.remove = [](const std::filesystem::path& file) {
        std::error_code ignored;
        std::filesystem::remove(file, ignored);
    };
    return files;
}

}  // namespace kestio
