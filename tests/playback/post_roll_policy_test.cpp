// The post-roll policy's three answers, each read from the slot's record as it is when asked.

#include <gtest/gtest.h>

#include <optional>

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

}  // namespace
}  // namespace kestio
