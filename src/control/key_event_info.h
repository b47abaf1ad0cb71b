#pragma once

#include <QKeyEvent>
#include <cstdint>
#include <optional>
#include <string>

namespace kestio {

// A key press as the shortcut logic sees it: the key's code (key_codes.h) by its physical
// position, the significant modifier flags, and the character the layout gives for the key
// without modifiers, in lower case.
struct KeyEventInfo {
    std::optional<std::uint16_t> keyCode;  // none for keys without a code
    std::uint64_t modifierFlags = 0;       // only bits of modifier::kMask
    std::string characters;                // "" when the key gives no character
    bool isModifierOnly = false;           // Shift, Ctrl, Alt, Super, Caps Lock alone
    bool isAutoRepeat = false;             // sent again by the keyboard for a held key
};

// Translates a Qt key event. The key code comes from the native scan code when the platform
// gives one (X11 and Wayland give evdev code + 8), else from the Qt key through a US-layout
// table. Ctrl sets the Command flag, Alt the Option flag, Super the Control flag.
KeyEventInfo translateKeyEvent(const QKeyEvent& event);

// The key code of an X11/Wayland scan code (evdev code + 8), or none.
std::optional<std::uint16_t> keyCodeForScanCode(std::uint32_t nativeScanCode);
// The key code of a Qt key on a US layout (shifted symbols give their base key), or none.
std::optional<std::uint16_t> keyCodeForQtKey(int key, Qt::KeyboardModifiers modifiers);
// The significant flags of Qt modifiers.
std::uint64_t modifierFlagsFor(Qt::KeyboardModifiers modifiers);

}  // namespace kestio
