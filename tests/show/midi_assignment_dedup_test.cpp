#include "show/midi_assignment_dedup.h"

#include "show/midi_routing.h"
#include "show_fixture.h"

namespace kestio::test {
namespace {

ProjectData smallProject() {
    return ProjectData(1, 10);
}

std::vector<MIDINoteBinding> pairs(std::initializer_list<MIDINoteBinding> list) {
    return list;
}

TEST(MIDIAssignmentDedup, TheLowerBankThenTheLowerSlotThenTheEarlierBindingWins) {
    auto project = smallProject();
    project.banks[0].slots[5].midiBindings = pairs({{1, 60}});
    project.banks[2].slots[0].midiBindings = pairs({{1, 60}});
    project.banks[2].slots[1].midiBindings = pairs({{1, 60}, {1, 61}});
    project.banks[3].slots[4].midiBindings = pairs({{2, 10}, {2, 10}});

    EXPECT_EQ(deduplicateMIDIAssignments(project), 3);
    EXPECT_EQ(project.banks[0].slots[5].midiBindings, pairs({{1, 60}}));
    EXPECT_FALSE(project.banks[2].slots[0].midiBindings);  // emptied: absent
    EXPECT_EQ(project.banks[2].slots[1].midiBindings, pairs({{1, 61}}));
    EXPECT_EQ(project.banks[3].slots[4].midiBindings, pairs({{2, 10}}));
}

TEST(MIDIAssignmentDedup, AnySlotBindingBeatsAControlAndTheFirstControlBeatsTheRest) {
    auto project = smallProject();
    project.banks[7].slots[9].midiBindings = pairs({{1, 60}});
    project.banks[0].slots[0].midiOutputBinding = MIDINoteBinding{3, 70};
    project.midiControlAssignments = {
        {"stop", 1, 60}, {"play", 3, 70}, {"pause", 3, 70}, {"bank:2", 1, 61}};

    EXPECT_EQ(deduplicateMIDIAssignments(project), 2);
    EXPECT_EQ(project.midiControlAssignments,
              (std::vector<MIDIControlAssignment>{{"play", 3, 70}, {"bank:2", 1, 61}}));
    EXPECT_EQ(project.banks[0].slots[0].midiOutputBinding, (MIDINoteBinding{3, 70}));
}

TEST(MIDIAssignmentDedup, AbsentAndEmptyListsStayAsTheyWere) {
    auto project = smallProject();
    project.banks[0].slots[1].midiBindings = std::vector<MIDINoteBinding>{};
    const auto before = project;
    EXPECT_EQ(deduplicateMIDIAssignments(project), 0);
    ASSERT_TRUE(project.banks[0].slots[1].midiBindings);
    EXPECT_TRUE(project.banks[0].slots[1].midiBindings->empty());
    EXPECT_FALSE(project.banks[0].slots[2].midiBindings);
    EXPECT_EQ(project, before);
}

using ShowDedup = ShowFixture;

TEST_F(ShowDedup, LogsOnceAndMarksUnsavedOnlyWhenSomethingWasRemoved) {
    show->midiRouting().deduplicateMIDIAssignments();
    EXPECT_TRUE(playback.logLines.empty());
    EXPECT_FALSE(show->hasUnsavedChanges.get());

    slot(0, 0).midiBindings = pairs({{1, 1}, {1, 1}});
    slot(0, 1).midiBindings = pairs({{1, 1}});
    project().midiControlAssignments = {{"mute", 1, 1}};
    show->midiRouting().deduplicateMIDIAssignments();
    EXPECT_EQ(playback.logLines, std::vector<std::string>{
                                     "🧹 MIDIアサインの重複を 3件 整理しました"});
    EXPECT_TRUE(show->hasUnsavedChanges.get());
}

}  // namespace
}  // namespace kestio::test
