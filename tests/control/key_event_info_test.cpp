#include "control/key_event_info.h"

#include <gtest/gtest.h>

#include <set>

#include "control/key_codes.h"

namespace kestio {
namespace {

using namespace modifier;

// A key event as the X11 platform delivers it: the scan code is the evdev code + 8.
QKeyEvent x11Key(int key, Qt::KeyboardModifiers mods, std::uint32_t evdev, QString text = {}) {
    return QKeyEvent(QEvent::KeyPress, key, mods, evdev + 8, 0, 0, text);
}

TEST(KeyEventTranslation, ScanCodesGiveTheKeyOfThePhysicalPosition) {
    EXPECT_EQ(keyCodeForScanCode(57 + 8), 49);            // Space
    EXPECT_EQ(keyCodeForScanCode(28 + 8), 36);            // Enter of the main block
    EXPECT_EQ(keyCodeForScanCode(96 + 8), 76);            // keypad Enter
    EXPECT_EQ(keyCodeForScanCode(16 + 8), 12);            // Q
    EXPECT_EQ(keyCodeForScanCode(6 + 8), 23);             // 5
    EXPECT_EQ(keyCodeForScanCode(7 + 8), 22);             // 6
    EXPECT_EQ(keyCodeForScanCode(39 + 8), 41);            // ;
    EXPECT_EQ(keyCodeForScanCode(63 + 8), 96);            // F5
    EXPECT_EQ(keyCodeForScanCode(105 + 8), 123);          // Left
    EXPECT_EQ(keyCodeForScanCode(111 + 8), 117);          // Delete
    EXPECT_EQ(keyCodeForScanCode(42 + 8), std::nullopt);  // Shift has no key code
    EXPECT_EQ(keyCodeForScanCode(3), std::nullopt);
}

TEST(KeyEventTranslation, EveryCharacterPositionHasItsScanCode) {
    // The 47 character keys, by evdev code, must cover exactly the character table.
    std::set<std::uint16_t> codes;
    for (std::uint32_t evdev = 0; evdev < 128; ++evdev) {
        if (auto code = keyCodeForScanCode(evdev + 8); code && keyCharacter(*code)) {
            codes.insert(*code);
        }
    }
    EXPECT_EQ(codes.size(), 47u);
}

TEST(KeyEventTranslation, WithoutAScanCodeTheQtKeyIsReadOnAUsLayout) {
    EXPECT_EQ(keyCodeForQtKey(Qt::Key_Space, {}), 49);
    EXPECT_EQ(keyCodeForQtKey(Qt::Key_Exclam, Qt::ShiftModifier), 18);
    EXPECT_EQ(keyCodeForQtKey(Qt::Key_Question, Qt::ShiftModifier), 44);
    EXPECT_EQ(keyCodeForQtKey(Qt::Key_Enter, Qt::KeypadModifier), 76);
    EXPECT_EQ(keyCodeForQtKey(Qt::Key_1, Qt::KeypadModifier), 83);
    EXPECT_EQ(keyCodeForQtKey(Qt::Key_1, {}), 18);
    EXPECT_EQ(keyCodeForQtKey(Qt::Key_Backspace, {}), 51);
    EXPECT_EQ(keyCodeForQtKey(Qt::Key_Shift, {}), std::nullopt);
}

TEST(KeyEventTranslation, CtrlIsCommandAltIsOptionSuperIsControl) {
    EXPECT_EQ(modifierFlagsFor(Qt::ControlModifier), kCommand);
    EXPECT_EQ(modifierFlagsFor(Qt::AltModifier), kOption);
    EXPECT_EQ(modifierFlagsFor(Qt::MetaModifier), kControl);
    EXPECT_EQ(modifierFlagsFor(Qt::ShiftModifier | Qt::KeypadModifier | Qt::GroupSwitchModifier),
              kShift);
}

TEST(KeyEventTranslation, EventsCarryThePhysicalKeyAndTheLayoutsCharacter) {
    // On a German layout the key right of T gives Z: the code is the Y position, the
    // character is the layout's.
    const auto german = translateKeyEvent(x11Key(Qt::Key_Z, {}, 21, "z"));
    EXPECT_EQ(german.keyCode, 16);
    EXPECT_EQ(german.characters, "z");

    const auto ctrlS = translateKeyEvent(x11Key(Qt::Key_S, Qt::ControlModifier, 31, "\x13"));
    EXPECT_EQ(ctrlS.keyCode, 1);
    EXPECT_EQ(ctrlS.modifierFlags, kCommand);
    EXPECT_EQ(ctrlS.characters, "s");

    const auto capsQ = translateKeyEvent(x11Key(Qt::Key_Q, {}, 16, "Q"));
    EXPECT_EQ(capsQ.characters, "q");

    const auto kana = translateKeyEvent(x11Key(0x04c1, {}, 16, QString::fromUtf8("た")));
    EXPECT_EQ(kana.keyCode, 12);
    EXPECT_EQ(kana.characters, "た");

    const auto shift = translateKeyEvent(x11Key(Qt::Key_Shift, Qt::ShiftModifier, 42));
    EXPECT_TRUE(shift.isModifierOnly);
    EXPECT_EQ(shift.keyCode, std::nullopt);
}

}  // namespace
}  // namespace kestio
