#include "show/media_file_check.h"

#include <sys/stat.h>

#include <cmath>
#include <system_error>

namespace kestio {

namespace fs = std::filesystem;
using platform::BookmarkOption;

std::vector<SlotFileReference> collectSlotFiles(const ProjectData& project) {
    std::vector<SlotFileReference> references;
    for (std::size_t b = 0; b < project.banks.size(); ++b) {
        const auto& slots = project.banks[b].slots;
        for (std::size_t s = 0; s < slots.size(); ++s) {
            const SlotData& slot = slots[s];
            if (!slot.videoURL && !slot.bookmarkData) {
                continue;
            }
            SlotFileReference reference;
            reference.bank = static_cast<int>(b);
            reference.slot = static_cast<int>(s);
            reference.name = slot.name;
            reference.bookmarkData = slot.bookmarkData;
            reference.videoURL = slot.videoURL;
            reference.mediaType = slot.mediaType;
            reference.hasClipInfo = slot.clipInfo.has_value();
            if (slot.clipInfo) {
                reference.sourceModifiedAt = slot.clipInfo->sourceModifiedAt;
            }
            references.push_back(std::move(reference));
        }
    }
    return references;
}

bool modifiedSinceProbe(ReferenceDate fileDate, ReferenceDate recorded) {
    return std::fabs(fileDate - recorded) > kModificationTolerance;
}

std::optional<ReferenceDate> contentModificationDate(const fs::path& file) {
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0) {
        return std::nullopt;
    }
    const double unixSeconds =
        static_cast<double>(info.st_mtim.tv_sec) + static_cast<double>(info.st_mtim.tv_nsec) / 1e9;
    return referenceDateFromUnixSeconds(unixSeconds);
}

SlotFileFinding examineSlotFile(const SlotFileReference& reference,
                                const platform::BookmarkService& bookmarks) {
    SlotFileFinding finding;
    finding.bank = reference.bank;
    finding.slot = reference.slot;

    bool withoutAccess = false;
    bool replaced = false;
    if (reference.bookmarkData) {
        try {
            const auto resolved = bookmarks.resolveBookmarkData(*reference.bookmarkData,
                                                                BookmarkOption::withSecurityScope);
            finding.url = resolved.path;
            replaced = resolved.isReplaced;
        } catch (const platform::BookmarkError&) {
            try {
                finding.url =
                    bookmarks.resolveBookmarkData(*reference.bookmarkData, BookmarkOption::none)
                        .path;
            } catch (const platform::BookmarkError&) {
                finding.url = reference.videoURL;
            }
            withoutAccess = finding.url.has_value();
        }
    } else {
        finding.url = reference.videoURL;
    }

    bool exists = false;
    if (finding.url) {
        const bool started = bookmarks.startAccessingSecurityScopedResource(*finding.url);
        std::error_code error;
        exists = fs::exists(*finding.url, error);
        if (started) {
            bookmarks.stopAccessingSecurityScopedResource(*finding.url);
        }
    }
    const bool nameMatches =
        !reference.bookmarkData || !finding.url || finding.url->stem().string() == reference.name;

    if (!exists) {
        finding.missing = MissingKind::notFound;
    } else if (reference.bookmarkData && !nameMatches) {
        finding.missing = MissingKind::renamed;
    } else if (reference.bookmarkData && withoutAccess) {
        finding.missing = MissingKind::noAccess;
    }

    // A renamed file is still looked at for changes; one reached without access is not.
    if (!withoutAccess && exists && reference.mediaType == MediaType::video &&
        reference.hasClipInfo) {
        finding.fileDate = contentModificationDate(*finding.url);
        if (finding.fileDate && reference.sourceModifiedAt) {
            finding.rescan = modifiedSinceProbe(*finding.fileDate, *reference.sourceModifiedAt);
        }
        // Another render copied over the file within the date's tolerance, or with its date
        // kept, still differs from what the bookmark recorded.
        finding.rescan = finding.rescan || replaced;
        finding.recordDate = !reference.sourceModifiedAt.has_value();
    }
    return finding;
}

}  // namespace kestio
