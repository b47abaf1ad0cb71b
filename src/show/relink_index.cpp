#include "show/relink_index.h"

#include <algorithm>
#include <cctype>
#include <system_error>

#include "model/project_manager.h"
#include "platform/storage/bookmark_service.h"
#include "show/media_check_text.h"

namespace kestio {

namespace fs = std::filesystem;

namespace {

std::string lowercaseExtension(const fs::path& file) {
    std::string extension = file.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension;
}

bool hidden(const fs::path& entry) {
    const std::string name = entry.filename().string();
    return !name.empty() && name.front() == '.';
}

void indexFolder(const fs::path& folder, RelinkIndex& index) {
    std::error_code error;
    std::vector<fs::directory_entry> entries;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        entries.push_back(*it);
    }
    std::sort(entries.begin(), entries.end(),
              [](const auto& a, const auto& b) { return a.path() < b.path(); });
    for (const auto& entry : entries) {
        if (hidden(entry.path())) {
            continue;
        }
        std::error_code statusError;
        const fs::file_status status = entry.symlink_status(statusError);
        if (statusError) {
            continue;
        }
        if (fs::is_directory(status)) {
            indexFolder(entry.path(), index);
        } else if (fs::is_regular_file(status) && ProjectManager::mediaType(entry.path())) {
            index[entry.path().stem().string()].push_back(entry.path());
        }
    }
}

}  // namespace

RelinkIndex buildRelinkIndex(const fs::path& folder) {
    RelinkIndex index;
    indexFolder(folder, index);
    return index;
}

std::vector<MissingSlot> collectMissingSlots(const ProjectData& project) {
    std::vector<MissingSlot> missing;
    for (std::size_t b = 0; b < project.banks.size(); ++b) {
        const BankData& bank = project.banks[b];
        for (std::size_t s = 0; s < bank.slots.size(); ++s) {
            const SlotData& data = bank.slots[s];
            if (!data.isFileMissing) {
                continue;
            }
            std::optional<fs::path> file = data.videoURL;
            if (!file && data.bookmarkData) {
                file = platform::BookmarkService::recordedPath(*data.bookmarkData);
            }
            missing.push_back({static_cast<int>(b), static_cast<int>(s), data.name, bank.name,
                               file ? lowercaseExtension(*file) : std::string()});
        }
    }
    return missing;
}

RelinkPlan planRelink(const std::vector<MissingSlot>& missing, const RelinkIndex& index,
                      const MakeBookmark& makeBookmark) {
    RelinkPlan plan;
    for (const MissingSlot& slot : missing) {
        const auto found = index.find(slot.name);
        std::optional<fs::path> file;
        if (found != index.end() && !found->second.empty()) {
            const auto& files = found->second;
            const auto own = std::find_if(files.begin(), files.end(), [&](const fs::path& f) {
                return !slot.extension.empty() && lowercaseExtension(f) == slot.extension;
            });
            file = own != files.end() ? *own : files.front();
        }
        std::optional<std::vector<std::uint8_t>> bookmark;
        if (file) {
            bookmark = makeBookmark(*file);
        }
        if (bookmark) {
            const bool otherFormat =
                slot.extension.empty() || lowercaseExtension(*file) != slot.extension;
            plan.matches.push_back(
                {slot.bank, slot.slot, slot.name, *file, std::move(*bookmark), otherFormat});
        } else {
            plan.notFound.push_back(listEntry(slot.bankName, slot.name));
        }
    }
    return plan;
}

}  // namespace kestio
