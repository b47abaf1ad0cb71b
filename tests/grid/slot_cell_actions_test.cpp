#include <gtest/gtest.h>

#include "grid/cell_inputs.h"
#include "grid/slot_cell_actions.h"
#include "show/show_fixture.h"

namespace kestio::grid {
namespace {

class CellActions : public test::ShowFixture {
  protected:
    SlotCellActions actions{*show, loop};

    void menu(int bank, int slot, SlotCommandKind kind) { actions.perform(bank, slot, {kind}); }
    void postRoll(int bank, int slot, PostRollMode mode) {
        SlotCommand command{SlotCommandKind::setPostRoll};
        command.postRoll = mode;
        actions.perform(bank, slot, command);
    }
    std::size_t plays() const { return playback.callsStartingWith("play ").size(); }
};

TEST_F(CellActions, AClickPlaysAndMovesBankAndCursor) {
    load(1, 7, "seven.mp4");
    actions.click(1, 7);
    EXPECT_EQ(show->currentBank.get(), 1);
    EXPECT_EQ(show->cursorSlot.get(), 7);
    EXPECT_EQ(playback.callsStartingWith("play "),
              (std::vector<std::string>{"play 1 7 /media/seven.mp4 1920x1080"}));
    EXPECT_FALSE(show->hasUnsavedChanges.get());
}

TEST_F(CellActions, ClickPrecedenceLearnThenSelectThenMultiClipboard) {
    load(0, 2, "two.mp4");
    show->isMIDILearnMode = true;
    show->isSelectMode = true;
    show->multiSlotClipboard = std::vector<SlotData>{slot(0, 2)};
    actions.click(0, 5);
    ASSERT_TRUE(show->midiLearnArmedTarget.get().has_value());
    EXPECT_EQ(*show->midiLearnArmedTarget.get(), MIDILearnTarget::forSlot(0, 5));
    EXPECT_TRUE(show->selectedSlots.get().empty());

    show->isMIDILearnMode = false;
    actions.click(0, 5);
    actions.click(0, 6);
    actions.click(0, 5);
    EXPECT_EQ(show->selectedSlots.get(), (std::set<int>{6}));
    EXPECT_EQ(show->cursorSlot.get(), 0);  // select mode moves no cursor
    EXPECT_FALSE(slot(0, 5).videoURL.has_value());

    show->isSelectMode = false;
    actions.click(0, 5);
    EXPECT_EQ(slot(0, 5).videoURL, slot(0, 2).videoURL);  // pasted, not played
    EXPECT_TRUE(show->multiSlotClipboard.get().empty());
    EXPECT_EQ(plays(), 0u);
    EXPECT_EQ(show->cursorSlot.get(), 0);
}

TEST_F(CellActions, MultiPasteStopsAtTheBanksEndAndSkipsTheSlotOnAir) {
    load(0, 0, "a.mp4");
    load(0, 1, "b.mp4");
    load(0, 2, "c.mp4");
    slot(0, 0).midiBindings = std::vector<MIDINoteBinding>{{1, 60}};
    slot(0, 0).midiOutputBinding = MIDINoteBinding{2, 61};
    const std::vector<SlotData> three = {slot(0, 0), slot(0, 1), slot(0, 2)};

    show->multiSlotClipboard = three;
    actions.click(0, 38);
    EXPECT_EQ(slot(0, 38).name, "a");
    EXPECT_EQ(slot(0, 39).name, "b");
    EXPECT_EQ(slot(1, 0).name, "041");  // the third entry is dropped, not carried over
    EXPECT_FALSE(slot(0, 38).midiBindings.has_value());
    EXPECT_EQ(slot(0, 38).midiOutputBinding, (MIDINoteBinding{2, 61}));
    EXPECT_TRUE(show->multiSlotClipboard.get().empty());

    playback.setOnAir(0, 21);
    show->multiSlotClipboard = three;
    menu(0, 20, SlotCommandKind::paste);
    EXPECT_EQ(slot(0, 20).name, "a");
    EXPECT_EQ(slot(0, 21).name, "022");  // on air: unchanged, its entry lost
    EXPECT_EQ(slot(0, 22).name, "c");
    EXPECT_FALSE(show->hasUnsavedChanges.get());
}

TEST_F(CellActions, SinglePasteCopiesTheSourceAsItIsNowAndKeepsTheClipboard) {
    load(0, 3, "three.mp4");
    slot(0, 3).midiBindings = std::vector<MIDINoteBinding>{{1, 60}};
    menu(0, 3, SlotCommandKind::copy);
    slot(0, 3).postRollMode = PostRollMode::loop;  // edited after the copy
    menu(0, 7, SlotCommandKind::paste);
    menu(0, 8, SlotCommandKind::paste);
    EXPECT_EQ(slot(0, 7).postRollMode, PostRollMode::loop);
    EXPECT_FALSE(slot(0, 7).midiBindings.has_value());
    EXPECT_EQ(slot(0, 8).name, "three");
    EXPECT_EQ(show->slotClipboard.get(), (SlotLocation{0, 3}));
    EXPECT_FALSE(show->hasUnsavedChanges.get());
}

TEST_F(CellActions, ReplaceSwapsWholeSlotsAndReappliesSettingsOnALaterTurn) {
    load(0, 1, "one.mp4");
    load(0, 4, "four.mp4");
    slot(0, 1).midiBindings = std::vector<MIDINoteBinding>{{1, 60}};
    playback.setOnAir(0, 4);
    menu(0, 1, SlotCommandKind::replace);
    ASSERT_TRUE(cellInputs(*show, 0, 9, false, AppLanguage::en).isReplaceMode);
    ASSERT_TRUE(cellInputs(*show, 0, 9, false, AppLanguage::en).isJumpHighlight);
    playback.calls.clear();
    actions.click(0, 4);
    EXPECT_EQ(slot(0, 4).name, "one");
    EXPECT_EQ(slot(0, 1).name, "four");
    EXPECT_EQ(slot(0, 4).midiBindings->size(), 1u);  // a swap moves the bindings too
    EXPECT_FALSE(show->replacingSource.get().has_value());
    EXPECT_EQ(show->cursorSlot.get(), 4);
    EXPECT_TRUE(playback.calls.empty());  // nothing played, nothing applied yet
    loop.runPending();
    EXPECT_EQ(playback.callsStartingWith("geometry").size(), 1u);  // only the slot on air
    EXPECT_EQ(plays(), 0u);
}

TEST_F(CellActions, JumpPickSetsTheTargetWithoutPlayingOrMovingTheCursor) {
    load(0, 2, "a.mp4");
    load(0, 5, "b.mp4");
    show->cursorSlot = 9;
    postRoll(0, 2, PostRollMode::jump);
    EXPECT_TRUE(show->isSettingJumpTarget.get());
    EXPECT_TRUE(show->hasUnsavedChanges.get());
    show->selectBank(3);  // the target may lie in another bank
    actions.click(3, 5);
    ASSERT_TRUE(slot(0, 2).jumpTarget.has_value());
    EXPECT_EQ(*slot(0, 2).jumpTarget, (JumpTarget{3, 5}));
    EXPECT_FALSE(show->isSettingJumpTarget.get());
    EXPECT_FALSE(show->jumpSourceBank.get().has_value());
    EXPECT_EQ(show->cursorSlot.get(), 9);
    EXPECT_EQ(plays(), 0u);
}

TEST_F(CellActions, AnotherPostRollEndsThePickButKeepsItsSource) {
    load(0, 2, "a.mp4");
    slot(0, 2).jumpTarget = JumpTarget{0, 30};
    postRoll(0, 2, PostRollMode::jump);
    EXPECT_EQ(slot(0, 2).jumpTarget, (JumpTarget{0, 30}));  // kept until a click sets one
    postRoll(0, 8, PostRollMode::freeze);
    EXPECT_FALSE(show->isSettingJumpTarget.get());
    EXPECT_EQ(show->jumpSourceSlot.get(), 2);
}

TEST_F(CellActions, JumpPickWithoutAnySourcePlaysTheClickedSlotAndStaysArmed) {
    load(0, 5, "b.mp4");
    show->isSettingJumpTarget = true;
    actions.click(0, 5);
    EXPECT_EQ(plays(), 1u);
    EXPECT_TRUE(show->isSettingJumpTarget.get());
    // With the slot on air as the source, the next click picks.
    actions.click(0, 6);
    EXPECT_EQ(slot(0, 5).jumpTarget, (JumpTarget{0, 6}));
}

TEST_F(CellActions, ReplaceAndPickArmedTogetherSwapFirstWithoutMovingTheCursor) {
    load(0, 1, "one.mp4");
    load(0, 3, "three.mp4");
    show->cursorSlot = 20;
    postRoll(0, 1, PostRollMode::jump);
    menu(0, 3, SlotCommandKind::replace);
    actions.click(0, 7);
    EXPECT_EQ(slot(0, 7).name, "three");
    EXPECT_EQ(show->cursorSlot.get(), 20);
    EXPECT_TRUE(show->isSettingJumpTarget.get());
    actions.click(0, 9);
    EXPECT_EQ(slot(0, 1).jumpTarget, (JumpTarget{0, 9}));
}

TEST_F(CellActions, PostRollOfTheSlotOnAirReleasesALoopOrRestartsAFrozenClip) {
    load(0, 4, "loop.mp4");
    playback.setOnAir(0, 4);
    playback.looping = true;
    postRoll(0, 4, PostRollMode::next);
    EXPECT_EQ(playback.callsStartingWith("releaseLoop"),
              (std::vector<std::string>{"releaseLoop next"}));
    postRoll(0, 4, PostRollMode::loop);
    EXPECT_EQ(playback.callsStartingWith("releaseLoop").size(), 1u);

    playback.looping = false;
    playback.showingStopped = false;
    postRoll(0, 4, PostRollMode::loop);
    EXPECT_EQ(plays(), 0u);  // still running: the loop starts at its end
    playback.showingStopped = true;
    postRoll(0, 4, PostRollMode::loop);
    EXPECT_EQ(plays(), 1u);
    postRoll(0, 4, PostRollMode::black);
    EXPECT_EQ(plays(), 1u);
}

TEST_F(CellActions, MenuEditsMarkUnsavedAndRequestsDoNot) {
    load(0, 0, "a.mp4");
    slot(0, 0).midiBindings = std::vector<MIDINoteBinding>{{1, 60}};
    slot(0, 0).midiOutputBinding = MIDINoteBinding{1, 61};
    struct Case {
        SlotCommand command;
        bool unsaved;
    };
    SlotCommand dissolve{SlotCommandKind::setTransition};
    dissolve.transition = TransitionMode::dissolve;
    SlotCommand time{SlotCommandKind::setDissolveTime};
    time.seconds = 3;
    const Case cases[] = {
        {{SlotCommandKind::copy}, false},
        {{SlotCommandKind::replace}, false},
        {{SlotCommandKind::assignMedia}, false},
        {{SlotCommandKind::unassign}, false},
        {dissolve, true},
        {time, true},
        {{SlotCommandKind::clearMIDIAssignment}, true},
        {{SlotCommandKind::clearMIDIOutput}, true},
    };
    for (const auto& c : cases) {
        show->hasUnsavedChanges = false;
        actions.perform(0, 0, c.command);
        EXPECT_EQ(show->hasUnsavedChanges.get(), c.unsaved) << static_cast<int>(c.command.kind);
    }
    EXPECT_EQ(slot(0, 0).transitionMode, TransitionMode::dissolve);
    EXPECT_EQ(slot(0, 0).dissolveDuration, 3.0);
    EXPECT_FALSE(slot(0, 0).midiBindings.has_value());
    EXPECT_FALSE(slot(0, 0).midiOutputBinding.has_value());
    EXPECT_EQ(show->assignBank.get(), 0);
    EXPECT_TRUE(show->showingFileImporter.get());
    EXPECT_EQ(show->confirmUnassignSlot.get(), 0);
}

TEST_F(CellActions, StaleLocationsChangeNoSlot) {
    load(0, 0, "a.mp4");
    show->slotClipboard = SlotLocation{25, 3};
    show->replacingSource = SlotLocation{0, 400};
    const ProjectData before = show->project();
    menu(0, 5, SlotCommandKind::paste);
    actions.click(0, 5);
    EXPECT_EQ(show->project().banks, before.banks);
    EXPECT_FALSE(show->replacingSource.get().has_value());
    show->jumpSourceBank = 99;
    show->jumpSourceSlot = 0;
    show->isSettingJumpTarget = true;
    actions.click(0, 5);
    EXPECT_EQ(show->project().banks, before.banks);
    actions.perform(40, 0, {SlotCommandKind::clearMIDIOutput});
    postRoll(0, -1, PostRollMode::jump);
    EXPECT_EQ(show->project().banks, before.banks);
}

TEST_F(CellActions, CellInputsFollowTheShowState) {
    load(0, 3, "a.mp4");
    slot(0, 3).thumbnail = std::vector<std::uint8_t>{1, 2, 3};  // not an image
    show->cursorSlot = 3;
    auto in = cellInputs(*show, 0, 3, false, AppLanguage::en);
    EXPECT_TRUE(in.isCursor);
    EXPECT_EQ(in.globalNumber, 4);
    EXPECT_FALSE(in.thumbnail);
    show->isSelectMode = true;
    show->selectedSlots = std::set<int>{3};
    in = cellInputs(*show, 0, 3, false, AppLanguage::en);
    EXPECT_FALSE(in.isCursor);
    EXPECT_TRUE(in.isSelected);
    EXPECT_TRUE(in.inSelectMode);
    EXPECT_EQ(cellInputs(*show, 2, 3, false, AppLanguage::en).globalNumber, 84);
    show->multiSlotClipboard = std::vector<SlotData>{SlotData{}};
    EXPECT_TRUE(cellInputs(*show, 0, 3, false, AppLanguage::en).hasClipboard);
    show->isMIDILearnMode = true;
    show->midiLearnArmedTarget = MIDILearnTarget::forControl("bank:0");
    EXPECT_FALSE(cellInputs(*show, 0, 0, false, AppLanguage::en).isMIDIArmed);
    show->midiLearnArmedTarget = MIDILearnTarget::forSlot(0, 3);
    EXPECT_TRUE(cellInputs(*show, 0, 3, false, AppLanguage::en).isMIDIArmed);
    EXPECT_FALSE(cellInputs(*show, 1, 3, false, AppLanguage::en).isMIDIArmed);
}

TEST_F(CellActions, JumpFlagOnlyForTheTargetOfTheSlotOnAirInTheCurrentBank) {
    load(0, 1, "a.mp4");
    EXPECT_FALSE(jumpTargetSlot(*show).has_value());
    playback.setOnAir(0, 1);
    slot(0, 1).jumpTarget = JumpTarget{0, 12};
    EXPECT_FALSE(jumpTargetSlot(*show).has_value());  // post-roll is not Jump
    slot(0, 1).postRollMode = PostRollMode::jump;
    EXPECT_EQ(jumpTargetSlot(*show), 12);
    show->selectBank(1);
    EXPECT_FALSE(jumpTargetSlot(*show).has_value());
    slot(0, 1).jumpTarget = JumpTarget{1, 0};
    EXPECT_EQ(jumpTargetSlot(*show), 0);
    playback.setOnAir(7, 500);  // names no slot
    EXPECT_FALSE(jumpTargetSlot(*show).has_value());
}

}  // namespace
}  // namespace kestio::grid
