#include "show/slot_edits.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestio {
namespace {

struct MidiFieldCase {
    const char* text;
    int fallback;
    int low;
    int high;
    int expected;
};

class MidiField : public testing::TestWithParam<MidiFieldCase> {};

TEST_P(MidiField, ParsesSignedDecimalsAndClampsWithTheFieldsDefault) {
    const auto& c = GetParam();
    EXPECT_EQ(parseMidiField(c.text, c.fallback, c.low, c.high), c.expected)
        << '"' << c.text << '"';
}

INSTANTIATE_TEST_SUITE_P(ChannelAndNote, MidiField,
                         testing::Values(
                             // Channel field: default 1, range 1..16.
                             MidiFieldCase{"0", 1, 1, 16, 1}, MidiFieldCase{"17", 1, 1, 16, 16},
                             MidiFieldCase{"abc", 1, 1, 16, 1}, MidiFieldCase{"+5", 1, 1, 16, 5},
                             MidiFieldCase{"", 1, 1, 16, 1}, MidiFieldCase{" 5", 1, 1, 16, 1},
                             MidiFieldCase{"5 ", 1, 1, 16, 1}, MidiFieldCase{"1e3", 1, 1, 16, 1},
                             MidiFieldCase{"+-5", 1, 1, 16, 1}, MidiFieldCase{"--5", 1, 1, 16, 1},
                             MidiFieldCase{"+", 1, 1, 16, 1}, MidiFieldCase{"12", 1, 1, 16, 12},
                             MidiFieldCase{"99999999999999999999999", 1, 1, 16, 1},
                             MidiFieldCase{"4294967301", 1, 1, 16, 16},
                             // Note field: default 60, range 0..127.
                             MidiFieldCase{"-3", 60, 0, 127, 0},
                             MidiFieldCase{"200", 60, 0, 127, 127},
                             MidiFieldCase{"", 60, 0, 127, 60}, MidiFieldCase{"x1", 60, 0, 127, 60},
                             MidiFieldCase{"-0", 60, 0, 127, 0},
                             MidiFieldCase{"007", 60, 0, 127, 7}));

TEST(MidiOutputDialog, StartsAtChannelOneNoteSixtyAndAlwaysGivesABinding) {
    EXPECT_EQ(midiOutputDialogStart(std::nullopt), (MIDINoteBinding{1, 60}));
    EXPECT_EQ(midiOutputDialogStart(MIDINoteBinding{9, 12}), (MIDINoteBinding{9, 12}));
    EXPECT_EQ(midiOutputFromFields("1", "60"), (MIDINoteBinding{1, 60}));
    EXPECT_EQ(midiOutputFromFields("17", "-3"), (MIDINoteBinding{16, 0}));
    EXPECT_EQ(midiOutputFromFields("letters", ""), (MIDINoteBinding{1, 60}));
}

class SlotEdits : public testing::Test {
  protected:
    ProjectData project{4, 10};

