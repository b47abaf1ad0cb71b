#pragma once

#include <cstdint>
#include <string>

namespace kestio {

// A key code (key_codes.h) with its modifier flag bits.
struct KeyBinding {
    std::uint16_t keyCode = 0;
    std::uint64_t modifierRawValue = 0;

    bool operator==(const KeyBinding&) const = default;

    // "Alt+Space", "Shift+Return", "Ctrl+Alt+F5": the modifiers by their Linux names, in
    // this order, then the key's name. Bits other than the four modifiers are ignored.
    std::string displayString() const { return displayString(keyCode, modifierRawValue); }
    static std::string displayString(std::uint16_t keyCode, std::uint64_t modifiers);
};

}  // namespace kestio
