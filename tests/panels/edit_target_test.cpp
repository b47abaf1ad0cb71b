// The slot a panel's controls edit: it moves to the loaded slot only when the panel retargets,
// lets unfinished edits land on the slot it leaves, and writes nothing once the slot is gone.

#include <gtest/gtest.h>

#include "panels/edit_target.h"
#include "support/recording_panel_facade.h"

namespace kestio::panels {
namespace {

class EditTargetTest : public ::testing::Test {
  protected:
    EditTargetTest() {
        facade.slot(1, 2).name = "b1s2";
        facade.slot(1, 3).name = "b1s3";
    }
    // Retargets; returns the name of the slot aimed at while `leaving` ran, "-" for none, or ""
    // when it did not run.
    std::string retarget() {
        std::string left;
        target.retarget([&] { left = target.slot() ? target.slot()->name : "-"; });
        return left;
    }

    test::RecordingPanelFacade facade{3, 8};
    EditTarget target{facade};
};

TEST_F(EditTargetTest, LeavingRunsOnlyOnAChangeAndStillOnTheOldSlot) {
    struct Step {
        std::optional<int> bank;
        std::optional<int> slot;
        const char* left;
    };
    const Step steps[] = {{std::nullopt, std::nullopt, ""},
                          {1, 2, "-"},
                          {1, 2, ""},
                          {1, 3, "b1s2"},
                          {1, 99, "b1s3"},
                          {1, 99, ""},
                          {1, 3, "-"},
                          {std::nullopt, 3, "b1s3"}};
    for (const auto& step : steps) {
        facade.setLoaded(step.bank, step.slot);
        EXPECT_EQ(retarget(), step.left) << step.bank.value_or(-1) << " " << step.slot.value_or(-1);
    }
}

TEST_F(EditTargetTest, WritesTheSlotOfTheLastRetargetUntilItIsGone) {
    const auto rename = [](SlotData& slot) { slot.name = "edited"; };
    EXPECT_FALSE(target.write(rename));
    EXPECT_TRUE(facade.calls.empty());

    facade.setLoaded(1, 2);
    target.retarget([] {});
    facade.setLoaded(1, 3);  // not yet retargeted: edits still go to the slot begun on
    EXPECT_TRUE(target.write(rename));
    EXPECT_EQ(facade.slot(1, 2).name, "edited");
    EXPECT_EQ(facade.slot(1, 3).name, "b1s3");

    facade.projectData.banks.resize(1);  // a project replaced under the panel
    EXPECT_EQ(target.slot(), nullptr);
    EXPECT_FALSE(target.write(rename));
    EXPECT_EQ(facade.calls, (std::vector<std::string>{"edit 1 2", "refused edit 1 2"}));
}

}  // namespace
}  // namespace kestio::panels
