#pragma once

// MIDI routing and learn for the show: an incoming note fires the slot bound to it or
// runs the control action assigned to it ("bank:<n>", "play", "pause", "stop", "mute"); a
// control change sets the level or an equalizer band of the slot on air. In learn mode the next
// note is bound to the armed slot or control instead, taking the note away from whatever held
// it before.
//
// Owns: the MIDI input's callbacks, which hold its lifetime, so a note that comes after it is gone
// does nothing. The bindings and assignments are the project's; the learn state the views read
// (isMIDILearnMode, midiLearnArmedTarget) is the show's published state, handed over as cells
// to write. What a note does outside MIDI (play or select a slot, show a bank, stop) it asks
// through its actions.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "model/project_data.h"
#include "platform/runloop/published.h"
#include "show/midi_learn_target.h"
#include "show/show_context.h"

namespace kestio {

class MIDIInputController;
class MIDIListPanelController;

class MIDIRouting {
  public:
    // The learn state of the views, written by learning.
    struct LearnCells {
        platform::Published<bool>& isMIDILearnMode;
        platform::Published<std::optional<MIDILearnTarget>>& midiLearnArmedTarget;
    };
    // What notes and controls ask of the rest of the show.
    struct Actions {
        // A note bound to (bank, slot) came in (learn mode off).
        std::function<void(int bank, int slot)> slotNote;
        // The "bank:<n>" control: shows the bank when it is one of the project.
        std::function<void(int bank)> selectBank;
        // The "stop" control.
        std::function<void()> stop;
    };

    // `midiList` is the MIDI assignments panel's controller, when the application has one.
    MIDIRouting(ShowContext& show, MIDIInputController& midi, MIDIListPanelController* midiList,
                LearnCells learn, Actions actions)
        : show_(show),
          midi_(midi),
          midiList_(midiList),
          learn_(learn),
          actions_(std::move(actions)) {}
    MIDIRouting(const MIDIRouting&) = delete;
    MIDIRouting& operator=(const MIDIRouting&) = delete;

    // Points the MIDI input's note and control-change callbacks at the routing.
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

    ShowContext& show_;
    MIDIInputController& midi_;
    MIDIListPanelController* midiList_;
    LearnCells learn_;
    Actions actions_;
    std::shared_ptr<MIDIRouting*> alive_ = std::make_shared<MIDIRouting*>(this);
};

}  // namespace kestio
