#pragma once

namespace kestio {

// A bank index and a slot index, both from 0.
struct SlotLocation {
    int bank = 0;
    int slot = 0;
    bool operator==(const SlotLocation&) const = default;
    auto operator<=>(const SlotLocation&) const = default;
};

}  // namespace kestio
