#include "control/key_codes.h"

#include <array>
#include <map>

namespace kestio {

namespace {

// Key code → character for the ANSI positions (47 keys).
const std::map<std::uint16_t, char>& characterTable() {
    static const std::map<std::uint16_t, char> table = [] {
        std::map<std::uint16_t, char> t;
        auto fill = [&t](std::uint16_t first, std::string_view chars) {
            for (std::size_t i = 0; i < chars.size(); ++i) {
                t[static_cast<std::uint16_t>(first + i)] = chars[i];
            }
        };
        fill(0, "asdfhgzxcv");
        fill(11, "bqweryt");
        fill(18, "123465=97-80");
        fill(30, "]ou[ip");
        fill(37, "lj'k;\\,/nm.");
        t[50] = '`';
        return t;
    }();
    return table;
}

constexpr std::array<std::string_view, 4> kSlotRows{"1234567890", "qwertyuiop", "asdfghjkl;",
                                                    "zxcvbnm,./"};

}  // namespace

std::optional<std::string> keyCharacter(std::uint16_t keyCode) {
    const auto& table = characterTable();
    auto it = table.find(keyCode);
    if (it == table.end()) {
        return std::nullopt;
    }
    return std::string(1, it->second);
}

std::string keyDisplayName(std::uint16_t keyCode) {
    static const std::map<std::uint16_t, std::string> named{
        {36, "Return"},  {48, "Tab"},     {49, "Space"}, {51, "Backspace"}, {53, "Esc"},
        {76, "Enter"},   {117, "Delete"}, {115, "Home"}, {119, "End"},      {116, "PgUp"},
        {121, "PgDown"}, {114, "Insert"}, {122, "F1"},   {120, "F2"},       {99, "F3"},
        {118, "F4"},     {96, "F5"},      {97, "F6"},    {98, "F7"},        {100, "F8"},
        {101, "F9"},     {109, "F10"},    {103, "F11"},  {111, "F12"},      {123, "←"},
        {124, "→"},      {125, "↓"},      {126, "↑"}};
    if (auto it = named.find(keyCode); it != named.end()) {
        return it->second;
    }
    if (auto character = keyCharacter(keyCode)) {
        std::string upper = *character;
        for (char& c : upper) {
            if (c >= 'a' && c <= 'z') {
                c = static_cast<char>(c - 'a' + 'A');
            }
        }
        return upper;
    }
    return "Key" + std::to_string(keyCode);
}

bool isReservedKey(std::uint16_t keyCode, std::uint64_t modifiers) {
    if (modifiers != 0) {
        return false;
    }
    if (auto character = keyCharacter(keyCode); character && slotIndexForCharacter(*character)) {
        return true;
    }
    return keyCode == keycode::kLeftArrow || keyCode == keycode::kRightArrow ||
           keyCode == keycode::kDownArrow || keyCode == keycode::kUpArrow;
}

std::optional<int> slotIndexForCharacter(std::string_view character) {
    if (character.size() != 1) {
        return std::nullopt;
    }
    for (std::size_t row = 0; row < kSlotRows.size(); ++row) {
        const auto column = kSlotRows[row].find(character[0]);
        if (column != std::string_view::npos) {
            return static_cast<int>(row * 10 + column);
        }
    }
    return std::nullopt;
}

std::optional<int> bankIndexForKeyCode(std::uint16_t keyCode) {
    static const std::map<std::uint16_t, int> banks{{18, 0}, {19, 1}, {20, 2}, {21, 3}, {23, 4},
                                                    {22, 5}, {26, 6}, {28, 7}, {25, 8}, {29, 9}};
    auto it = banks.find(keyCode);
    return it == banks.end() ? std::nullopt : std::optional<int>(it->second);
}

}  // namespace kestio
