#include "grid/selection_actions.h"

#include "show/show_controller.h"
#include "show/slot_edits.h"

namespace kestio::grid {

void SelectionActions::setSelectMode(bool on) {
    show_.isSelectMode = on;
    show_.selectedSlots = std::set<int>{};
}

int SelectionActions::slotCountOfCurrentBank() const {
    const auto& project = show_.project();
    const int bank = show_.currentBank.get();
    if (!addressesBank(project, bank)) {
        return 0;
    }
    return static_cast<int>(project.banks[static_cast<std::size_t>(bank)].slots.size());
}

void SelectionActions::toggleSelectAll() {
    const int n = slotCountOfCurrentBank();
    if (static_cast<int>(show_.selectedSlots.get().size()) == n) {
        show_.selectedSlots = std::set<int>{};
        return;
    }
    std::set<int> all;
    for (int i = 0; i < n; ++i) {
        all.insert(i);
    }
    show_.selectedSlots = std::move(all);
}

void SelectionActions::setPostRollForSelected(PostRollMode mode) {
    const auto selection = show_.selectedSlots.get();
    if (selection.empty()) {
        return;
    }
    const int bank = show_.currentBank.get();
    show_.editProject(
        [&](ProjectData& project) {
            for (int index : selection) {
                if (!addressesSlot(project, bank, index)) {
                    continue;
                }
                auto& slot = project.banks[static_cast<std::size_t>(bank)]
                                 .slots[static_cast<std::size_t>(index)];
                if (slot.videoURL) {
                    slot.postRollMode = mode;
                }
            }
        },
        true);
    setSelectMode(false);
}

void SelectionActions::copySelectedSlots() {
    const auto selection = show_.selectedSlots.get();  // a set: already in ascending order
    if (selection.empty()) {
        return;
    }
    const auto& project = show_.project();
    const int bank = show_.currentBank.get();
    std::vector<SlotData> copies;
    for (int index : selection) {
        if (addressesSlot(project, bank, index)) {
            copies.push_back(project.banks[static_cast<std::size_t>(bank)]
                                 .slots[static_cast<std::size_t>(index)]);
        }
    }
    show_.multiSlotClipboard = std::move(copies);
    show_.slotClipboard = std::nullopt;
    setSelectMode(false);
}

void SelectionActions::deleteSelectedSlots() {
    const auto selection = show_.selectedSlots.get();
    if (selection.empty()) {
        return;
    }
    const int bank = show_.currentBank.get();
    std::vector<int> emptied;
    for (int index : selection) {
        if (addressesSlot(show_.project(), bank, index) && !show_.isOnAir(bank, index)) {
            emptied.push_back(index);
        }
    }
    show_.editProject(
        [&](ProjectData& project) {
            for (int index : emptied) {
                clearSlot(project, bank, index);
            }
        },
        true);
    setSelectMode(false);
}

}  // namespace kestio::grid
