#include "model/package_thumbnails.h"

#include <sys/stat.h>

#include <set>
#include <string>
#include <system_error>

#include "model/project_manager.h"
#include "model/thumbnail_naming.h"
#include "platform/storage/file_io.h"

namespace kestio {

namespace fs = std::filesystem;

namespace {

// Whether `file` is a regular file of `size` bytes: a picture written whole before, under the
// name of its content.
bool holds(const fs::path& file, std::size_t size) {
    struct stat info {};
    return ::lstat(file.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           static_cast<std::uint64_t>(info.st_size) == size;
}

std::set<std::string> namesReferredTo(const ProjectData& document) {
    std::set<std::string> names;
    for (const auto& bank : document.banks) {
        for (const auto& slot : bank.slots) {
            if (slot.thumbnailFileName) {
                names.insert(*slot.thumbnailFileName);
            }
        }
    }
    return names;
}

// The regular files of `folder` (none when it cannot be read).
std::vector<std::string> regularFilesOf(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        std::error_code statusError;
        if (it->symlink_status(statusError).type() == fs::file_type::regular) {
            names.push_back(it->path().filename().string());
        }
    }
    return names;
}

}  // namespace

std::vector<fs::path> writeNewThumbnails(ProjectData& project, const fs::path& folder,
                                         const PackageFiles& files) {
    std::vector<fs::path> written;
    try {
        for (std::size_t b = 0; b < project.banks.size(); ++b) {
            auto& slots = project.banks[b].slots;
            for (std::size_t s = 0; s < slots.size(); ++s) {
                SlotData& slot = slots[s];
                if (!slot.thumbnail) {
                    continue;
                }
                const std::string name =
                    thumbnailFileName(static_cast<int>(b), static_cast<int>(s), *slot.thumbnail);
                const fs::path file = folder / name;
                if (!holds(file, slot.thumbnail->size())) {
                    files.writeThumbnail(file, *slot.thumbnail);
                    written.push_back(file);
                }
                slot.thumbnailFileName = name;
            }
        }
    } catch (...) {
        for (const auto& file : written) {
            files.remove(file);
        }
        throw;
    }
    return written;
}

void removePackageLeftovers(const fs::path& package, const ProjectData& document,
                            const PackageFiles& files) {
    const fs::path folder = package / ProjectManager::kThumbnailsFolderName;
    const std::set<std::string> referred = namesReferredTo(document);
    for (const auto& name : regularFilesOf(folder)) {
        if ((isThumbnailFileName(name) && !referred.count(name)) ||
            platform::isTemporaryFileName(name)) {
            files.remove(folder / name);
        }
    }
    for (const auto& name : regularFilesOf(package)) {
        if (platform::isTemporaryFileName(name, ProjectManager::kDataFileName)) {
            files.remove(package / name);
        }
    }
}

}  // namespace kestio
