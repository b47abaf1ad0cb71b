#include "show_fixture.h"

namespace kestio::test {
namespace {

class CutGo : public ShowFixture {
  protected:
    void SetUp() override { show->setupKeyboardShortcuts(); }
    void at(int bank, int cursor) {
        show->currentBank = bank;
        show->cursorSlot = cursor;
    }
    std::pair<int, int> where() const { return {show->currentBank.get(), show->cursorSlot.get()}; }
};

TEST_F(CutGo, AdvancesAcrossTheBankEdgeAndReplaysTheVeryLastSlot) {
    load(0, 5, "a.mov");
    load(1, 0, "b.mov");
    load(19, 39, "z.mov");
    struct Case {
        int bank, cursor;
        std::pair<int, int> after;
        const char* call;
    };
    for (const Case& c :
         {Case{0, 4, {0, 5}, "play 0 5"}, Case{0, 39, {1, 0}, "play 1 0"},
          Case{19, 39, {19, 39}, "play 19 39"}, Case{0, 5, {0, 6}, "postRoll black"}}) {
        at(c.bank, c.cursor);
        playback.calls.clear();
        keyboard.onCutGo();
        EXPECT_EQ(where(), c.after) << c.bank << "/" << c.cursor;
        ASSERT_EQ(playback.calls.size(), 1u);
        EXPECT_EQ(playback.calls[0].rfind(c.call, 0), 0u) << playback.calls[0];
    }
}

TEST_F(CutGo, FollowsAJumpOnlyWhenFollowJumpIsOnAndTheTargetExists) {
    load(0, 3, "jumper.mov");
    load(5, 12, "target.mov");
    load(0, 4, "after.mov");
    slot(0, 3).postRollMode = PostRollMode::jump;
    slot(0, 3).jumpTarget = JumpTarget{5, 12};

    at(0, 3);
    keyboard.onCutGo();
    EXPECT_EQ(where(), (std::pair{5, 12}));
    EXPECT_EQ(playback.callsStartingWith("play 5 12").size(), 1u);

    show->followJump = false;
    at(0, 3);
    keyboard.onCutGo();
    EXPECT_EQ(where(), (std::pair{0, 4}));

    show->followJump = true;
    for (const JumpTarget outside : {JumpTarget{20, 0}, JumpTarget{5, 40}, JumpTarget{-1, 0}}) {
        slot(0, 3).jumpTarget = outside;
        at(0, 3);
        keyboard.onCutGo();
        EXPECT_EQ(where(), (std::pair{0, 4}));
    }

    slot(0, 3).jumpTarget = JumpTarget{6, 1};  // an empty target goes to black there
    at(0, 3);
    playback.calls.clear();
    keyboard.onCutGo();
    EXPECT_EQ(where(), (std::pair{6, 1}));
    EXPECT_EQ(playback.calls, std::vector<std::string>{"postRoll black"});
}

TEST_F(CutGo, ArrowsWrapColumnsWithinTheRowAndClampRows) {
    struct Case {
        int from, dRow, dColumn, to;
    };
    for (const Case& c : {Case{10, 0, -1, 19}, Case{19, 0, 1, 10}, Case{3, -1, 0, 3},
                          Case{35, 1, 0, 35}, Case{5, 2, 0, 25}, Case{0, -1, -1, 9}}) {
        show->cursorSlot = c.from;
        keyboard.onMoveCursor(c.dRow, c.dColumn);
        EXPECT_EQ(show->cursorSlot.get(), c.to) << c.from;
    }
    EXPECT_TRUE(playback.calls.empty());
}

TEST_F(CutGo, SlotKeysAndReturnPlayOrToggleTheSelection) {
    load(2, 7, "a.mov");
    show->currentBank = 2;
    keyboard.onPlaySlot(7);
    EXPECT_EQ(show->cursorSlot.get(), 7);
    EXPECT_EQ(playback.callsStartingWith("play 2 7").size(), 1u);
    keyboard.onPlaySlot(40);  // beyond the bank
    EXPECT_EQ(show->cursorSlot.get(), 7);

    show->isSelectMode = true;
    playback.calls.clear();
    keyboard.onPlaySlot(3);
    keyboard.onEnter();
    keyboard.onPlaySlot(7);
    EXPECT_EQ(show->cursorSlot.get(), 7);
    EXPECT_EQ(show->selectedSlots.get(), (std::set<int>{7}));  // 3 in and out, 7 in
    EXPECT_TRUE(playback.calls.empty());
    show->cursorSlot = 6;
    keyboard.onCutGo();  // Cut Go ignores select mode
    EXPECT_EQ(playback.callsStartingWith("play 2 7").size(), 1u);
}

TEST_F(CutGo, BankKeysStopPauseAndStandby) {
    show->cursorSlot = 4;
    keyboard.onSelectBank(19);
    EXPECT_EQ(show->currentBank.get(), 19);
    keyboard.onSelectBank(20);
    EXPECT_EQ(show->currentBank.get(), 19);
    EXPECT_EQ(show->cursorSlot.get(), 4);

    keyboard.onStop();  // nothing on air: nothing
    EXPECT_TRUE(playback.calls.empty());
    load(19, 4, "a.mov");
    keyboard.onStandby();
    keyboard.onPause();
    keyboard.onStop();
    EXPECT_EQ(playback.calls, (std::vector<std::string>{"standby 19 4 /media/a.mov 1920x1080",
                                                        "pause", "postRoll black"}));
}

TEST_F(CutGo, TheHelpButtonShowsHidesAndShowsThePanel) {
    show->showHelpWindow();
    show->showHelpWindow();
    show->showHelpWindow();
    EXPECT_EQ(dialogs.helpPanelToggles, 3);
    EXPECT_TRUE(dialogs.helpPanelVisible);
    EXPECT_FALSE(dialogs.calls[0].texts[1].empty());
}

}  // namespace
}  // namespace kestio::test
