#include <gtest/gtest.h>

#include "grid/selection_actions.h"
#include "grid/slot_cell_actions.h"
#include "show/show_fixture.h"

namespace kestio::grid {
namespace {

class BatchActions : public test::ShowFixture {
  protected:
    SelectionActions selection{*show};
    SlotCellActions cells{*show, loop};

    void select(std::set<int> indices) {
        selection.setSelectMode(true);
        show->selectedSlots = std::move(indices);
    }
};

TEST_F(BatchActions, SelectModeAndTheSelectionChangeTogether) {
    show->selectedSlots = std::set<int>{4};
    selection.setSelectMode(true);
    EXPECT_TRUE(show->isSelectMode.get());
    EXPECT_TRUE(show->selectedSlots.get().empty());
    show->selectedSlots = std::set<int>{4};
    selection.setSelectMode(false);
    EXPECT_TRUE(show->selectedSlots.get().empty());
}

TEST_F(BatchActions, SelectAllComparesOnlyTheCount) {
    selection.setSelectMode(true);
    selection.toggleSelectAll();
    EXPECT_EQ(show->selectedSlots.get().size(), 40u);
    selection.toggleSelectAll();
    EXPECT_TRUE(show->selectedSlots.get().empty());
    std::set<int> almost;
    for (int i = 0; i < 39; ++i)
        almost.insert(i);
    show->selectedSlots = almost;
    selection.toggleSelectAll();
    EXPECT_EQ(show->selectedSlots.get().size(), 40u);
    // 40 members, not all of them slots of this bank: still counts as "all".
    std::set<int> odd;
    for (int i = 10; i < 50; ++i)
        odd.insert(i);
    show->selectedSlots = odd;
    selection.toggleSelectAll();
    EXPECT_TRUE(show->selectedSlots.get().empty());
    EXPECT_TRUE(show->isSelectMode.get());
}

TEST_F(BatchActions, BatchPostRollSkipsEmptySlotsAndLeavesSelectMode) {
    load(0, 1, "a.mp4");
    load(0, 3, "b.mp4");
    select({1, 2, 3, 77});
    selection.setPostRollForSelected(PostRollMode::next);
    EXPECT_EQ(slot(0, 1).postRollMode, PostRollMode::next);
    EXPECT_EQ(slot(0, 2).postRollMode, PostRollMode::freeze);
    EXPECT_EQ(slot(0, 3).postRollMode, PostRollMode::next);
    EXPECT_TRUE(show->hasUnsavedChanges.get());
    EXPECT_FALSE(show->isSelectMode.get());
    EXPECT_TRUE(show->selectedSlots.get().empty());
}

TEST_F(BatchActions, CopyKeepsOrderNotPositionsAndClearsTheSingleCopy) {
    load(0, 2, "two.mp4");
    load(0, 7, "seven.mp4");
    load(0, 30, "thirty.mp4");
    cells.perform(0, 2, {SlotCommandKind::copy});
    select({7, 2, 30});
    selection.copySelectedSlots();
    EXPECT_FALSE(show->slotClipboard.get().has_value());
    EXPECT_FALSE(show->isSelectMode.get());
    EXPECT_FALSE(show->hasUnsavedChanges.get());
    cells.click(0, 10);
    EXPECT_EQ(slot(0, 10).name, "two");
    EXPECT_EQ(slot(0, 11).name, "seven");
    EXPECT_EQ(slot(0, 12).name, "thirty");
    EXPECT_TRUE(show->multiSlotClipboard.get().empty());
}

TEST_F(BatchActions, DeleteNeverEmptiesTheSlotOnAir) {
    for (int i = 0; i < 4; ++i)
        load(0, i, "clip" + std::to_string(i) + ".mp4");
    slot(0, 1).midiBindings = std::vector<MIDINoteBinding>{{1, 60}};
    playback.setOnAir(0, 2);
    select({0, 1, 2, 3});
    selection.deleteSelectedSlots();
    EXPECT_EQ(slot(0, 0).name, "001");
    EXPECT_EQ(slot(0, 1).name, "002");
    EXPECT_EQ(slot(0, 2).name, "clip2");
    EXPECT_EQ(slot(0, 3).name, "004");
    EXPECT_FALSE(slot(0, 1).videoURL.has_value());
    EXPECT_FALSE(slot(0, 1).midiBindings.has_value());
    EXPECT_TRUE(show->hasUnsavedChanges.get());
    EXPECT_FALSE(show->isSelectMode.get());

    // Bank index 1: names count on from the bank's first slot (slot 5 is 046).
    show->selectBank(1);
    load(1, 5, "x.mp4");
    select({5});
    selection.deleteSelectedSlots();
    EXPECT_EQ(slot(1, 5).name, "046");
}

TEST_F(BatchActions, NothingSelectedChangesNothingAndStaysInSelectMode) {
    load(0, 1, "a.mp4");
    selection.setSelectMode(true);
    selection.setPostRollForSelected(PostRollMode::next);
    selection.copySelectedSlots();
    selection.deleteSelectedSlots();
    EXPECT_TRUE(show->isSelectMode.get());
    EXPECT_FALSE(show->hasUnsavedChanges.get());
    EXPECT_EQ(slot(0, 1).name, "a");
    EXPECT_TRUE(show->multiSlotClipboard.get().empty());
}

}  // namespace
}  // namespace kestio::grid
