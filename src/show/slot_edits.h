#pragma once

// Edits of slots and banks on a project value. Every function takes bank and slot indices
// counted from 0, checks them against the project it is given and changes nothing when they
// do not address an existing bank or slot (a stale panel row or clipboard may name a slot of
// a project that is no longer open).

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/project_data.h"

namespace kestio {

// Whether (bank, slot) addresses a slot of the project.
bool addressesSlot(const ProjectData& project, int bank, int slot);
// Whether `bank` addresses a bank of the project.
bool addressesBank(const ProjectData& project, int bank);

// The slot's show-wide number, bank × (rows × columns) + slot + 1, formatted "%03d".
std::string globalSlotNumber(const ProjectData& project, int bank, int slot);

// A slot at its default value, named by its show-wide number.
SlotData freshSlot(const ProjectData& project, int bank, int slot);

// Replaces the slot by a fresh one. Returns false (and changes nothing) out of range.
bool clearSlot(ProjectData& project, int bank, int slot);

// Stores a copy of slot `from` at `to`, without MIDI input bindings (the output note is kept).
bool pasteSlot(ProjectData& project, int fromBank, int fromSlot, int toBank, int toSlot);

// Stores the copies in consecutive slots of `bank` from `start` on, each without MIDI input
// bindings; a slot for which `isOnAir` answers true is left unchanged and its entry is pasted
// nowhere, and entries beyond the bank's last slot are dropped. Returns how many were stored.
template <typename OnAir>
int pasteSlots(ProjectData& project, int bank, int start, const std::vector<SlotData>& copies,
               OnAir isOnAir) {
    int stored = 0;
    if (!addressesBank(project, bank) || start < 0) {
        return 0;
    }
    auto& slots = project.banks[static_cast<std::size_t>(bank)].slots;
    for (std::size_t k = 0; k < copies.size(); ++k) {
        const std::size_t target = static_cast<std::size_t>(start) + k;
        if (target >= slots.size()) {
            break;
        }
        if (isOnAir(bank, static_cast<int>(target))) {
            continue;
        }
        slots[target] = copies[k];
        slots[target].midiBindings.reset();
        ++stored;
    }
    return stored;
}

// Exchanges the whole contents of two slots, MIDI bindings included.
bool swapSlots(ProjectData& project, int bankA, int slotA, int bankB, int slotB);

// Stores the bank's name as given (an empty name too).
bool renameBankIn(ProjectData& project, int bank, std::string name);

// A number typed into a MIDI field: a decimal integer with an optional leading "+" or "-" and
// nothing else (no spaces, no exponent); an empty, unparsable or out-of-range text gives
// `fallback`. The value is then clamped into [low, high].
int parseMidiField(std::string_view text, int fallback, int low, int high);

// The output note of the MIDI output dialog's two fields: channel 1 to 16 (1 when unreadable),
// note 0 to 127 (60 when unreadable).
MIDINoteBinding midiOutputFromFields(std::string_view channelText, std::string_view noteText);

// The initial field values of the MIDI output dialog: the slot's binding, else channel 1 and
// note 60.
MIDINoteBinding midiOutputDialogStart(const std::optional<MIDINoteBinding>& binding);

}  // namespace kestio
