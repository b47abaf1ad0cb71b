#include "grid/slot_cell_actions.h"

#include <functional>

#include "show/midi_routing.h"
#include "show/show_controller.h"
#include "show/show_playback.h"
#include "show/slot_edits.h"

namespace kestio::grid {

namespace {

// Runs `change` on the slot, when it exists, through the show's one route of a slot edit.
void editSlot(ShowController& show, int bank, int slot, bool marksUnsaved,
              const std::function<void(SlotData&)>& change) {
    if (show.editSlot(bank, slot, change) && marksUnsaved) {
        show.hasUnsavedChanges = true;
    }
}

}  // namespace

SlotCellActions::SlotCellActions(ShowController& show, platform::RunLoop& loop)
    : show_(show), loop_(loop), lifetime_(std::make_shared<SlotCellActions*>(this)) {}

void SlotCellActions::perform(int bank, int slot, const SlotCommand& command) {
    switch (command.kind) {
        case SlotCommandKind::play:
            click(bank, slot);
            break;
        case SlotCommandKind::assignMedia:
            show_.assignBank = bank;
            show_.assignSlot = slot;
            show_.showingFileImporter = true;
            break;
        case SlotCommandKind::unassign:
            show_.confirmUnassignBank = bank;
            show_.confirmUnassignSlot = slot;
            break;
        case SlotCommandKind::setPostRoll:
            setPostRoll(bank, slot, command.postRoll);
            break;
        case SlotCommandKind::standby:
            show_.standbySlot(bank, slot);
            break;
        case SlotCommandKind::copy:
            show_.slotClipboard = SlotLocation{bank, slot};
            break;
        case SlotCommandKind::paste:
            paste(bank, slot);
            break;
        case SlotCommandKind::replace:
            show_.replacingSource = SlotLocation{bank, slot};
            break;
        case SlotCommandKind::setTransition:
            editSlot(show_, bank, slot, true,
                     [&](SlotData& data) { data.transitionMode = command.transition; });
            break;
        case SlotCommandKind::setDissolveTime:
            editSlot(show_, bank, slot, true,
                     [&](SlotData& data) { data.dissolveDuration = command.seconds; });
            break;
        case SlotCommandKind::clearMIDIAssignment:
            editSlot(show_, bank, slot, true, [](SlotData& data) { data.midiBindings.reset(); });
            break;
        case SlotCommandKind::setMIDIOutput:
            show_.midiRouting().showMIDIOutputAssignDialog(bank, slot);
            break;
        case SlotCommandKind::clearMIDIOutput:
            editSlot(show_, bank, slot, true,
                     [](SlotData& data) { data.midiOutputBinding.reset(); });
            break;
    }
}

void SlotCellActions::click(int bank, int slot) {
    if (show_.isMIDILearnMode.get()) {
        show_.midiRouting().armMIDILearn(bank, slot);
        return;
    }
    if (show_.isSelectMode.get()) {
        auto selection = show_.selectedSlots.get();
        if (!selection.erase(slot)) {
            selection.insert(slot);
        }
        show_.selectedSlots = std::move(selection);
        return;
    }
    if (!show_.multiSlotClipboard.get().empty()) {
        pasteMultiSlotClipboard(bank, slot);
        return;
    }
    clickDefault(bank, slot);
}

void SlotCellActions::clickDefault(int bank, int slot) {
    if (!show_.isSettingJumpTarget.get()) {
        show_.currentBank = bank;
        show_.cursorSlot = slot;
    }
    if (show_.replacingSource.get()) {
        swapWithReplaceSource(bank, slot);
        return;
    }
    if (show_.isSettingJumpTarget.get()) {
        pickJumpTarget(bank, slot);
        return;
    }
    show_.playSlot(bank, slot);
}

void SlotCellActions::pasteMultiSlotClipboard(int bank, int slot) {
    const std::vector<SlotData> copies = show_.multiSlotClipboard.get();
    if (copies.empty()) {
        return;
    }
    show_.editProject(
        [&](ProjectData& project) {
            pasteSlots(project, bank, slot, copies,
                       [this](int b, int s) { return show_.isOnAir(b, s); });
        },
        false);
    show_.multiSlotClipboard = std::vector<SlotData>{};
}

void SlotCellActions::paste(int bank, int slot) {
    if (!show_.multiSlotClipboard.get().empty()) {
        pasteMultiSlotClipboard(bank, slot);
        return;
    }
    const auto source = show_.slotClipboard.get();
    if (!source) {
        return;
    }
    show_.editProject(
        [&](ProjectData& project) { pasteSlot(project, source->bank, source->slot, bank, slot); },
        false);
}

void SlotCellActions::swapWithReplaceSource(int bank, int slot) {
    const SlotLocation source = *show_.replacingSource.get();
    show_.editProject(
        [&](ProjectData& project) { swapSlots(project, source.bank, source.slot, bank, slot); },
        false);
    show_.replacingSource = std::nullopt;
    // On a later turn, so that the event that asked for the swap has finished; it reads the
    // project as it is then.
    std::weak_ptr<SlotCellActions*> alive = lifetime_;
    loop_.post([alive, source, bank, slot] {
        if (auto self = alive.lock()) {
            ShowController& show = (*self)->show_;
            show.applySlotSettingsToActivePlayer(source.bank, source.slot);
            show.applySlotSettingsToActivePlayer(bank, slot);
        }
    });
}

void SlotCellActions::pickJumpTarget(int bank, int slot) {
    const auto onAir = show_.playback().onAirOrOnItsWay();
    const auto sourceBank = show_.jumpSourceBank.get()
                                ? show_.jumpSourceBank.get()
                                : (onAir ? std::optional(onAir->bank) : std::nullopt);
    const auto sourceSlot = show_.jumpSourceSlot.get()
                                ? show_.jumpSourceSlot.get()
                                : (onAir ? std::optional(onAir->slot) : std::nullopt);
    if (!sourceBank || !sourceSlot) {
        show_.playSlot(bank, slot);  // nothing to pick a target for; the pick stays armed
        return;
    }
    editSlot(show_, *sourceBank, *sourceSlot, false, [&](SlotData& data) {
        data.jumpTarget = JumpTarget{bank, slot};
    });
    show_.isSettingJumpTarget = false;
    show_.jumpSourceBank = std::nullopt;
    show_.jumpSourceSlot = std::nullopt;
}

void SlotCellActions::setPostRoll(int bank, int slot, PostRollMode mode) {
    if (!addressesSlot(show_.project(), bank, slot)) {
        return;
    }
    editSlot(show_, bank, slot, true, [&](SlotData& data) { data.postRollMode = mode; });
    if (mode == PostRollMode::jump) {
        show_.isSettingJumpTarget = true;
        show_.jumpSourceBank = bank;
        show_.jumpSourceSlot = slot;
    } else if (show_.isSettingJumpTarget.get()) {
        show_.isSettingJumpTarget = false;
    }
    auto& playback = show_.playback();
    if (!show_.isOnAir(bank, slot)) {
        return;
    }
    if (playback.isLooping()) {
        if (mode != PostRollMode::loop) {
            playback.releaseLoop(mode);
        }
        return;
    }
    if (mode == PostRollMode::loop && playback.isShowingPlayerStopped()) {
        show_.playSlot(bank, slot);
    }
}

}  // namespace kestio::grid
