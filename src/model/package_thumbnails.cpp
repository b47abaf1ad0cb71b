#include "model/package_thumbnails.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>
#include <string>
#include <system_error>

#include "model/project_manager.h"
#include "model/thumbnail_naming.h"
#include "platform/storage/file_io.h"

namespace kestio {

namespace fs = std::filesystem;

namespace {

// The folder a save writes pictures into, open for looking names up in it.
class Folder {
  public:
    explicit Folder(const fs::path& path)
        : fd_(::open(path.c_str(), O_DIRECTORY | O_RDONLY | O_CLOEXEC)) {}
    ~Folder() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;

    // Whether the folder holds `name` as a regular file of `size` bytes: a picture written whole
    // before, under the name of its content.
    bool holds(const std::string& name, std::size_t size) const {
        struct stat info {};
        return fd_ >= 0 && ::fstatat(fd_, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
               S_ISREG(info.st_mode) && static_cast<std::uint64_t>(info.st_size) == size;
    }

  private:
    int fd_;
};

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
    const Folder pictures(folder);
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
                if (!pictures.holds(name, slot.thumbnail->size())) {
                    files.writeThumbnail(folder / name, *slot.thumbnail);
                    written.push_back(folder / name);
                }
                slot.thumbnailFileName = name;
            }
        }
        if (!written.empty()) {
            files.flushThumbnails(written);
        }
    } catch (...) {
        for (const auto& file : written) {
            files.remove(file);
        }
        throw;
    }
    return written;
}

void forgetPicturesNotHeld(ProjectData& project, const fs::path& folder) {
    for (auto& bank : project.banks) {
        for (auto& slot : bank.slots) {
            std::error_code error;
            if (slot.thumbnailFileName &&
                fs::symlink_status(folder / *slot.thumbnailFileName, error).type() !=
                    fs::file_type::regular) {
                slot.thumbnailFileName.reset();
            }
        }
    }
}

std::set<std::string> pictureNamesOf(const ProjectData& document) {
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

void removeSaveLeftovers(const fs::path& package, const std::set<std::string>& previous,
                         const ProjectData& document, const PackageFiles& files) {
    const fs::path folder = package / ProjectManager::kThumbnailsFolderName;
    std::error_code error;
    if (fs::symlink_status(folder, error).type() != fs::file_type::directory) {
        return;  // never through a link
    }
    const std::set<std::string> referred = pictureNamesOf(document);
    for (const auto& name : regularFilesOf(folder)) {
        if (referred.count(name) || !isThumbnailFileName(name)) {
            // The document's, or not a name of ours; but a temporary file of our writes.
            if (platform::isTemporaryFileName(name) && name.starts_with(".thumb_")) {
                files.remove(folder / name);
            }
            continue;
        }
        bool ours = previous.count(name) || name.ends_with(".partial");
        if (!ours) {
            const auto bytes =
                platform::readRegularFile(folder / name, ProjectManager::kMaxThumbnailBytes);
            ours = bytes && isNameOfContent(name, *bytes);
        }
        if (ours) {
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
