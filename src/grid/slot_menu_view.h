#pragma once

#include <functional>
#include <vector>

#include "grid/slot_menu_model.h"

class QMenu;

namespace kestio::grid {

// Fills a Qt menu with the entries: dividers as separators, submenus as submenus, a check mark
// after a checked entry's text; destructive entries carry the property "destructive".
// Choosing an entry calls `chosen` with its command.
void fillSlotMenu(QMenu& menu, const std::vector<SlotMenuEntry>& entries,
                  const std::function<void(const SlotCommand&)>& chosen);

}  // namespace kestio::grid
