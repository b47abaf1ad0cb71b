#include "control/key_binding.h"

#include "control/key_codes.h"

namespace kestio {

std::string KeyBinding::displayString(std::uint16_t keyCode, std::uint64_t modifiers) {
    std::string text;
    if (modifiers & modifier::kCommand) {
        text += "Ctrl+";
    }
    if (modifiers & modifier::kOption) {
        text += "Alt+";
    }
    if (modifiers & modifier::kShift) {
        text += "Shift+";
    }
    if (modifiers & modifier::kControl) {
        text += "Super+";
    }
    return text + keyDisplayName(keyCode);
}

}  // namespace kestio
