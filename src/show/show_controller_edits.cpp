// Slot and bank edits of the show controller: removing a slot's clip, the one route of a slot
// edit made by the views (which hands what changed on the slot on air to the players), handing
// the stored settings of the slot on air to the players again and renaming a bank.

#include <functional>
#include <optional>
#include <string>

#include "model/localization_manager.h"
#include "platform/ui/dialog_presenter.h"
#include "show/show_controller.h"
#include "show/show_playback.h"
#include "show/slot_edits.h"

namespace kestio {

void ShowController::deleteClip(int bank, int slot) {
    const SlotData* current = project_.slotAt(bank, slot);
    if (current == nullptr) {
        return;
    }
    project_.setUnsaved();
    playback_.log("クリップ削除: BANK" + std::to_string(bank + 1) + " SLOT" +
                  std::to_string(slot + 1) + " " + current->name);
    // Replaced even while it is on air: playback goes on with what it has loaded.
    clearSlot(project_.data(), bank, slot);
    project_.didChange();
}

bool ShowController::editSlot(int bank, int slot, const std::function<void(SlotData&)>& edit) {
    SlotData* target = project_.slotAt(bank, slot);
    if (target == nullptr) {
        return false;
    }
    std::optional<SlotData> before;
    if (isOnAir(bank, slot)) {
        before = *target;
    }
    edit(*target);
    project_.didChange();
    if (before) {
        pushOnAirSettings(bank, slot, before);
    }
    return true;
}

void ShowController::applySlotSettingsToActivePlayer(int bank, int slot) {
    pushOnAirSettings(bank, slot, std::nullopt);
}

void ShowController::pushOnAirSettings(int bank, int slot, const std::optional<SlotData>& before) {
    if (!isOnAir(bank, slot)) {
        return;
    }
    const SlotData* data = project_.slotAt(bank, slot);
    if (data == nullptr) {
        return;
    }
    // Copies: each call may lead to work that changes the project.
    const double rate = data->playRate;
    const GeometrySettings geometry = data->geometry;
    const AudioSettings audio = data->audioSettings;
    const EqualizerSettings equalizer = data->equalizer;
    const ColorSettings color = data->colorSettings;
    const std::optional<double> outPoint = data->outPoint;
    // A whole record handed again (before is none) leaves the rate alone, as it always has:
    // the player keeps the rate it started with until the rate itself is edited.
    if (before && before->playRate != rate) {
        playback_.setPlaybackRate(rate);
    }
    if (!before || before->geometry != geometry) {
        playback_.updateGeometry(geometry);
    }
    if (!before || before->audioSettings.isMuted != audio.isMuted ||
        before->audioSettings.masterLevel != audio.masterLevel) {
        playback_.applySlotVolume(audio.isMuted, audio.masterLevel);
    }
    // An out point set on air ends the clip there at once, not at the next look of its clock.
    if (before && before->outPoint != outPoint) {
        playback_.applyOutPoint(outPoint);
    }
    if (!before || before->equalizer != equalizer) {
        playback_.applyEqualizerToShowingSlot(equalizer);
    }
    if (!before || before->colorSettings != color) {
        playback_.applyColorSettings(color);
    }
}

void ShowController::renameBank(int bank) {
    if (!addressesBank(project_.data(), bank)) {
        return;
    }
    const std::uint64_t generation = project_.generation();
    const auto name =
        dialogs_.promptText(L("バンク名を変更", "Rename Bank"),
                            project_.data().banks[static_cast<std::size_t>(bank)].name, "OK",
                            L("キャンセル", "Cancel"));
    // The dialog is modal but runs a nested event loop: the project may have been replaced
    // or reshaped meanwhile, and then the answer belongs to a bank that is gone.
    if (!name || generation != project_.generation() ||
        !renameBankIn(project_.data(), bank, *name)) {
        return;
    }
    project_.setUnsaved();
    project_.didChange();
}

}  // namespace kestio
