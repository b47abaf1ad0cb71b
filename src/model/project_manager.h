#pragma once

#include <array>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string_view>
#include <system_error>
#include <vector>

#include "model/model_enums.h"
#include "model/package_files.h"
#include "model/project_data.h"
#include "platform/storage/bookmark_service.h"

namespace kestio {

struct DefaultedSlotValue;  // project_coding.h

// The names of the notifications with which the application asks the main view to open a
// project (open panel) or to save the current one.
namespace notification_names {
inline constexpr const char* openProject = "openProject";
inline constexpr const char* saveProject = "saveProject";
}  // namespace notification_names

// Writes and reads a show package: a folder "<name>.ktshow" holding the document
// "data.json", the slot thumbnails in "thumbnails" (named by the document's slots) and the play
// log "app.log" (which is not touched here). A save writes the pictures and the document as one
// (see package_thumbnails.h): whenever it stops, the package holds the old document with its
// pictures or the new one with its pictures. The pictures a save of ours superseded or left
// unfinished and its temporary files are removed by the next save; nothing else is deleted, and
// an open changes nothing. Nothing is written, renamed or removed through a link: a package
// whose own name is a link is not saved, a "thumbnails" folder that is a link is neither read
// nor written but replaced by a folder of the package's own at a save.
//
// Save and load are synchronous; the caller chooses the thread. Errors of the file system
// (std::filesystem::filesystem_error) and of the document (ModelCodingError) are thrown
// unchanged.
class ProjectManager {
  public:
    // The bookmark service is borrowed and must outlive the manager.
    explicit ProjectManager(const platform::BookmarkService& bookmarks,
                            PackageFiles files = PackageFiles::standard());
    ProjectManager(const ProjectManager&) = delete;
    ProjectManager& operator=(const ProjectManager&) = delete;

    static ProjectManager& shared();

    // Writes the package and returns `package`. The project is taken by value: the caller's
    // copy keeps its thumbnails, waveforms and thumbnail file names. Only pictures the package
    // does not hold yet are written, then "data.json" is replaced atomically, then what it no
    // longer refers to is removed. A save that fails removes the pictures it wrote and leaves
    // the previous package as it was.
    //
    // Pictures that cannot be written (the "thumbnails" folder cannot be made, a picture meets
    // a full disk) do not fail the save: the document is written all the same, its slots
    // referring only to the pictures the folder holds, and why the pictures failed is put in
    // `picturesError` when given (left alone otherwise).
    std::filesystem::path save(ProjectData project, const std::filesystem::path& package,
                               std::error_code* picturesError = nullptr) const;

    // Reads the package: the document, each slot's file location from its bookmark (with
    // the security scope, else without) and each slot's thumbnail. Changes nothing on the
    // disk. The slot members read as their defaults (see
    // DefaultedSlotValue) are added to `defaulted` when given, and each is written to the
    // console.
    ProjectData load(const std::filesystem::path& package,
                     std::vector<DefaultedSlotValue>* defaulted = nullptr) const;

    // The kind of media a file holds, by its extension (the text after the last dot of the
    // last path component, in any letter case); none for other files.
    static std::optional<MediaType> mediaType(const std::filesystem::path& file);

    static constexpr std::array<std::string_view, 14> videoExtensions = {
        "mp4", "m4v", "mov",  "mxf", "m2ts", "mts", "ts",
        "m2t", "mpg", "mpeg", "m2v", "3gp",  "3g2", "dv"};
    static constexpr std::array<std::string_view, 10> imageExtensions = {
        "png", "jpg", "jpeg", "tiff", "tif", "heic", "heif", "bmp", "gif", "webp"};
    static constexpr std::array<std::string_view, 7> audioExtensions = {"wav", "mp3", "aiff", "aif",
                                                                        "m4a", "caf", "flac"};

    static constexpr const char* kDataFileName = "data.json";
    static constexpr const char* kThumbnailsFolderName = "thumbnails";
    // A thumbnail file larger than this is not read.
    static constexpr std::size_t kMaxThumbnailBytes = 16 * 1024 * 1024;

    // Whether a thumbnail name read from a document may be opened: a bare file name (no
    // folder part, not "." or "..").
    static bool isBareFileName(std::string_view name);

  private:
    const platform::BookmarkService& bookmarks_;
    PackageFiles files_;
};

}  // namespace kestio