    SlotData& slot(int b, int s) {
        return project.banks[static_cast<std::size_t>(b)].slots[static_cast<std::size_t>(s)];
    }
    SlotData loaded(const std::string& name) {
        SlotData data;
        data.name = name;
        data.videoURL = "/media/" + name + ".mov";
        data.bookmarkData = std::vector<std::uint8_t>{1, 2, 3};
        data.midiBindings = std::vector<MIDINoteBinding>{{1, 60}};
        data.midiOutputBinding = MIDINoteBinding{2, 61};
        data.playRate = 2.0;
        return data;
    }
};

TEST_F(SlotEdits, ClearingGivesAFreshSlotNamedByItsShowWideNumber) {
    slot(0, 0) = loaded("Intro");
    ASSERT_TRUE(clearSlot(project, 0, 0));
    SlotData expected;
    expected.name = "001";
    EXPECT_EQ(slot(0, 0), expected);
    EXPECT_FALSE(slot(0, 0).midiBindings.has_value());
    EXPECT_FALSE(slot(0, 0).midiOutputBinding.has_value());

    EXPECT_EQ(globalSlotNumber(project, 1, 4), "045");
    EXPECT_EQ(globalSlotNumber(project, 19, 39), "800");
    project.rows = 30;  // 300 slots a bank: four digits are written in full
    EXPECT_EQ(globalSlotNumber(project, 19, 299), "6000");
}

TEST_F(SlotEdits, EveryOperationLeavesTheProjectAloneOutOfRange) {
    slot(0, 0) = loaded("Intro");
    const ProjectData before = project;
    const std::vector<std::pair<int, int>> outside = {{-1, 0}, {0, -1}, {20, 0}, {0, 40}};
    for (const auto& [b, s] : outside) {
        EXPECT_FALSE(clearSlot(project, b, s));
        EXPECT_FALSE(pasteSlot(project, 0, 0, b, s));
        EXPECT_FALSE(pasteSlot(project, b, s, 0, 1));
        EXPECT_FALSE(swapSlots(project, 0, 0, b, s));
        EXPECT_FALSE(swapSlots(project, b, s, 0, 0));
        EXPECT_EQ(pasteSlots(project, b, s, {loaded("x")}, [](int, int) { return false; }), 0);
    }
    EXPECT_FALSE(renameBankIn(project, 20, "X"));
    EXPECT_FALSE(renameBankIn(project, -1, "X"));
    EXPECT_EQ(project, before);
}

TEST_F(SlotEdits, PasteDropsInputBindingsButKeepsTheOutputNote) {
    slot(0, 2) = loaded("Intro");
    ASSERT_TRUE(pasteSlot(project, 0, 2, 3, 7));
    SlotData expected = loaded("Intro");
    expected.midiBindings.reset();
    EXPECT_EQ(slot(3, 7), expected);
    EXPECT_EQ(slot(3, 7).midiOutputBinding, (MIDINoteBinding{2, 61}));
    EXPECT_EQ(slot(0, 2).midiBindings->size(), 1u);  // the source keeps its own
}

TEST_F(SlotEdits, MultiPasteSkipsTheSlotOnAirAndDropsWhatRunsPastTheBank) {
    const std::vector<SlotData> copies = {loaded("a"), loaded("b"), loaded("c"), loaded("d")};
    slot(2, 38) = loaded("onAir");
    const int stored =
        pasteSlots(project, 2, 37, copies, [](int b, int s) { return b == 2 && s == 38; });
    EXPECT_EQ(stored, 2);
    EXPECT_EQ(slot(2, 37).name, "a");
    EXPECT_EQ(slot(2, 38).name, "onAir");  // "b" is pasted nowhere
    EXPECT_EQ(slot(2, 39).name, "c");      // "c" lands at its own offset; "d" is dropped
    EXPECT_FALSE(slot(2, 37).midiBindings.has_value());
    EXPECT_EQ(slot(3, 0).name, "121");
}

TEST_F(SlotEdits, SwapExchangesWholeSlotsAndRenameStoresTheTextAsTyped) {
    slot(0, 0) = loaded("A");
    slot(5, 9) = loaded("B");
    slot(5, 9).midiBindings = std::vector<MIDINoteBinding>{{3, 3}};
    ASSERT_TRUE(swapSlots(project, 0, 0, 5, 9));
    EXPECT_EQ(slot(0, 0).name, "B");
    EXPECT_EQ(slot(0, 0).midiBindings, (std::vector<MIDINoteBinding>{{3, 3}}));
    EXPECT_EQ(slot(5, 9).name, "A");
    ASSERT_TRUE(swapSlots(project, 1, 1, 1, 1));
    EXPECT_EQ(slot(1, 1).name, "042");

    ASSERT_TRUE(renameBankIn(project, 4, ""));
    EXPECT_EQ(project.banks[4].name, "");
    ASSERT_TRUE(renameBankIn(project, 0, " Opening 🎬 "));
    EXPECT_EQ(project.banks[0].name, " Opening 🎬 ");
}

}  // namespace
}  // namespace kestio
