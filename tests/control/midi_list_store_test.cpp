#include "control/midi_list_store.h"

#include <gtest/gtest.h>

#include "control/midi_list_panel_controller.h"
#include "model/localization_manager.h"
#include "platform/runloop/manual_run_loop.h"

namespace kestio {
namespace {

// A small project: 2 banks of 3 slots, with bindings set by the tests.
ProjectData smallProject() {
    ProjectData project(1, 3);
    project.banks.resize(2);
    return project;
}

std::vector<std::pair<int, int>> places(const std::vector<MIDIListStore::SlotRow>& rows) {
    std::vector<std::pair<int, int>> out;
    for (const auto& r : rows) {
        out.emplace_back(r.bank, r.slot);
    }
    return out;
}

std::vector<std::string> targets(const std::vector<MIDIControlAssignment>& rows) {
    std::vector<std::string> out;
    for (const auto& r : rows) {
        out.push_back(r.target);
    }
    return out;
}

TEST(MIDIListStore, RowsFollowWhatIsStoredInBankSlotAndBindingOrder) {
    ProjectData project = smallProject();
    auto& a = project.banks[0].slots[2];
    a.midiBindings = std::vector<MIDINoteBinding>{{1, 60}, {2, 10}, {1, 60}};
    a.midiOutputBinding = MIDINoteBinding{3, 40};
    project.banks[1].slots[0].midiOutputBinding = MIDINoteBinding{1, 1};  // output only
    project.banks[1].slots[1].midiBindings = std::vector<MIDINoteBinding>{};
    project.midiControlAssignments = {{"stop", 1, 5}, {"bank:0", 1, 6}};

    MIDIListStore store;
    store.update(project);
    ASSERT_EQ(store.slotRows.get().size(), 3u);
    EXPECT_EQ(store.slotRows.get()[1].binding, (MIDINoteBinding{2, 10}));
    EXPECT_EQ(store.slotRows.get()[0].name, a.name);
    EXPECT_EQ(places(store.outputRows.get()), (std::vector<std::pair<int, int>>{{0, 2}, {1, 0}}));
    EXPECT_EQ(targets(store.controlRows.get()), (std::vector<std::string>{"bank:0", "stop"}));

    const QUuid firstId = store.slotRows.get()[0].id;
    store.update(project);
    EXPECT_NE(store.slotRows.get()[0].id, firstId) << "every rebuild gives new identities";
    EXPECT_EQ(MIDIListStore::controlRowId({"bank:2", 1, 36}), "bank:2-1-36");
}

TEST(MIDIListStore, AProjectWithoutAssignmentsGivesThreeEmptyLists) {
    MIDIListStore store;
    store.update(smallProject());
    EXPECT_TRUE(store.slotRows.get().empty());
    EXPECT_TRUE(store.outputRows.get().empty());
    EXPECT_TRUE(store.controlRows.get().empty());
}

TEST(MIDIListStore, SortsAreStableAndStartFromThePreviousOrder) {
    ProjectData project = smallProject();
    project.banks[0].slots[0].name = "slot 10";
    project.banks[0].slots[0].midiBindings = std::vector<MIDINoteBinding>{{2, 0}};
    project.banks[0].slots[1].name = "Slot 2";
    project.banks[0].slots[1].midiBindings = std::vector<MIDINoteBinding>{{1, 60}};
    project.banks[1].slots[0].name = "Slot 2";
    project.banks[1].slots[0].midiBindings = std::vector<MIDINoteBinding>{{1, 60}};
    project.midiControlAssignments = {{"bank:10", 1, 1}, {"stop", 1, 0}, {"bank:2", 2, 0}};

    MIDIListStore store;
    store.update(project);
    EXPECT_EQ(places(store.slotRows.get()),
              (std::vector<std::pair<int, int>>{{0, 0}, {0, 1}, {1, 0}}));
    EXPECT_EQ(targets(store.controlRows.get()),
              (std::vector<std::string>{"bank:10", "bank:2", "stop"}));

    store.sortOrder = SortOrder::channelNote;
    EXPECT_EQ(places(store.slotRows.get()),
              (std::vector<std::pair<int, int>>{{0, 1}, {1, 0}, {0, 0}}));
    EXPECT_EQ(targets(store.controlRows.get()),
              (std::vector<std::string>{"stop", "bank:10", "bank:2"}));

    store.sortOrder = SortOrder::name;
    EXPECT_EQ(places(store.slotRows.get()),
              (std::vector<std::pair<int, int>>{{0, 1}, {1, 0}, {0, 0}}));
    EXPECT_EQ(targets(store.controlRows.get()),
              (std::vector<std::string>{"bank:2", "bank:10", "stop"}));
}

TEST(MIDIListStore, TargetLabels) {
    EXPECT_EQ(displayTarget("bank:0"), "BANK 1");
    EXPECT_EQ(displayTarget("bank:19"), "BANK 20");
    EXPECT_EQ(displayTarget("bank:+4"), "BANK 5");
    EXPECT_EQ(displayTarget("bank:-1"), "BANK 0");
    EXPECT_EQ(displayTarget("bank:"), "bank:");
    EXPECT_EQ(displayTarget("bank:1a"), "bank:1a");
    EXPECT_EQ(displayTarget("bank:+-1"), "bank:+-1");
    EXPECT_EQ(displayTarget("bank:9223372036854775806"), "BANK 9223372036854775807");
    EXPECT_EQ(displayTarget("bank:9223372036854775807"), "bank:9223372036854775807");
    EXPECT_EQ(displayTarget("bank:99999999999999999999"), "bank:99999999999999999999");
    EXPECT_EQ(displayTarget("stop"), "STOP");
    EXPECT_EQ(displayTarget("play"), "PLAY");
    EXPECT_EQ(displayTarget("pause"), "Pause");
    EXPECT_EQ(displayTarget("mute"), "MUTE");
    EXPECT_EQ(displayTarget("PLAY"), "PLAY");
    EXPECT_EQ(displayTarget("Stop"), "Stop");
}

TEST(MIDIListStore, NamesSortByTheLanguagesCollationIgnoringCaseAndReadingNumbers) {
    // Each list is given in reverse; the name order must give it back as written.
    const std::vector<std::vector<std::string>> orders = {
        {"Slot 2", "slot 10"},
        {"bank:2", "bank:10"},
        {"a", "ab"},
        {"Élan", "zeta", "Zulu"},
        {"slot 2", "ｓｌｏｔ 3", "slot 10"},
        {"アルバム", "カメラ", "きつね"},
    };
    for (AppLanguage language : kAllAppLanguages) {
        LocalizationManager::shared().language = language;
        for (const auto& expected : orders) {
            ProjectData project(1, static_cast<int>(expected.size()));
            for (std::size_t i = 0; i < expected.size(); ++i) {
                auto& slot = project.banks[0].slots[expected.size() - 1 - i];
                slot.name = expected[i];
                slot.midiBindings = std::vector<MIDINoteBinding>{{1, 1}};
            }
            MIDIListStore store;
            store.sortOrder = SortOrder::name;
            store.update(project);
            std::vector<std::string> names;
            for (const auto& row : store.slotRows.get()) {
                names.push_back(row.name);
            }
            EXPECT_EQ(names, expected) << rawValue(language);
        }
    }
    EXPECT_EQ(localizedStandardCompare("Clip", "clip"), 0);
    EXPECT_EQ(localizedStandardCompare("take 007", "take 7"), 0);
    EXPECT_GT(localizedStandardCompare("slot 10", "Slot 2"), 0);
}

class MIDIListPanelControllerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        project_.banks[0].slots[0].midiBindings = std::vector<MIDINoteBinding>{{1, 60}};
        controller_.store().update(project_);
        controller_.installOperations(
            {[this](int b, int s, const MIDINoteBinding&) {
                 calls_.push_back("clearSlot " + std::to_string(b) + " " + std::to_string(s));
                 project_.banks[b].slots[s].midiBindings = std::vector<MIDINoteBinding>{};
             },
             [this](const std::string& t) { calls_.push_back("clearControl " + t); },
             [this](int b, int s) {
                 calls_.push_back("edit " + std::to_string(b) + " " + std::to_string(s));
             },
             [this](int b, int s) {
                 calls_.push_back("clearOutput " + std::to_string(b) + " " + std::to_string(s));
             },
             [this] { calls_.push_back("dedup"); }},
            [this]() -> const ProjectData& { return project_; });
    }

