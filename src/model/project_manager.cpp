#include "model/project_manager.h"

#include <algorithm>
#include <cctype>
#include <ostream>
#include <set>
#include <string>
#include <system_error>

#include "model/package_thumbnails.h"
#include "model/project_coding.h"
#include "platform/runloop/console.h"
#include "platform/storage/file_io.h"

namespace kestio {

namespace fs = std::filesystem;
using platform::Console;

namespace {

// Creates the folder and its missing parents; an existing folder is fine, anything else
// in the way is an error.
void createFolder(const fs::path& folder) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (!ec && !fs::is_directory(folder, ec)) {
        ec = std::make_error_code(std::errc::not_a_directory);
    }
    if (ec) {
        throw fs::filesystem_error("cannot create the folder", folder, ec);
    }
}

std::optional<fs::path> resolveMedia(const platform::BookmarkService& bookmarks,
                                     const std::vector<std::uint8_t>& data) {
    for (auto option :
         {platform::BookmarkOption::withSecurityScope, platform::BookmarkOption::none}) {
        try {
            return bookmarks.resolveBookmarkData(data, option).path;
        } catch (const platform::BookmarkError&) {
        }
    }
    return std::nullopt;
}

template <std::size_t N>
bool contains(const std::array<std::string_view, N>& set, std::string_view value) {
    return std::find(set.begin(), set.end(), value) != set.end();
}

}  // namespace

ProjectManager::ProjectManager(const platform::BookmarkService& bookmarks, PackageFiles files)
    : bookmarks_(bookmarks), files_(std::move(files)) {}

ProjectManager& ProjectManager::shared() {
    static ProjectManager instance(platform::BookmarkService::standard());
    return instance;
}

fs::path ProjectManager::save(ProjectData project, const fs::path& package,
                              std::error_code* picturesError) const {
    const fs::path dataFile = package / kDataFileName;
    const fs::path thumbnails = package / kThumbnailsFolderName;
    std::error_code statusError;
    if (fs::is_symlink(fs::symlink_status(package, statusError))) {
        // A name that leads elsewhere may lead anywhere: a show is written only into a package
        // folder itself.
        throw fs::filesystem_error("the package is a link", package,
                                   std::make_error_code(std::errc::too_many_symbolic_link_levels));
    }
    createFolder(package);
    // What the document this save replaces referred to: the pictures this save may supersede.
    std::set<std::string> previous = pictureNamesOf(project);
    try {
        previous.merge(pictureNamesOf(readProjectFile(dataFile)));
    } catch (const std::exception&) {
        // No document, or one that cannot be read: only the names this program knows.
    }

    std::vector<fs::path> written;
    try {
        if (fs::is_symlink(fs::symlink_status(thumbnails, statusError))) {
            // Replaced by a folder of the package's own, as a linked document is replaced: only
            // the link goes, what it leads to is not touched.
            files_.remove(thumbnails);
        }
        createFolder(thumbnails);
        try {
            project.thumbnailsFolderBookmark =
                bookmarks_.bookmarkData(thumbnails, platform::BookmarkOption::withSecurityScope);
        } catch (const platform::BookmarkError&) {
            project.thumbnailsFolderBookmark.reset();
        }
        written = writeNewThumbnails(project, thumbnails, files_);
    } catch (const fs::filesystem_error& error) {
        // The show is worth more than its pictures: the document is written all the same, and
        // refers only to the pictures the folder holds.
        Console::log("thumbnails not saved: " + std::string(error.what()));
        if (picturesError != nullptr) {
            *picturesError = error.code();
        }
        std::error_code ignored;
        if (!fs::is_directory(thumbnails, ignored)) {
            project.thumbnailsFolderBookmark.reset();
        }
        forgetPicturesNotHeld(project, thumbnails);
    }
    for (auto& bank : project.banks) {
        for (auto& slot : bank.slots) {
            slot.thumbnail.reset();
            slot.waveformData.reset();
        }
    }
    try {
        // Written slot by slot into the temporary file, so that the text never exists whole.
        files_.writeDocument(dataFile, [&](std::ostream& out) { writeProject(project, out); });
    } catch (...) {
        // The pictures written for this document are nobody's now.
        for (const auto& file : written) {
            files_.remove(file);
        }
        throw;
    }
    removeSaveLeftovers(package, previous, project, files_);
    return package;
}

ProjectData ProjectManager::load(const fs::path& package,
                                 std::vector<DefaultedSlotValue>* defaulted) const {
    Console::log("📂 load package: " + package.string());
    const fs::path dataFile = package / kDataFileName;
    const fs::path thumbnails = package / kThumbnailsFolderName;
    Console::log("🖼 thumbsURL: " + thumbnails.string());

    // A document that is too large, or holds more than a project can, is refused by a
    // streaming pass before any slot is decoded; then each slot is decoded as it is read.
    std::vector<DefaultedSlotValue> found;
    ProjectData project = readProjectFile(dataFile, &found);
    for (const DefaultedSlotValue& value : found) {
        Console::log("⚠️ banks[" + std::to_string(value.bank) + "].slots[" +
                     std::to_string(value.slot) + "]." + value.key + ": " +
                     (value.found.empty() ? "missing" : value.found) + ", read as " +
                     (value.readAs.empty() ? "none" : value.readAs));
    }
    if (defaulted != nullptr) {
        defaulted->insert(defaulted->end(), found.begin(), found.end());
    }

    // Pictures are read only from a folder of the package's own, never through a link (as a
    // picture that is a link is not read).
    std::error_code error;
    const bool ownFolder = fs::symlink_status(thumbnails, error).type() == fs::file_type::directory;
    int loaded = 0;
    for (auto& bank : project.banks) {
        for (auto& slot : bank.slots) {
            if (slot.bookmarkData) {
                if (auto path = resolveMedia(bookmarks_, *slot.bookmarkData)) {
                    slot.videoURL = std::move(*path);
                }
            }
            if (slot.thumbnailFileName) {
                const std::string& name = *slot.thumbnailFileName;
                std::optional<platform::Bytes> thumbnail;
                if (ownFolder && isBareFileName(name)) {
                    thumbnail = platform::readRegularFile(thumbnails / name, kMaxThumbnailBytes);
                }
                if (thumbnail) {
                    slot.thumbnail = std::move(*thumbnail);
                    ++loaded;
                } else {
                    Console::log("⚠️ thumb load failed: " + name);
                }
            }
        }
    }
    Console::log("✅ thumbnails loaded: " + std::to_string(loaded));
    return project;
}

bool ProjectManager::isBareFileName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

std::optional<MediaType> ProjectManager::mediaType(const fs::path& file) {
    std::string text = file.string();
    while (text.size() > 1 && text.back() == '/') {
        text.pop_back();
    }
    const std::string last = text.substr(text.find_last_of('/') + 1);
    const auto dot = last.find_last_of('.');
    std::string extension = dot == std::string::npos ? std::string() : last.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (contains(videoExtensions, extension)) {
        return MediaType::video;
    }
    if (contains(imageExtensions, extension)) {
        return MediaType::still;
    }
    if (contains(audioExtensions, extension)) {
        return MediaType::audio;
    }
    return std::nullopt;
}

}  // namespace kestio
