#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "show/loading_count.h"
#include "show/midi_routing.h"
#include "show/show_project.h"
#include "support/show_rig.h"

namespace kestio::test {
namespace {

// The open project alone, on the views' two cells.
struct ProjectCells {
    platform::Published<std::uint64_t> revision{0};
    platform::Published<bool> unsaved{false};
    ShowProject project{ProjectData(2, 3), revision, unsaved};
};

TEST(ShowProjectState, SlotAtAnswersOnlyForSlotsOfTheProject) {
    ProjectCells cells;
    cells.project.data().banks.resize(2);
    struct Case {
        int bank, slot;
        bool found;
    };
    const Case cases[] = {{0, 0, true},   {1, 5, true},   {1, 6, false},         {2, 0, false},
                          {-1, 0, false}, {0, -1, false}, {0x7fffffff, 0, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.bank) + "," + std::to_string(c.slot));
        EXPECT_EQ(cells.project.slotAt(c.bank, c.slot) != nullptr, c.found);
    }
}

TEST(ShowProjectState, ALateResultHoldsOnlyForItsProjectAndItsFile) {
    ProjectCells cells;
    cells.project.slotAt(0, 1)->videoURL = "/media/a.mov";
    const auto generation = cells.project.generation();
    EXPECT_TRUE(cells.project.stillHolds(generation, 0, 1, "/media/a.mov"));
    EXPECT_FALSE(cells.project.stillHolds(generation, 0, 1, "/media/b.mov"));
    EXPECT_FALSE(cells.project.stillHolds(generation, 0, 2, "/media/a.mov"));
    EXPECT_FALSE(cells.project.stillHolds(generation, 9, 1, "/media/a.mov"));

    ProjectData same(2, 3);
    same.banks[0].slots[1].videoURL = "/media/a.mov";
    cells.project.replace(std::move(same));
    EXPECT_EQ(cells.project.generation(), generation + 1);
    EXPECT_FALSE(cells.project.stillHolds(generation, 0, 1, "/media/a.mov"));
    EXPECT_TRUE(cells.project.stillHolds(generation + 1, 0, 1, "/media/a.mov"));
}

TEST(ShowProjectState, EachChangeIsTold_OnlyEditsMarkUnsaved) {
    ProjectCells cells;
    std::vector<bool> marks;
    auto subscription = cells.unsaved.subscribe([&](bool unsaved) { marks.push_back(unsaved); });
    cells.project.didChange();
    EXPECT_EQ(cells.revision.get(), 1u);
    EXPECT_FALSE(cells.unsaved.get());
    cells.project.setUnsaved();
    EXPECT_EQ(cells.revision.get(), 2u);
    cells.project.markSaved();
    EXPECT_EQ(cells.revision.get(), 2u);
    cells.project.replace(ProjectData(1, 1));
    EXPECT_EQ(cells.revision.get(), 3u);
    EXPECT_EQ(marks, (std::vector<bool>{true, false}));
}

TEST(ShowLoadingCount, IsLoadingWhileAnythingLoadsAndAnExtraEndIsIgnored) {
    platform::Published<bool> isLoading{false};
    LoadingCount loading(isLoading);
    loading.begin();
    loading.begin();
    loading.end();
    EXPECT_TRUE(isLoading.get());
    loading.end();
    EXPECT_FALSE(isLoading.get());
    loading.end();
    loading.begin();
    EXPECT_TRUE(loading.any());
}

// The routing made on its own, as the controller makes it: what a note does beyond MIDI comes
// out as its actions, and learning writes only the cells it was given.
class MIDIRoutingAlone : public ::testing::Test, public LoopbackShowParts {
  protected:
    MIDIRoutingAlone() {
        routing.setupMIDIInput();
        source = midiSystem.addSource("Pads");
        midi.start();
        loop.runPending();
    }
    void send(std::vector<std::uint8_t> bytes) {
        midiSystem.sendFromSource(source, bytes);
        loop.runPending();
    }

    FakeShowPlayback playback;
    FakeShowImporter importer{loop};
    ProjectCells cells;
    ShowContext context{.loop = loop,
                        .playback = playback,
                        .importer = importer,
                        .dialogs = dialogs,
                        .bookmarks = bookmarks,
                        .project = cells.project,
                        .diskWorker = nullptr};
    platform::Published<bool> learnMode{false};
    platform::Published<std::optional<MIDILearnTarget>> armed;
    std::vector<std::string> actions;
    MIDIRouting routing{
        context, midi, nullptr, MIDIRouting::LearnCells{learnMode, armed},
        MIDIRouting::Actions{
            .slotNote =
                [this](int bank, int slot) {
                    actions.push_back("slot " + std::to_string(bank) + " " + std::to_string(slot));
                },
            .selectBank = [this](int bank) { actions.push_back("bank " + std::to_string(bank)); },
            .stop = [this] { actions.push_back("stop"); },
        }};
    std::string source;
};

TEST_F(MIDIRoutingAlone, NotesAndControlsComeOutAsItsActions) {
    cells.project.slotAt(1, 4)->addMIDIBinding(1, 60);
    cells.project.data().midiControlAssignments = {
        {"bank:7", 1, 61}, {"bank:x", 1, 62}, {"stop", 2, 60}};
    send({0x90, 60, 100});
    send({0x90, 61, 100});
    send({0x90, 62, 100});
    send({0x91, 60, 100});
    EXPECT_EQ(actions, (std::vector<std::string>{"slot 1 4", "bank 7", "stop"}));
    EXPECT_TRUE(playback.calls.empty());
}

TEST_F(MIDIRoutingAlone, LearningWritesTheGivenCellsAndTheProject) {
    routing.toggleMIDILearnMode();
    routing.armMIDILearn(0, 2);
    EXPECT_TRUE(learnMode.get());
    EXPECT_EQ(armed.get(), MIDILearnTarget::forSlot(0, 2));
    send({0x92, 40, 100});
    EXPECT_FALSE(armed.get().has_value());
    EXPECT_TRUE(cells.unsaved.get());
    const auto& bindings = cells.project.slotAt(0, 2)->midiBindings;
    ASSERT_TRUE(bindings.has_value());
    EXPECT_EQ(*bindings, (std::vector<MIDINoteBinding>{{3, 40}}));
    EXPECT_TRUE(actions.empty());
}

}  // namespace
}  // namespace kestio::test
