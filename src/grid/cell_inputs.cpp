#include "grid/cell_inputs.h"

#include "show/show_controller.h"
#include "show/show_playback.h"
#include "show/slot_edits.h"

namespace kestio::grid {

std::optional<int> jumpTargetSlot(ShowController& show) {
    const auto onAirRef = show.playback().onAirOrOnItsWay();
    if (!onAirRef || !addressesSlot(show.project(), onAirRef->bank, onAirRef->slot)) {
        return std::nullopt;
    }
    const SlotData& onAir = show.project()
                                .banks[static_cast<std::size_t>(onAirRef->bank)]
                                .slots[static_cast<std::size_t>(onAirRef->slot)];
    if (onAir.postRollMode != PostRollMode::jump || !onAir.jumpTarget ||
        onAir.jumpTarget->bank != show.currentBank.get()) {
        return std::nullopt;
    }
    return static_cast<int>(onAir.jumpTarget->slot);
}

SlotCellInputs cellInputs(ShowController& show, int bank, int slot, bool isJumpTarget,
                          AppLanguage language) {
    const ProjectData& project = show.project();
    SlotCellInputs in;
    in.bank = bank;
    in.index = slot;
    in.globalNumber = bank * (project.rows * project.columns) + slot + 1;
    in.slot = project.banks[static_cast<std::size_t>(bank)].slots[static_cast<std::size_t>(slot)];
    in.isCurrent = show.isOnAir(bank, slot);
    in.isJumpHighlight = show.isSettingJumpTarget.get() || show.replacingSource.get().has_value();
    in.isJumpTarget = isJumpTarget;
    in.isReplaceMode = show.replacingSource.get().has_value();
    const bool selecting = show.isSelectMode.get();
    in.isSelected = selecting && show.selectedSlots.get().contains(slot);
    in.isCursor = !selecting && show.currentBank.get() == bank && show.cursorSlot.get() == slot;
    in.inSelectMode = selecting;
    in.editLocked = show.editLocked.get();
    in.language = language;
    in.hasClipboard =
        show.slotClipboard.get().has_value() || !show.multiSlotClipboard.get().empty();
    in.thumbnail = show.thumbnailStore().image(std::to_string(bank) + "-" + std::to_string(slot),
                                               in.slot.thumbnail);
    in.midiLearnHighlight = show.isMIDILearnMode.get();
    const auto& armed = show.midiLearnArmedTarget.get();
    in.isMIDIArmed = armed && armed->kind == MIDILearnTarget::Kind::slot &&
                     armed->location == SlotLocation{bank, slot};
    in.showMIDILabel = show.showMIDIAssignLabels.get();
    return in;
}

}  // namespace kestio::grid
