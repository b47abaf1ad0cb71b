#pragma once

#include <functional>
#include <optional>

#include "model/slot_data.h"

namespace kestio::panels {

class PanelFacade;

// The slot a panel's value controls edit: the one loaded in the player when the panel last
// refreshed. Between refreshes it stays on that slot, so a value typed or dragged lands on the
// slot it was begun on.
class EditTarget {
  public:
    explicit EditTarget(PanelFacade& facade) : facade_(facade) {}

    // Aims at the slot loaded now (at none when nothing is). When that is another slot than
    // before, `leaving` runs first, while still aimed at the old one.
    void retarget(const std::function<void()>& leaving);

    // The slot aimed at; null when none, or when the project no longer holds it.
    const SlotData* slot() const;
    // Runs `edit` on the slot aimed at; false, writing nothing, when there is none or the project
    // no longer holds it.
    bool write(const std::function<void(SlotData&)>& edit) const;

  private:
    struct Indices {
        int bank = 0;
        int slot = 0;
        bool operator==(const Indices&) const = default;
    };

    PanelFacade& facade_;
    std::optional<Indices> aimed_;
};

}  // namespace kestio::panels
