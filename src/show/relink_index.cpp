#include "show/relink_index.h"

#include <algorithm>
#include <system_error>

#include "model/project_manager.h"
#include "show/media_check_text.h"

namespace kestio {

namespace fs = std::filesystem;

namespace {

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
            index.try_emplace(entry.path().stem().string(), entry.path());
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
            if (bank.slots[s].isFileMissing) {
                missing.push_back(
                    {static_cast<int>(b), static_cast<int>(s), bank.slots[s].name, bank.name});
            }
        }
    }
    return missing;
}

RelinkPlan planRelink(const std::vector<MissingSlot>& missing, const RelinkIndex& index,
                      const MakeBookmark& makeBookmark) {
    RelinkPlan plan;
    for (const MissingSlot& slot : missing) {
        const auto found = index.find(slot.name);
        std::optional<std::vector<std::uint8_t>> bookmark;
        if (found != index.end()) {
            bookmark = makeBookmark(found->second);
        }
        if (bookmark) {
            plan.matches.push_back(
                {slot.bank, slot.slot, slot.name, found->second, std::move(*bookmark)});
        } else {
            plan.notFound.push_back(listEntry(slot.bankName, slot.name));
        }
    }
    return plan;
}

}  // namespace kestio
