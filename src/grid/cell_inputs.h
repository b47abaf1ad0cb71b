#pragma once

#include <optional>

#include "grid/slot_cell_look.h"

namespace kestio {
class ShowController;
}

namespace kestio::grid {

// The slot of the current bank that carries the jump-target flag: the jump target of the slot
// on air, when that slot's post-roll is Jump and its target lies in the current bank. Looked
// up once per redraw of the grid.
std::optional<int> jumpTargetSlot(ShowController& show);

// The inputs of the cell of (bank, slot) as the show state gives them. The thumbnail comes from
// the show's thumbnail store under the key "<bank>-<slot>": none while it is being decoded (the
// grid asks again when it lands). The slot must exist.
SlotCellInputs cellInputs(ShowController& show, int bank, int slot, bool isJumpTarget,
                          AppLanguage language);

}  // namespace kestio::grid
