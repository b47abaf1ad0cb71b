#include "show/show_controller.h"

namespace kestio {

// TODO: remove a slot's clip.
void ShowController::deleteClip(int, int) {}

// TODO: hand the stored settings of the slot on air to the players again.
void ShowController::applySlotSettingsToActivePlayer(int, int) {}

// TODO: the rename dialog of a bank.
void ShowController::renameBank(int) {}

// TODO: the dialog of a slot's MIDI output note.
void ShowController::showMIDIOutputAssignDialog(int, int) {}

}  // namespace kestio
