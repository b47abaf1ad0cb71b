#include "control/key_event_info.h"

#include <map>

#include "control/key_codes.h"

namespace kestio {

namespace {

// evdev code (linux/input-event-codes.h) → key code.
const std::map<std::uint32_t, std::uint16_t>& evdevTable() {
    static const std::map<std::uint32_t, std::uint16_t> table{
        // digit row: KEY_1..KEY_0, MINUS, EQUAL
        {2, 18},
        {3, 19},
        {4, 20},
        {5, 21},
        {6, 23},
        {7, 22},
        {8, 26},
        {9, 28},
        {10, 25},
        {11, 29},
        {12, 27},
        {13, 24},
        // KEY_Q..KEY_P, brackets
        {16, 12},
        {17, 13},
        {18, 14},
        {19, 15},
        {20, 17},
        {21, 16},
        {22, 32},
        {23, 34},
        {24, 31},
        {25, 35},
        {26, 33},
        {27, 30},
        // KEY_A..KEY_L, semicolon, apostrophe, grave
        {30, 0},
        {31, 1},
        {32, 2},
        {33, 3},
        {34, 5},
        {35, 4},
        {36, 38},
        {37, 40},
        {38, 37},
        {39, 41},
        {40, 39},
        {41, 50},
        // backslash, KEY_Z..KEY_M, comma, dot, slash, the extra key of ISO keyboards
        {43, 42},
        {44, 6},
        {45, 7},
        {46, 8},
        {47, 9},
        {48, 11},
        {49, 45},
        {50, 46},
        {51, 43},
        {52, 47},
        {53, 44},
        {86, 10},
        // Esc, Backspace, Tab, Enter, Space, keypad Enter
        {1, 53},
        {14, 51},
        {15, 48},
        {28, 36},
        {57, 49},
        {96, 76},
        // F1..F12
        {59, 122},
        {60, 120},
        {61, 99},
        {62, 118},
        {63, 96},
        {64, 97},
        {65, 98},
        {66, 100},
        {67, 101},
        {68, 109},
        {87, 103},
        {88, 111},
        // Home, Up, PageUp, Left, Right, End, Down, PageDown, Insert, Delete
        {102, 115},
        {103, 126},
        {104, 116},
        {105, 123},
        {106, 124},
        {107, 119},
        {108, 125},
        {109, 121},
        {110, 114},
        {111, 117},
        // keypad digits and operators
        {71, 89},
        {72, 91},
        {73, 92},
        {74, 78},
        {75, 86},
        {76, 87},
        {77, 88},
        {78, 69},
        {79, 83},
        {80, 84},
        {81, 85},
        {82, 82},
        {83, 65},
        {55, 67},
        {98, 75}};
    return table;
}

const std::map<int, std::uint16_t>& qtKeyTable() {
    static const std::map<int, std::uint16_t> table{
        {Qt::Key_A, 0},
        {Qt::Key_S, 1},
        {Qt::Key_D, 2},
        {Qt::Key_F, 3},
        {Qt::Key_H, 4},
        {Qt::Key_G, 5},
        {Qt::Key_Z, 6},
        {Qt::Key_X, 7},
        {Qt::Key_C, 8},
        {Qt::Key_V, 9},
        {Qt::Key_B, 11},
        {Qt::Key_Q, 12},
        {Qt::Key_W, 13},
        {Qt::Key_E, 14},
        {Qt::Key_R, 15},
        {Qt::Key_Y, 16},
        {Qt::Key_T, 17},
        {Qt::Key_1, 18},
        {Qt::Key_2, 19},
        {Qt::Key_3, 20},
        {Qt::Key_4, 21},
        {Qt::Key_6, 22},
        {Qt::Key_5, 23},
        {Qt::Key_Equal, 24},
        {Qt::Key_9, 25},
        {Qt::Key_7, 26},
        {Qt::Key_Minus, 27},
        {Qt::Key_8, 28},
        {Qt::Key_0, 29},
        {Qt::Key_BracketRight, 30},
        {Qt::Key_O, 31},
        {Qt::Key_U, 32},
        {Qt::Key_BracketLeft, 33},
        {Qt::Key_I, 34},
        {Qt::Key_P, 35},
        {Qt::Key_L, 37},
        {Qt::Key_J, 38},
        {Qt::Key_Apostrophe, 39},
        {Qt::Key_K, 40},
        {Qt::Key_Semicolon, 41},
        {Qt::Key_Backslash, 42},
        {Qt::Key_Comma, 43},
        {Qt::Key_Slash, 44},
        {Qt::Key_N, 45},
        {Qt::Key_M, 46},
        {Qt::Key_Period, 47},
        {Qt::Key_QuoteLeft, 50},
        // shifted symbols of a US layout → their base key
        {Qt::Key_Exclam, 18},
        {Qt::Key_At, 19},
        {Qt::Key_NumberSign, 20},
        {Qt::Key_Dollar, 21},
        {Qt::Key_Percent, 23},
        {Qt::Key_AsciiCircum, 22},
        {Qt::Key_Ampersand, 26},
        {Qt::Key_Asterisk, 28},
        {Qt::Key_ParenLeft, 25},
        {Qt::Key_ParenRight, 29},
        {Qt::Key_Underscore, 27},
        {Qt::Key_Plus, 24},
        {Qt::Key_BraceLeft, 33},
        {Qt::Key_BraceRight, 30},
        {Qt::Key_Colon, 41},
        {Qt::Key_QuoteDbl, 39},
        {Qt::Key_AsciiTilde, 50},
        {Qt::Key_Bar, 42},
        {Qt::Key_Less, 43},
        {Qt::Key_Greater, 47},
        {Qt::Key_Question, 44},
        // named keys
        {Qt::Key_Return, 36},
        {Qt::Key_Enter, 76},
        {Qt::Key_Tab, 48},
        {Qt::Key_Backtab, 48},
        {Qt::Key_Space, 49},
        {Qt::Key_Backspace, 51},
        {Qt::Key_Escape, 53},
        {Qt::Key_Delete, 117},
        {Qt::Key_Home, 115},
        {Qt::Key_End, 119},
        {Qt::Key_PageUp, 116},
        {Qt::Key_PageDown, 121},
        {Qt::Key_Insert, 114},
        {Qt::Key_F1, 122},
        {Qt::Key_F2, 120},
        {Qt::Key_F3, 99},
        {Qt::Key_F4, 118},
        {Qt::Key_F5, 96},
        {Qt::Key_F6, 97},
        {Qt::Key_F7, 98},
        {Qt::Key_F8, 100},
        {Qt::Key_F9, 101},
        {Qt::Key_F10, 109},
        {Qt::Key_F11, 103},
        {Qt::Key_F12, 111},
        {Qt::Key_Left, 123},
        {Qt::Key_Right, 124},
        {Qt::Key_Down, 125},
        {Qt::Key_Up, 126}};
    return table;
}

const std::map<int, std::uint16_t>& keypadTable() {
    static const std::map<int, std::uint16_t> table{
        {Qt::Key_0, 82},    {Qt::Key_1, 83},     {Qt::Key_2, 84},      {Qt::Key_3, 85},
        {Qt::Key_4, 86},    {Qt::Key_5, 87},     {Qt::Key_6, 88},      {Qt::Key_7, 89},
        {Qt::Key_8, 91},    {Qt::Key_9, 92},     {Qt::Key_Period, 65}, {Qt::Key_Asterisk, 67},
        {Qt::Key_Plus, 69}, {Qt::Key_Minus, 78}, {Qt::Key_Slash, 75},  {Qt::Key_Enter, 76}};
    return table;
}

bool isModifierKey(int key) {
    switch (key) {
        case Qt::Key_Shift:
        case Qt::Key_Control:
        case Qt::Key_Alt:
        case Qt::Key_AltGr:
        case Qt::Key_Meta:
        case Qt::Key_Super_L:
        case Qt::Key_Super_R:
        case Qt::Key_Hyper_L:
        case Qt::Key_Hyper_R:
        case Qt::Key_CapsLock:
        case Qt::Key_NumLock:
        case Qt::Key_ScrollLock:
            return true;
        default:
            return false;
    }
}

}  // namespace

std::optional<std::uint16_t> keyCodeForScanCode(std::uint32_t nativeScanCode) {
    if (nativeScanCode < 8) {
        return std::nullopt;
    }
    const auto& table = evdevTable();
    auto it = table.find(nativeScanCode - 8);
    return it == table.end() ? std::nullopt : std::optional<std::uint16_t>(it->second);
}

std::optional<std::uint16_t> keyCodeForQtKey(int key, Qt::KeyboardModifiers modifiers) {
    if (modifiers.testFlag(Qt::KeypadModifier)) {
        const auto& keypad = keypadTable();
        if (auto it = keypad.find(key); it != keypad.end()) {
            return it->second;
        }
    }
    const auto& table = qtKeyTable();
    auto it = table.find(key);
    return it == table.end() ? std::nullopt : std::optional<std::uint16_t>(it->second);
}

std::uint64_t modifierFlagsFor(Qt::KeyboardModifiers modifiers) {
    std::uint64_t flags = 0;
    if (modifiers.testFlag(Qt::ShiftModifier)) {
        flags |= modifier::kShift;
    }
    if (modifiers.testFlag(Qt::ControlModifier)) {
        flags |= modifier::kCommand;
    }
    if (modifiers.testFlag(Qt::AltModifier)) {
        flags |= modifier::kOption;
    }
    if (modifiers.testFlag(Qt::MetaModifier)) {
        flags |= modifier::kControl;
    }
    return flags;
}

KeyEventInfo translateKeyEvent(const QKeyEvent& event) {
    KeyEventInfo info;
    const int key = event.key();
    info.isModifierOnly = isModifierKey(key);
    info.modifierFlags = modifierFlagsFor(event.modifiers());
    info.isAutoRepeat = event.isAutoRepeat();
    if (event.nativeScanCode() != 0) {
        info.keyCode = keyCodeForScanCode(event.nativeScanCode());
    }
    if (!info.keyCode) {
        info.keyCode = keyCodeForQtKey(key, event.modifiers());
    }
    // The character without modifiers: from the Qt key for printable ASCII keys (Ctrl turns
    // text() into a control character), else the text itself.
    if (key >= 0x20 && key <= 0x7E) {
        char c = static_cast<char>(key);
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
        info.characters = std::string(1, c);
    } else if (!event.text().isEmpty() && event.text().at(0).isPrint()) {
        info.characters = event.text().toLower().toStdString();
    }
    return info;
}

}  // namespace kestio
