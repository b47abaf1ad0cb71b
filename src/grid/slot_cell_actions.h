#pragma once

#include <memory>

#include "grid/slot_command.h"
#include "platform/runloop/run_loop.h"

namespace kestio {
class ShowController;
}

namespace kestio::grid {

// What the show controller does when a cell is clicked or one of its menu entries is chosen.
// Every change goes through the show controller: its show state and its project. Edits of a
// slot that the project no longer has (a stale clipboard or replace source after another
// project was opened) change nothing. Main thread only.
class SlotCellActions {
  public:
    SlotCellActions(ShowController& show, platform::RunLoop& loop);
    SlotCellActions(const SlotCellActions&) = delete;
    SlotCellActions& operator=(const SlotCellActions&) = delete;

    void perform(int bank, int slot, const SlotCommand& command);

    // A click, first case that applies: MIDI learn arms the slot; select mode toggles it; a
    // filled multi-slot clipboard pastes here; else (unless a jump target is being picked) the
    // bank and cursor move here, then a pending replace swaps, a jump pick sets the target, or
    // the slot plays.
    void click(int bank, int slot);
    void pasteMultiSlotClipboard(int bank, int slot);
    void paste(int bank, int slot);
    void setPostRoll(int bank, int slot, PostRollMode mode);

  private:
    void clickDefault(int bank, int slot);
    void swapWithReplaceSource(int bank, int slot);
    void pickJumpTarget(int bank, int slot);

    ShowController& show_;
    platform::RunLoop& loop_;
    std::shared_ptr<SlotCellActions*> lifetime_;
};

}  // namespace kestio::grid
