#include "control/key_codes.h"

#include <gtest/gtest.h>

#include "control/key_binding.h"

namespace kestio {
namespace {

TEST(KeyCodes, TheCharacterTableFollowsTheAnsiPositions) {
    int count = 0;
    for (int code = 0; code < 128; ++code) {
        count += keyCharacter(static_cast<std::uint16_t>(code)).has_value() ? 1 : 0;
    }
    EXPECT_EQ(count, 47);
    EXPECT_EQ(keyCharacter(0), "a");
    EXPECT_EQ(keyCharacter(22), "6");
    EXPECT_EQ(keyCharacter(23), "5");
    EXPECT_EQ(keyCharacter(24), "=");
    EXPECT_EQ(keyCharacter(41), ";");
    EXPECT_EQ(keyCharacter(42), "\\");
    EXPECT_EQ(keyCharacter(50), "`");
    for (std::uint16_t absent : {10, 36, 48, 49, 51, 76}) {
        EXPECT_EQ(keyCharacter(absent), std::nullopt) << absent;
    }
}

TEST(KeyCodes, DisplayNamesUseNamedKeysThenUpperCaseCharactersThenTheCode) {
    EXPECT_EQ(keyDisplayName(36), "Return");
    EXPECT_EQ(keyDisplayName(76), "Enter");
    EXPECT_EQ(keyDisplayName(51), "Backspace");
    EXPECT_EQ(keyDisplayName(96), "F5");
    EXPECT_EQ(keyDisplayName(122), "F1");
    EXPECT_EQ(keyDisplayName(123), "←");
    EXPECT_EQ(keyDisplayName(0), "A");
    EXPECT_EQ(keyDisplayName(50), "`");
    EXPECT_EQ(keyDisplayName(24), "=");
    EXPECT_EQ(keyDisplayName(105), "Key105");
}

TEST(KeyCodes, DisplayStringsNameTheLinuxModifiersInAFixedOrder) {
    using namespace modifier;
    EXPECT_EQ(KeyBinding::displayString(49, kOption), "Alt+Space");
    EXPECT_EQ(KeyBinding::displayString(36, kShift), "Shift+Return");
    EXPECT_EQ(KeyBinding::displayString(96, kControl | kOption | kShift | kCommand),
              "Ctrl+Alt+Shift+Super+F5");
    EXPECT_EQ(KeyBinding::displayString(0, 0x100 | kCommand), "Ctrl+A");
}

TEST(KeyCodes, SlotKeysAndBareArrowsAreReserved) {
    EXPECT_TRUE(isReservedKey(0, 0));    // A
    EXPECT_TRUE(isReservedKey(29, 0));   // 0
    EXPECT_TRUE(isReservedKey(44, 0));   // /
    EXPECT_TRUE(isReservedKey(123, 0));  // Left
    EXPECT_FALSE(isReservedKey(0, modifier::kShift));
    EXPECT_FALSE(isReservedKey(123, modifier::kCommand));
    EXPECT_FALSE(isReservedKey(24, 0));  // = is not a slot key
    EXPECT_FALSE(isReservedKey(49, 0));
}

TEST(KeyCodes, SlotAndBankTables) {
    EXPECT_EQ(slotIndexForCharacter("1"), 0);
    EXPECT_EQ(slotIndexForCharacter("0"), 9);
    EXPECT_EQ(slotIndexForCharacter("q"), 10);
    EXPECT_EQ(slotIndexForCharacter(";"), 29);
    EXPECT_EQ(slotIndexForCharacter("/"), 39);
    EXPECT_EQ(slotIndexForCharacter("Q"), std::nullopt);
    EXPECT_EQ(slotIndexForCharacter(""), std::nullopt);
    EXPECT_EQ(slotIndexForCharacter("qq"), std::nullopt);
    EXPECT_EQ(bankIndexForKeyCode(18), 0);
    EXPECT_EQ(bankIndexForKeyCode(23), 4);
    EXPECT_EQ(bankIndexForKeyCode(22), 5);
    EXPECT_EQ(bankIndexForKeyCode(29), 9);
    EXPECT_EQ(bankIndexForKeyCode(24), std::nullopt);
}

}  // namespace
}  // namespace kestio
