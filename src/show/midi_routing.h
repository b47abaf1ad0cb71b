#pragma once

// MIDI routing and learn for the show controller: an incoming note fires the slot bound to it or
// runs the control action assigned to it ("bank:<n>", "play", "pause", "stop", "mute"); a
// control change sets the level or an equalizer band of the slot on air. In learn mode the next
// note is bound to the armed slot or control instead, taking the note away from whatever held
// it before.
//
// Owns: nothing of its own beyond its calls. The bindings and assignments are the project's,
// the learn state the views read (isMIDILearnMode, midiLearnArmedTarget) is the controller's
// published state, and the MIDI input's callbacks hold the controller's lifetime, so a note that
// comes after the controller is gone does nothing.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "model/project_data.h"

namespace kestio {

class ShowController;

class MIDIRouting {
  public:
    explicit MIDIRouting(ShowController& show) : show_(show) {}
    MIDIRouting(const MIDIRouting&) = delete;
    MIDIRouting& operator=(const MIDIRouting&) = delete;

    // Points the MIDI input's note and control-change callbacks at the controller.
    void setupMIDIInput();
    void handleMIDINoteOn(std::uint8_t status, std::uint8_t note, std::uint8_t velocity);
    void performMIDIControlAction(const std::string& target);
    void handleMIDIControlChange(std::uint8_t channel, std::uint8_t controller, std::uint8_t value);
    void toggleMIDILearnMode();
    void armMIDILearn(int bank, int slot);
    void armMIDILearn(const std::string& control);
    void learnSlotBinding(int rawChannel, int note, int bank, int slot);
    void learnControlAssignment(int rawChannel, int note, const std::string& target);
    void removeMIDIBinding(std::int64_t channel, std::int64_t note);
    std::vector<MIDIControlAssignment> controlAssignments(const std::string& target) const;
    std::optional<MIDIControlAssignment> firstControlAssignment(const std::string& target) const;
    void clearControlAssignment(const std::string& target);
    void deduplicateMIDIAssignments();
    // Asks for the MIDI channel and note the slot sends when it plays, and stores the answer
    // (nothing when cancelled, or when the project was replaced meanwhile).
    void showMIDIOutputAssignDialog(int bank, int slot);
    // Refreshes the MIDI assignments panel when it is shown.
    void refreshVisibleMIDIList();

  private:
    void disarmMIDILearn();

    ShowController& show_;
};

}  // namespace kestio
