#pragma once

#include <string>
#include <utility>

#include "show/slot_location.h"

namespace kestio {

// What MIDI learn is armed for: a slot's input bindings or a control target text ("bank:<n>",
// "play", "pause", "stop", "mute").
struct MIDILearnTarget {
    enum class Kind { slot, control };
    Kind kind = Kind::slot;
    SlotLocation location;  // for Kind::slot
    std::string control;    // for Kind::control

    static MIDILearnTarget forSlot(int bank, int slot) { return {Kind::slot, {bank, slot}, {}}; }
    static MIDILearnTarget forControl(std::string target) {
        return {Kind::control, {}, std::move(target)};
    }
    bool operator==(const MIDILearnTarget&) const = default;
};

}  // namespace kestio
