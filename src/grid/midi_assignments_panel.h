#pragma once

#include "model/settings_records.h"

namespace kestio {
class MIDIListPanelController;
class ShowController;
}  // namespace kestio

namespace kestio::grid {

// The "MIDI List" button's floating "MIDI Assignments" panel, and the operations its rows call
// on the show's project. Main thread only.
class MIDIAssignmentsPanel {
  public:
    MIDIAssignmentsPanel(ShowController& show, MIDIListPanelController& panels)
        : show_(show), panels_(panels) {}

    // Hides the panel when it is shown; otherwise rebuilds the list from the current project,
    // installs the five row operations and shows a new panel window (460 × 560, centred,
    // floating above the application's windows).
    void toggle();

    // Removes every equal binding from the slot's input list (an absent list stays absent, an
    // emptied one stays an empty list); marks the project unsaved even when none was there.
    void clearSlotMIDIBinding(int bank, int slot, const MIDINoteBinding& binding);
    // Removes the slot's output note and marks the project unsaved.
    void clearSlotMIDIOutput(int bank, int slot);

    static constexpr int kWidth = 460;
    static constexpr int kHeight = 560;

  private:
    ShowController& show_;
    MIDIListPanelController& panels_;
};

}  // namespace kestio::grid
