// The post-roll policy's three answers, each read from the slot's record as it is when asked.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>

#include "playback/playback_rig.h"
#include "playback/post_roll_policy.h"

namespace kestio {
namespace {

class PostRollPolicyTest : public ::testing::Test {
  protected:
    SlotData& onAir() { return project.banks[0].slots[0]; }

    ProjectData project = test::makeProject(2);
    PostRollPolicy::ProjectProvider provider = [this]() -> std::optional<ProjectData> {
        return project;
    };
    PostRollPolicy policy{provider};
};

struct BeforeEnd {
    PostRollMode mode;
    std::optional<double> outPoint;
    double time;
    bool due;
};

class PostRollBeforeTheEnd : public PostRollPolicyTest,
                             public ::testing::WithParamInterface<BeforeEnd> {};

// The out point is due in every mode; without one only a freeze is, near the item's end.
TEST_P(PostRollBeforeTheEnd, IsDueByTheRecordAsItIsNow) {
    onAir().postRollMode = PostRollMode::next;
    EXPECT_FALSE(policy.isDueBeforeTheEnd({0, 0}, 9.95, 10.0));
    onAir().postRollMode = GetParam().mode;
    onAir().outPoint = GetParam().outPoint;
    EXPECT_EQ(policy.isDueBeforeTheEnd({0, 0}, GetParam().time, 10.0), GetParam().due);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PostRollBeforeTheEnd,
    ::testing::Values(BeforeEnd{PostRollMode::freeze, std::nullopt, 9.95, true},
                      BeforeEnd{PostRollMode::freeze, std::nullopt, 9.85, false},
                      BeforeEnd{PostRollMode::black, std::nullopt, 9.95, false},
                      BeforeEnd{PostRollMode::next, 5.0, 5.0, true},
                      BeforeEnd{PostRollMode::loop, 5.0, 4.9, false},
                      BeforeEnd{PostRollMode::freeze, 5.0, 9.95, true}));

TEST_F(PostRollPolicyTest, AnswersAtPlayAndAtTheEndFromTheCurrentRecord) {
    onAir().postRollMode = PostRollMode::next;
    EXPECT_EQ(policy.followerAtPlay({0, 0}), (SlotRef{0, 1}));
    EXPECT_EQ(policy.atEnd({0, 0}), PostRollMode::next);
    onAir().postRollMode = PostRollMode::jump;
    onAir().jumpTarget = JumpTarget{1, 2};
    EXPECT_EQ(policy.followerAtPlay({0, 0}), (SlotRef{1, 2}));
    EXPECT_EQ(policy.jumpTarget(0, 0), (SlotRef{1, 2}));
    onAir().jumpTarget = JumpTarget{7, 2};
    EXPECT_EQ(policy.jumpTarget(0, 0), std::nullopt);
    onAir().postRollMode = PostRollMode::black;
    EXPECT_EQ(policy.followerAtPlay({0, 0}), std::nullopt);
    EXPECT_EQ(policy.atEnd({0, 0}), PostRollMode::black);
    // A slot the project no longer has freezes.
    EXPECT_EQ(policy.atEnd({5, 0}), PostRollMode::freeze);
}

// A mode asked for the clip on air, the record it is asked with, and the step that carries it
// out (the slot it plays, the mode standing in for it, the play log's note).
struct ModeStep {
    const char* name;
    PostRollMode mode;
    SlotRef onAir;
    std::optional<JumpTarget> jumpTarget;
    PostRollAction action;
    std::optional<SlotRef> slot;
    std::optional<PostRollMode> standIn;
    std::optional<std::string> note;
};

class PostRollSteps : public PostRollPolicyTest, public ::testing::WithParamInterface<ModeStep> {};

TEST_P(PostRollSteps, EachModeIsCarriedOutByItsStep) {
    const ModeStep& row = GetParam();
    project.banks[std::size_t(row.onAir.bank)].slots[std::size_t(row.onAir.slot)].jumpTarget =
        row.jumpTarget;
    const PostRollStep step = policy.stepFor(row.mode, row.onAir);
    EXPECT_EQ(step.action, row.action);
    EXPECT_EQ(step.slot, row.slot);
    EXPECT_EQ(step.standIn, row.standIn);
    EXPECT_EQ(step.note, row.note);
}

// A loop released into a mode that plays another slot asks for it ahead of the seam, whether or
// not a slot is found then.
TEST(PostRollModes, OnlyModesThatPlayAnotherSlotStartAnotherClip) {
    const std::pair<PostRollMode, bool> modes[] = {
        {PostRollMode::next, true},   {PostRollMode::freeze, false}, {PostRollMode::loop, false},
        {PostRollMode::black, false}, {PostRollMode::jump, true},
    };
    for (const auto& [mode, starts] : modes) {
        EXPECT_EQ(PostRollPolicy::startsAnotherClip(mode), starts) << rawValue(mode);
    }
}

ModeStep row(const char* name, PostRollMode mode, SlotRef onAir,
             std::optional<JumpTarget> jumpTarget, PostRollAction action,
             std::optional<SlotRef> slot = std::nullopt,
             std::optional<PostRollMode> standIn = std::nullopt,
             std::optional<std::string> note = std::nullopt) {
    return ModeStep{name, mode, onAir, jumpTarget, action, slot, standIn, note};
}

constexpr auto kNone = std::nullopt;

INSTANTIATE_TEST_SUITE_P(
    Modes, PostRollSteps,
    ::testing::Values(
        row("NextInTheBank", PostRollMode::next, {0, 0}, kNone, PostRollAction::playSlot,
            SlotRef{0, 1}),
        row("NextIntoTheFollowingBank", PostRollMode::next, {0, 3}, kNone, PostRollAction::playSlot,
            SlotRef{1, 0}, kNone, "PostRoll Next: BANK1 → BANK2 SLOT1"),
        row("NextAfterTheLastSlotIsBlack", PostRollMode::next, {1, 3}, kNone, PostRollAction::black,
            kNone, PostRollMode::black),
        row("Freeze", PostRollMode::freeze, {0, 0}, kNone, PostRollAction::freezeOnLastFrame),
        row("Loop", PostRollMode::loop, {0, 0}, kNone, PostRollAction::restart),
        row("Black", PostRollMode::black, {0, 0}, kNone, PostRollAction::black),
        row("JumpToItsTarget", PostRollMode::jump, {0, 0}, JumpTarget{1, 2},
            PostRollAction::playSlot, SlotRef{1, 2}),
        row("JumpWithoutATargetFreezes", PostRollMode::jump, {0, 0}, kNone,
            PostRollAction::freezeOnLastFrame, kNone, PostRollMode::freeze),
        row("JumpOutsideTheProjectFreezes", PostRollMode::jump, {0, 0}, JumpTarget{7, 2},
            PostRollAction::freezeOnLastFrame, kNone, PostRollMode::freeze)),
    [](const ::testing::TestParamInfo<ModeStep>& param) { return std::string(param.param.name); });

// The step is read from the records when it is asked: a slot emptied or a target set while the
// clip played is the one honoured.
TEST_F(PostRollPolicyTest, AStepReadsTheRecordsAsTheyAreWhenAsked) {
    EXPECT_EQ(policy.stepFor(PostRollMode::next, {0, 0}).slot, (SlotRef{0, 1}));
    project.banks[0].slots[1].videoURL.reset();
    EXPECT_EQ(policy.stepFor(PostRollMode::next, {0, 0}).slot, (SlotRef{1, 0}));
    EXPECT_EQ(policy.stepFor(PostRollMode::jump, {0, 0}).action, PostRollAction::freezeOnLastFrame);
    onAir().jumpTarget = JumpTarget{1, 1};
    EXPECT_EQ(policy.stepFor(PostRollMode::jump, {0, 0}).slot, (SlotRef{1, 1}));
}

}  // namespace
}  // namespace kestio
