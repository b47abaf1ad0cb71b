#include "panels/panel_facade.h"

namespace kestio::panels {

std::optional<LoadedSlotRef> loadedSlot(PanelFacade& facade) {
    const auto onAir = facade.playback().onAirOrOnItsWay();
    if (!onAir || onAir->bank < 0 || onAir->slot < 0) {
        return std::nullopt;
    }
    const int bank = onAir->bank;
    const int slot = onAir->slot;
    const auto& banks = facade.project().banks;
    if (static_cast<std::size_t>(bank) >= banks.size()) {
        return std::nullopt;
    }
    const auto& slots = banks[static_cast<std::size_t>(bank)].slots;
    if (static_cast<std::size_t>(slot) >= slots.size()) {
        return std::nullopt;
    }
    return LoadedSlotRef{bank, slot, &slots[static_cast<std::size_t>(slot)]};
}

}  // namespace kestio::panels
