#pragma once

#include "model/model_enums.h"

namespace kestio {
class ShowController;
}

namespace kestio::grid {

// Multiple selection and its batch actions. The selection holds slot indices of no bank in
// particular: each action applies them to the bank current when it runs and skips indices that
// bank lacks. Entering or leaving select mode always empties the selection; a batch action
// that did something leaves select mode, one with nothing selected changes nothing.
class SelectionActions {
  public:
    explicit SelectionActions(ShowController& show) : show_(show) {}

    void setSelectMode(bool on);
    // Selects every slot of the current bank, or none when as many as it has are selected.
    void toggleSelectAll();
    // Next GO or Freeze for every selected slot that holds media.
    void setPostRollForSelected(PostRollMode mode);
    // Copies the selected slots, in index order, to the multi-slot clipboard.
    void copySelectedSlots();
    // Empties every selected slot except the one on air.
    void deleteSelectedSlots();

  private:
    int slotCountOfCurrentBank() const;

    ShowController& show_;
};

}  // namespace kestio::grid