    ProjectData project_ = smallProject();
    platform::ManualRunLoop loop_;
    MIDIListPanelController controller_{loop_};
    std::vector<std::string> calls_;
};

TEST_F(MIDIListPanelControllerTest, AnActionRunsAtOnceAndTheListFollows0_05sLater) {
    auto& store = controller_.store();
    store.onClearSlot(0, 0, {1, 60});
    EXPECT_EQ(calls_, std::vector<std::string>{"clearSlot 0 0"});
    EXPECT_EQ(store.slotRows.get().size(), 1u);
    loop_.advance(0.049);
    EXPECT_EQ(store.slotRows.get().size(), 1u);
    loop_.advance(0.002);
    EXPECT_TRUE(store.slotRows.get().empty());

    store.onDedup();
    store.onClearControl("stop");
    EXPECT_EQ(loop_.pendingCount(), 2u) << "each action schedules its own refresh";
}

TEST_F(MIDIListPanelControllerTest, RowsOutsideTheProjectAreNotActedOn) {
    auto& store = controller_.store();
    store.onClearOutput(5, 0);
    store.onEditOutput(0, 3);
    store.onClearSlot(-1, 0, {1, 1});
    EXPECT_TRUE(calls_.empty());
    store.onEditOutput(1, 2);
    EXPECT_EQ(calls_, std::vector<std::string>{"edit 1 2"});
}

TEST(MIDIListPanelController, ARefreshAfterTheControllerIsGoneDoesNothing) {
    platform::ManualRunLoop loop;
    ProjectData project = smallProject();
    auto controller = std::make_unique<MIDIListPanelController>(loop);
    controller->installOperations({}, [&]() -> const ProjectData& { return project; });
    controller->store().onDedup();
    controller.reset();
    EXPECT_NO_FATAL_FAILURE(loop.advance(1.0));
}

}  // namespace
}  // namespace kestio
