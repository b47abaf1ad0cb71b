#pragma once

// The context menu of a slot cell as a value: its entries, texts, enabled and checked states
// and the command each one gives, chosen from the cell's inputs.

#include <string>
#include <vector>

#include "grid/slot_cell_look.h"
#include "grid/slot_command.h"

namespace kestio::grid {

struct SlotMenuEntry {
    enum class Kind { action, separator, submenu };
    Kind kind = Kind::action;
    std::string text;
    bool enabled = true;
    bool destructive = false;
    bool checked = false;
    SlotCommand command;
    std::vector<SlotMenuEntry> children;  // for a submenu

    bool operator==(const SlotMenuEntry&) const = default;
};

// The dissolve times offered, in seconds.
inline constexpr double kDissolveTimes[] = {0.5, 1, 2, 3, 5};

// The menu for the cell: in MIDI learn mode only "Clear MIDI Assignment", in select mode
// nothing, under the edit lock only "Stand by at First Frame", else the full menu.
std::vector<SlotMenuEntry> slotMenu(const SlotCellInputs& inputs);

}  // namespace kestio::grid
