#pragma once

#include <optional>

namespace kestio::ui {

// The slot loaded in the player as the panels see it: loaded only when both the bank and the
// slot index are present; each index 0 when absent.
struct LoadedSlot {
    bool loaded = false;
    int bank = 0;
    int slot = 0;

    friend bool operator==(const LoadedSlot&, const LoadedSlot&) = default;
};

constexpr LoadedSlot loadedSlot(std::optional<int> bankIndex, std::optional<int> slotIndex) {
    return LoadedSlot{bankIndex.has_value() && slotIndex.has_value(), bankIndex.value_or(0),
                      slotIndex.value_or(0)};
}

}  // namespace kestio::ui
