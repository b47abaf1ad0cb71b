#include <gtest/gtest.h>

#include <QApplication>
#include <QWidget>

#include "control/midi_list_panel_controller.h"
#include "grid/midi_assignments_panel.h"
#include "show/show_fixture.h"

namespace kestio::grid {
namespace {

class MidiAssignPanel : public test::ShowFixture {
  protected:
    MIDIListPanelController panels{loop};
    MIDIAssignmentsPanel panel{*show, panels};
};

TEST_F(MidiAssignPanel, ClearingABindingStoredTwiceRemovesBothAndMarksUnsaved) {
    slot(0, 3).midiBindings = std::vector<MIDINoteBinding>{{1, 60}, {2, 61}, {1, 60}};
    panel.clearSlotMIDIBinding(0, 3, {1, 60});
    EXPECT_EQ(*slot(0, 3).midiBindings, (std::vector<MIDINoteBinding>{{2, 61}}));
    EXPECT_TRUE(show->hasUnsavedChanges.get());
    panel.clearSlotMIDIBinding(0, 3, {2, 61});
    ASSERT_TRUE(slot(0, 3).midiBindings.has_value());  // an emptied list stays a list
    EXPECT_TRUE(slot(0, 3).midiBindings->empty());

    show->hasUnsavedChanges = false;
    panel.clearSlotMIDIBinding(0, 4, {1, 60});  // nothing there: still marked
    EXPECT_TRUE(show->hasUnsavedChanges.get());
    EXPECT_FALSE(slot(0, 4).midiBindings.has_value());
}

TEST_F(MidiAssignPanel, ClearingTheOutputNoteKeepsTheInputBindings) {
    slot(1, 2).midiBindings = std::vector<MIDINoteBinding>{{1, 60}};
    slot(1, 2).midiOutputBinding = MIDINoteBinding{3, 40};
    panel.clearSlotMIDIOutput(1, 2);
    EXPECT_FALSE(slot(1, 2).midiOutputBinding.has_value());
    EXPECT_EQ(slot(1, 2).midiBindings->size(), 1u);
    EXPECT_TRUE(show->hasUnsavedChanges.get());
}

TEST_F(MidiAssignPanel, ToggleShowsHidesAndShowsANewPanelWithAFreshList) {
    slot(0, 0).midiBindings = std::vector<MIDINoteBinding>{{1, 60}};
    panel.toggle();
    QWidget* first = panels.panel();
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(first->windowTitle(), "MIDI Assignments");
    EXPECT_EQ(first->size(), QSize(460, 560));
    EXPECT_EQ(panels.store().slotRows.get().size(), 1u);
    panel.toggle();
    EXPECT_FALSE(first->isVisible());
    slot(0, 1).midiBindings = std::vector<MIDINoteBinding>{{1, 61}};
    panel.toggle();
    EXPECT_NE(panels.panel(), nullptr);
    EXPECT_TRUE(panels.panel()->isVisible());
    EXPECT_EQ(panels.store().slotRows.get().size(), 2u);
    // Closed with its close button: the next press shows a new one at once.
    panels.panel()->close();
    panel.toggle();
    EXPECT_TRUE(panels.panel()->isVisible());
}

TEST_F(MidiAssignPanel, RowsActAndTheListRefreshesAfterAFiftiethOfASecondLater) {
    slot(0, 0).midiBindings = std::vector<MIDINoteBinding>{{1, 60}, {1, 60}};
    panel.toggle();
    ASSERT_EQ(panels.store().slotRows.get().size(), 2u);
    const auto row = panels.store().slotRows.get()[0];
    panels.store().onClearSlot(row.bank, row.slot, row.binding);
    EXPECT_TRUE(slot(0, 0).midiBindings->empty());
    EXPECT_EQ(panels.store().slotRows.get().size(), 2u);
    loop.advance(0.049);
    EXPECT_EQ(panels.store().slotRows.get().size(), 2u);
    loop.advance(0.002);
    EXPECT_TRUE(panels.store().slotRows.get().empty());
}

TEST_F(MidiAssignPanel, AStaleRowDoesNothing) {
    slot(5, 39).midiBindings = std::vector<MIDINoteBinding>{{1, 60}};
    slot(5, 39).midiOutputBinding = MIDINoteBinding{1, 61};
    panel.toggle();
    // Another project with fewer banks replaces the open one; the list is not rebuilt yet.
    ProjectData small(4, 10);
    small.banks.resize(2);
    project() = small;
    show->hasUnsavedChanges = false;
    panels.store().onClearSlot(5, 39, {1, 60});
    panels.store().onClearOutput(5, 39);
    panels.store().onEditOutput(5, 39);
    panel.clearSlotMIDIBinding(5, 39, {1, 60});
    panel.clearSlotMIDIOutput(-1, 0);
    EXPECT_FALSE(show->hasUnsavedChanges.get());
    EXPECT_TRUE(dialogs.calls.empty());
}

}  // namespace
}  // namespace kestio::grid
