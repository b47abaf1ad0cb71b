#pragma once

#include "model/model_enums.h"

namespace kestio::grid {

// What the operator asks of one cell: a click, or one entry of its context menu.
enum class SlotCommandKind {
    play,                 // a click on the cell
    assignMedia,          // "Load Media"
    unassign,             // "Delete Clip"
    setPostRoll,          // a Post-Roll entry
    standby,              // "Stand by at First Frame"
    copy,                 // "Copy"
    paste,                // "Paste"
    replace,              // "Replace"
    setTransition,        // "Cut" or "Dissolve"
    setDissolveTime,      // a dissolve time
    clearMIDIAssignment,  // "Clear MIDI Assignment" (learn mode)
    setMIDIOutput,        // "MIDI Output Assign..." or the change entry
    clearMIDIOutput,      // "Clear MIDI Output Assignment"
};

// A command with the value its entry carries (the post-roll, the transition or the seconds).
struct SlotCommand {
    SlotCommandKind kind = SlotCommandKind::play;
    PostRollMode postRoll = PostRollMode::freeze;
    TransitionMode transition = TransitionMode::cut;
    double seconds = 0;

    bool operator==(const SlotCommand&) const = default;
};

}  // namespace kestio::grid
