#include "control/keyboard_shortcut_handler.h"
#include "model/localization_manager.h"
#include "platform/ui/dialog_presenter.h"
#include "show/project_io.h"
#include "show/show_controller.h"
#include "show/show_playback.h"

namespace kestio {

// The grid's size is read from the project at each key, not once at installation, so a project
// opened later with another grid is served as it is.
void ShowController::setupKeyboardShortcuts() {
    std::weak_ptr<ShowController*> alive = lifetime_;
    auto with = [alive](auto action) {
        return [alive, action](auto... args) {
            if (auto self = alive.lock()) {
                action(**self, args...);
            }
        };
    };
    keyboard_.onPlaySlot = with([](ShowController& show, int slot) { show.keyPlaySlot(slot); });
    keyboard_.onMoveCursor = with([](ShowController& show, int rowDelta, int columnDelta) {
        show.moveCursor(rowDelta, columnDelta);
    });
    keyboard_.onEnter = with([](ShowController& show) { show.enterCursorSlot(); });
    keyboard_.onStandby = with([](ShowController& show) { show.standbyCursorSlot(); });
    keyboard_.onSave = with([](ShowController& show) { show.projectIO().saveProject(); });
    keyboard_.onSelectBank = with([](ShowController& show, int bank) { show.selectBank(bank); });
    keyboard_.onCutGo = with([](ShowController& show) { show.cutGo(); });
    keyboard_.onPause = with([](ShowController& show) { show.pausePlayback(); });
    keyboard_.onStop = with([](ShowController& show) { show.stopPlayback(); });
}

void ShowController::toggleSelected(int slot) {
    auto selection = selectedSlots.get();
    if (!selection.erase(slot)) {
        selection.insert(slot);
    }
    selectedSlots = std::move(selection);
}

void ShowController::slotNote(int bank, int slot) {
    if (!isSelectMode.get()) {
        if (bank != currentBank.get()) {
            currentBank = bank;
        }
        cursorSlot = slot;
        playSlot(bank, slot);
    } else if (bank == currentBank.get()) {
        cursorSlot = slot;
        toggleSelected(slot);
    }
}

void ShowController::keyPlaySlot(int slotIndex) {
    const auto slotsPerBank = project_.data().rows * project_.data().columns;
    if (slotIndex < 0 || slotIndex >= slotsPerBank) {
        return;
    }
    cursorSlot = slotIndex;
    if (isSelectMode.get()) {
        toggleSelected(slotIndex);
    } else {
        playSlot(currentBank.get(), slotIndex);
    }
}

void ShowController::moveCursor(int rowDelta, int columnDelta) {
    const auto rows = project_.data().rows;
    const auto columns = project_.data().columns;
    if (rows < 1 || columns < 1) {
        return;
    }
    const std::int64_t cursor = cursorSlot.get();
    const std::int64_t row = std::clamp<std::int64_t>(cursor / columns + rowDelta, 0, rows - 1);
    const std::int64_t column = ((cursor % columns + columnDelta) % columns + columns) % columns;
    cursorSlot = static_cast<int>(row * columns + column);
}

void ShowController::enterCursorSlot() {
    if (isSelectMode.get()) {
        toggleSelected(cursorSlot.get());
    } else {
        playSlot(currentBank.get(), cursorSlot.get());
    }
}

void ShowController::standbyCursorSlot() {
    standbySlot(currentBank.get(), cursorSlot.get());
}

void ShowController::selectBank(int bankIndex) {
    if (bankIndex >= 0 && static_cast<std::size_t>(bankIndex) < project_.data().banks.size()) {
        currentBank = bankIndex;
    }
}

void ShowController::pausePlayback() {
    playback_.pause();
}

void ShowController::stopPlayback() {
    if (playback_.onAirOrOnItsWay()) {
        playback_.handlePostRoll(PostRollMode::black);
    }
}

void ShowController::cutGo() {
    const int bank = currentBank.get();
    const int cursor = cursorSlot.get();
    const SlotData* current = project_.slotAt(bank, cursor);
    if (!current) {
        return;
    }
    if (followJump.get() && current->postRollMode == PostRollMode::jump && current->jumpTarget) {
        const auto target = *current->jumpTarget;
        const bool inRange =
            target.bank >= 0 &&
            target.bank < static_cast<std::int64_t>(project_.data().banks.size()) &&
            target.slot >= 0 &&
            target.slot <
                static_cast<std::int64_t>(
                    project_.data().banks[static_cast<std::size_t>(target.bank)].slots.size());
        if (inRange) {
            const int targetBank = static_cast<int>(target.bank);
            const int targetSlot = static_cast<int>(target.slot);
            currentBank = targetBank;
            cursorSlot = targetSlot;
            if (!project_.slotAt(targetBank, targetSlot)->videoURL) {
                playback_.handlePostRoll(PostRollMode::black);
            } else {
                playSlot(targetBank, targetSlot);
            }
            return;
        }
    }
    const std::int64_t slotsPerBank = project_.data().rows * project_.data().columns;
    if (cursor + 1 <= slotsPerBank - 1) {
        cursorSlot = cursor + 1;
    } else if (bank < static_cast<int>(project_.data().banks.size()) - 1) {
        currentBank = bank + 1;
        cursorSlot = 0;
    }
    const SlotData* next = project_.slotAt(currentBank.get(), cursorSlot.get());
    if (!next || !next->videoURL) {
        playback_.handlePostRoll(PostRollMode::black);
    } else {
        playSlot(currentBank.get(), cursorSlot.get());
    }
}

void ShowController::showHelpWindow() {
    dialogs_.toggleHelpPanel(L("ヘルプ", "Help"),
                             std::string(LocalizationManager::shared().helpText()));
}

}  // namespace kestio
