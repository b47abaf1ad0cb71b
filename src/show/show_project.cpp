#include "show/show_project.h"

#include <utility>

namespace kestio {

ShowProject::ShowProject(ProjectData project, platform::Published<std::uint64_t>& revision,
                         platform::Published<bool>& hasUnsavedChanges)
    : project_(std::move(project)), revision_(revision), hasUnsavedChanges_(hasUnsavedChanges) {}

SlotData* ShowProject::slotAt(int bank, int slot) {
    if (bank < 0 || slot < 0 || static_cast<std::size_t>(bank) >= project_.banks.size()) {
        return nullptr;
    }
    auto& slots = project_.banks[static_cast<std::size_t>(bank)].slots;
    if (static_cast<std::size_t>(slot) >= slots.size()) {
        return nullptr;
    }
    return &slots[static_cast<std::size_t>(slot)];
}

const SlotData* ShowProject::slotAt(int bank, int slot) const {
    return const_cast<ShowProject*>(this)->slotAt(bank, slot);
}

bool ShowProject::stillHolds(std::uint64_t generation, int bank, int slot,
                             const std::filesystem::path& url) const {
    if (generation != generation_) {
        return false;
    }
    const SlotData* record = slotAt(bank, slot);
    return record && record->videoURL && *record->videoURL == url;
}

void ShowProject::didChange() {
    revision_ = revision_.get() + 1;
}

void ShowProject::setUnsaved() {
    hasUnsavedChanges_ = true;
    didChange();
}

void ShowProject::markSaved() {
    hasUnsavedChanges_ = false;
}

void ShowProject::replace(ProjectData project) {
    project_ = std::move(project);
    ++generation_;
    didChange();
}

}  // namespace kestio
