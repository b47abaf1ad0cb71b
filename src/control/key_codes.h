#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestio {

// Keys are stored and matched as hardware-independent key codes numbered by the positions
// of the US (ANSI) keyboard, with modifier flag bits; Linux key events are translated to them
// (key_event_info.h). Ctrl plays the role of the Command flag, Alt of Option, Super of
// Control.
namespace keycode {
inline constexpr std::uint16_t kReturn = 36;
inline constexpr std::uint16_t kTab = 48;
inline constexpr std::uint16_t kSpace = 49;
inline constexpr std::uint16_t kBackspace = 51;  // the key left of the digit row's end
inline constexpr std::uint16_t kEscape = 53;
inline constexpr std::uint16_t kKeypadEnter = 76;
inline constexpr std::uint16_t kF5 = 96;
inline constexpr std::uint16_t kDelete = 117;  // the forward-delete key
inline constexpr std::uint16_t kLeftArrow = 123;
inline constexpr std::uint16_t kRightArrow = 124;
inline constexpr std::uint16_t kDownArrow = 125;
inline constexpr std::uint16_t kUpArrow = 126;
}  // namespace keycode

namespace modifier {
inline constexpr std::uint64_t kShift = 0x20000;
inline constexpr std::uint64_t kControl = 0x40000;   // Super on Linux
inline constexpr std::uint64_t kOption = 0x80000;    // Alt on Linux
inline constexpr std::uint64_t kCommand = 0x100000;  // Ctrl on Linux
inline constexpr std::uint64_t kMask = 0x1E0000;     // the only significant bits
}  // namespace modifier

// The character of a key of the ANSI table (lower case as stored: "a", ";", "/", "`"), or
// none for keys outside it.
std::optional<std::string> keyCharacter(std::uint16_t keyCode);

// The name of a key as shown to the user: a named key ("Return", "Space", "F5", "←"), else
// its character in upper case, else "Key" and the code ("Key105").
std::string keyDisplayName(std::uint16_t keyCode);

// True for a key without modifiers that plays a slot or moves the cursor: the 40 slot keys
// (by their position on the ANSI table) and the four arrows.
bool isReservedKey(std::uint16_t keyCode, std::uint64_t modifiers);

// The slot index (row × 10 + column, 0-39) of a slot key's character: "1".."0", "q".."p",
// "a"..";", "z".."/".
std::optional<int> slotIndexForCharacter(std::string_view character);

// The bank index (0-9) of a digit key of the main keyboard, by position: 1..9, 0.
std::optional<int> bankIndexForKeyCode(std::uint16_t keyCode);

}  // namespace kestio
