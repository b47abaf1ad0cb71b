#pragma once

// The disk half of the missing-media check: for each slot with a file reference, where its
// file is, whether it can be reached under its name, and whether a probed video changed on
// disk since it was probed. The slots are copied out of the project on the main thread
// (collectSlotFiles), examined on a worker (examineSlotFile touches the disk) and the findings
// are written back on the main thread.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "model/model_enums.h"
#include "model/project_data.h"
#include "model/reference_date.h"
#include "platform/storage/bookmark_service.h"

namespace kestio {

// Two modification dates differ when they are more than this many seconds apart.
inline constexpr double kModificationTolerance = 1.0;

// What the check needs of one slot, copied out of the project.
struct SlotFileReference {
    int bank = 0;
    int slot = 0;
    std::string name;
    std::optional<std::vector<std::uint8_t>> bookmarkData;
    std::optional<std::filesystem::path> videoURL;
    MediaType mediaType = MediaType::video;
    bool hasClipInfo = false;
    std::optional<ReferenceDate> sourceModifiedAt;
};

// Why a slot counts as missing.
enum class MissingKind {
    none,      // the file is there under the slot's name
    notFound,  // no location, or nothing at it
    renamed,   // found, but its name (without extension) is not the slot's name
    noAccess,  // found only without the security scope: it must be relinked
};

struct SlotFileFinding {
    int bank = 0;
    int slot = 0;
    std::optional<std::filesystem::path> url;  // the location obtained, if any
    MissingKind missing = MissingKind::none;
    // The file's content modification date, read for a probed video that can be reached.
    std::optional<ReferenceDate> fileDate;
    // The video changed on disk (its date by more than the tolerance, or it is not the file
    // its bookmark recorded at its path, or has another size) and is to be probed again.
    bool rescan = false;
    // The slot had no recorded date: `fileDate` (possibly none) is to be recorded.
    bool recordDate = false;
};

// Every slot with a file location or a bookmark, banks and slots in index order.
std::vector<SlotFileReference> collectSlotFiles(const ProjectData& project);

// Examines one slot on disk. Any thread.
SlotFileFinding examineSlotFile(const SlotFileReference& reference,
                                const platform::BookmarkService& bookmarks);

// Whether a file dated `fileDate` changed since it was probed at `recorded`.
bool modifiedSinceProbe(ReferenceDate fileDate, ReferenceDate recorded);

// A file's content modification date; none when it cannot be read.
std::optional<ReferenceDate> contentModificationDate(const std::filesystem::path& file);

}  // namespace kestio
