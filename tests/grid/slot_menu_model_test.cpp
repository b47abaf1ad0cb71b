#include <gtest/gtest.h>

#include "grid/slot_menu_model.h"

namespace kestio::grid {
namespace {

// The menu as lines: "text" for an entry, "-" for a divider, "text>" for a submenu, with
// " [off]", " [!]" (destructive) and " [x]" (checked) marks.
std::vector<std::string> lines(const std::vector<SlotMenuEntry>& menu) {
    std::vector<std::string> out;
    for (const auto& e : menu) {
        if (e.kind == SlotMenuEntry::Kind::separator) {
            out.push_back("-");
            continue;
        }
        std::string line = e.text + (e.kind == SlotMenuEntry::Kind::submenu ? ">" : "");
        if (!e.enabled)
            line += " [off]";
        if (e.destructive)
            line += " [!]";
        if (e.checked)
            line += " [x]";
        out.push_back(line);
    }
    return out;
}

SlotCellInputs english() {
    SlotCellInputs in;
    in.language = AppLanguage::en;
    return in;
}

SlotCellInputs loadedVideo() {
    SlotCellInputs in = english();
    in.slot.videoURL = "/media/a.mp4";
    return in;
}

using Lines = std::vector<std::string>;

TEST(SlotMenu, EmptySlot) {
    SlotCellInputs in = english();
    EXPECT_EQ(lines(slotMenu(in)), (Lines{"Load Media", "-"}));
    in.hasClipboard = true;
    EXPECT_EQ(lines(slotMenu(in)), (Lines{"Load Media", "-", "Paste"}));
}

TEST(SlotMenu, LoadedVideoFullMenu) {
    SlotCellInputs in = loadedVideo();
    EXPECT_EQ(lines(slotMenu(in)),
              (Lines{"Load Media", "Effect>", "Post-Roll>", "-", "Stand by at First Frame", "-",
                     "MIDI Output Assign...", "-", "Copy", "Replace", "-", "Delete Clip [!]"}));
    in.slot.midiOutputBinding = MIDINoteBinding{10, 36};
    in.hasClipboard = true;
    in.isCurrent = true;
    EXPECT_EQ(lines(slotMenu(in)),
              (Lines{"Load Media", "Effect>", "Post-Roll>", "-", "Stand by at First Frame", "-",
                     "MIDI Output: Ch10 Note36 (change)", "Clear MIDI Output Assignment [!]", "-",
                     "Copy [off]", "Replace [off]", "Paste", "-", "Delete Clip [!]"}));
}

TEST(SlotMenu, AudioSlotHasNoEffectOrPostRoll) {
    SlotCellInputs in = loadedVideo();
    in.slot.mediaType = MediaType::audio;
    EXPECT_EQ(lines(slotMenu(in)),
              (Lines{"Load Media", "Stand by at First Frame", "-", "MIDI Output Assign...", "-",
                     "Copy", "Replace", "-", "Delete Clip [!]"}));
}

TEST(SlotMenu, EffectSubmenuChecksAndDissolveTimes) {
    SlotCellInputs in = loadedVideo();
    EXPECT_EQ(lines(slotMenu(in)[1].children), (Lines{"Cut [x]", "Dissolve"}));
    in.slot.transitionMode = TransitionMode::dissolve;
    in.slot.dissolveDuration = 1.05;
    const auto effect = slotMenu(in)[1].children;
    EXPECT_EQ(lines(effect), (Lines{"Cut", "Dissolve [x]", "-", "0.5 sec", "1 sec [x]", "2 sec",
                                    "3 sec", "5 sec"}));
    EXPECT_EQ(effect[4].command.kind, SlotCommandKind::setDissolveTime);
    EXPECT_EQ(effect[4].command.seconds, 1.0);
    EXPECT_EQ(effect[1].command.transition, TransitionMode::dissolve);
    in.slot.dissolveDuration = 1.5;
    EXPECT_EQ(lines(slotMenu(in)[1].children),
              (Lines{"Cut", "Dissolve [x]", "-", "0.5 sec", "1 sec", "2 sec", "3 sec", "5 sec"}));
}

TEST(SlotMenu, PostRollSubmenuReadsTheSameInBothLanguages) {
    for (auto language : {AppLanguage::ja, AppLanguage::en}) {
        SlotCellInputs in = loadedVideo();
        in.language = language;
        in.slot.postRollMode = PostRollMode::black;
        const auto post = slotMenu(in)[2].children;
        EXPECT_EQ(lines(post), (Lines{"Next GO", "Freeze", "Loop", "Black [x]", "Jump"}));
        EXPECT_EQ(post[4].command.postRoll, PostRollMode::jump);
    }
}

TEST(SlotMenu, LearnThenSelectThenLockTakePrecedence) {
    SlotCellInputs in = loadedVideo();
    in.midiLearnHighlight = true;
    in.inSelectMode = true;
    in.editLocked = true;
    EXPECT_EQ(lines(slotMenu(in)), (Lines{"Clear MIDI Assignment [off] [!]"}));
    in.slot.midiBindings = std::vector<MIDINoteBinding>{};
    EXPECT_EQ(lines(slotMenu(in)), (Lines{"Clear MIDI Assignment [off] [!]"}));
    in.slot.midiBindings->push_back({1, 60});
    EXPECT_EQ(lines(slotMenu(in)), (Lines{"Clear MIDI Assignment [!]"}));
    in.midiLearnHighlight = false;
    EXPECT_TRUE(slotMenu(in).empty());
    in.inSelectMode = false;
    EXPECT_EQ(lines(slotMenu(in)), (Lines{"Stand by at First Frame"}));
    SlotCellInputs empty = english();
    empty.editLocked = true;
    EXPECT_EQ(lines(slotMenu(empty)), (Lines{"Stand by at First Frame"}));
}

TEST(SlotMenu, JapaneseTexts) {
    SlotCellInputs in = loadedVideo();
    in.language = AppLanguage::ja;
    in.hasClipboard = true;
    in.slot.midiOutputBinding = MIDINoteBinding{1, 60};
    EXPECT_EQ(
        lines(slotMenu(in)),
        (Lines{"メディアを読み込む", "エフェクト>", "ポストロール>", "-", "Stand by at First Frame",
               "-", "MIDI出力: Ch1 Note60（変更）", "MIDI出力アサインを解除 [!]", "-", "コピー",
               "入れ替え", "ペースト", "-", "クリップを削除 [!]"}));
}

TEST(SlotMenu, EveryEntryCarriesItsCommand) {
    SlotCellInputs in = loadedVideo();
    in.hasClipboard = true;
    std::vector<SlotCommandKind> kinds;
    for (const auto& e : slotMenu(in)) {
        if (e.kind == SlotMenuEntry::Kind::action)
            kinds.push_back(e.command.kind);
    }
    EXPECT_EQ(kinds,
              (std::vector<SlotCommandKind>{SlotCommandKind::assignMedia, SlotCommandKind::standby,
                                            SlotCommandKind::setMIDIOutput, SlotCommandKind::copy,
                                            SlotCommandKind::replace, SlotCommandKind::paste,
                                            SlotCommandKind::unassign}));
}

}  // namespace
}  // namespace kestio::grid
