// Post-roll in its five modes, the next-slot rule and the faults around it.

#include <gtest/gtest.h>

#include "platform/graphics/layer.h"
#include "platform/runloop/console.h"
#include "playback_rig.h"

namespace kestio {
namespace {

class PostRoll : public ::testing::Test {
  protected:
    // Puts (bank, slot) on air and runs until its picture is switched in.
    void onAir(int bank, int slot) {
        rig.playSlot(bank, slot);
        rig.advance(0.5);
    }
    std::vector<std::string> lines(const std::string& fragment) {
        std::vector<std::string> found;
        for (const auto& line : rig.logLines()) {
            if (line.find(fragment) != std::string::npos) {
                found.push_back(line.substr(line.find("] ") + 2));
            }
        }
        return found;
    }
    test::PlaybackRig rig;
};

TEST_F(PostRoll, NextRunsThroughTheBankIntoTheNextAndEndsInBlackAfterTheLast) {
    rig.playRequests = false;
    onAir(0, 3);
    rig.pc().handlePostRoll(PostRollMode::next);
    ASSERT_EQ(rig.requests.size(), 1u);
    EXPECT_EQ(rig.requests[0], (SlotRef{1, 0}));
    onAir(1, 3);
    rig.pc().handlePostRoll(PostRollMode::next);
    EXPECT_EQ(rig.requests.size(), 1u);
    EXPECT_EQ(lines("PostRoll"),
              (std::vector<std::string>{
                  "PostRoll: next BANK1 SLOT4", "PostRoll Next: BANK1 → BANK2 SLOT1",
                  "PostRoll: next BANK2 SLOT4", "PostRoll: black BANK2 SLOT4"}));
    EXPECT_FALSE(rig.pc().currentBankIndex.get());
}

// A post-roll acts on what the output holds, never on what is only published: a slot named on
// the panel but not on air has no post-roll; a still still being decoded for air is ended by a
// black.
enum class Held { publishedOnly, stillOnItsWay };

class PostRollOnTheOutput : public PostRoll, public ::testing::WithParamInterface<Held> {};

TEST_P(PostRollOnTheOutput, ActsOnWhatTheOutputHolds) {
    rig.playRequests = false;
    const bool published = GetParam() == Held::publishedOnly;
    if (published) {
        rig.pc().currentBankIndex.set(0);
        rig.pc().currentSlotIndex.set(3);
    } else {
        rig.editSlot(0, 3).mediaType = MediaType::still;
        rig.playSlot(0, 3);
    }
    rig.pc().handlePostRoll(published ? PostRollMode::next : PostRollMode::black);
    rig.advance(0.5);
    EXPECT_TRUE(rig.requests.empty());
    EXPECT_FALSE(rig.surface().foreground()) << "something went on air";
    EXPECT_EQ(lines("PostRoll"), published
                                     ? std::vector<std::string>{}
                                     : std::vector<std::string>{"PostRoll: black BANK1 SLOT4"});
}

INSTANTIATE_TEST_SUITE_P(Holds, PostRollOnTheOutput,
                         ::testing::Values(Held::publishedOnly, Held::stillOnItsWay));

TEST_F(PostRoll, TheNextSlotRuleStopsAtEmptySlotsAndReadsNoShortBankPastItsEnd) {
    auto& project = rig.project;
    // The controller's own policy, reading the project through the controller's provider.
    const PostRollPolicy policy{rig.pc().projectProvider};
    EXPECT_EQ(policy.nextTarget(0, 0), (SlotRef{0, 1}));
    project.banks[0].slots[1].videoURL.reset();
    // An empty slot ends the run of the bank: the next bank's first slot follows.
    EXPECT_EQ(policy.nextTarget(0, 0), (SlotRef{1, 0}));
    project.banks[0].slots.resize(2);  // a short bank from a hand-edited document
    EXPECT_EQ(policy.nextTarget(0, 1), (SlotRef{1, 0}));
    project.banks[1].slots.clear();
    EXPECT_EQ(policy.nextTarget(0, 1), std::nullopt);
    EXPECT_EQ(policy.nextTarget(1, 3), std::nullopt);  // last bank: no wrap
    project.rows = 0;
    EXPECT_EQ(policy.nextTarget(0, 0), std::nullopt);
    rig.pc().projectProvider = nullptr;
    EXPECT_EQ(policy.nextTarget(0, 0), std::nullopt);
}

TEST_F(PostRoll, BlackEmptiesTheOutputAndPublishesIdleButKeepsThePreload) {
    onAir(0, 0);
    rig.pc().handlePostRoll(PostRollMode::black);
    EXPECT_FALSE(rig.pc().currentBankIndex.get());
    EXPECT_FALSE(rig.pc().currentSlotIndex.get());
    EXPECT_EQ(rig.pc().selectedClipName.get(), "No Selection");
    EXPECT_EQ(rig.pc().currentTime.get(), 0.0);
    EXPECT_EQ(rig.pc().duration.get(), 0.0);
    EXPECT_EQ(rig.pc().vuLevels.get(), std::vector<float>(8, -100.0f));
    EXPECT_TRUE(rig.surface().showingA());
    EXPECT_EQ(rig.surface().slotA().containerLayer()->presentationOpacity(), 0.0f);
    EXPECT_EQ(rig.surface().slotB().containerLayer()->presentationOpacity(), 0.0f);
    EXPECT_FALSE(rig.surface().slotB().player()->current());
    // Nothing on air: a second black does nothing, not even a line.
    rig.pc().handlePostRoll(PostRollMode::black);
    EXPECT_EQ(lines("PostRoll: black").size(), 1u);
}

TEST_F(PostRoll, AJumpOutsideTheProjectFreezesWithAWarning) {
    rig.editSlot(0, 0).postRollMode = PostRollMode::jump;
    rig.editSlot(0, 0).jumpTarget = JumpTarget{40, 2};
    rig.playRequests = false;
    onAir(0, 0);
    platform::Console::Capture console;
    rig.pc().handlePostRoll(PostRollMode::jump);
    EXPECT_TRUE(rig.requests.empty());
    rig.pc().playLog().flush();  // its console lines are written
    EXPECT_TRUE(console.contains("⚠️ JUMP: target not set, freezing"));
    EXPECT_EQ(lines("PostRoll"), (std::vector<std::string>{"PostRoll: jump BANK1 SLOT1",
                                                           "PostRoll: freeze BANK1 SLOT1"}));
    EXPECT_EQ(rig.pc().currentBankIndex.get(), 0);

    rig.editSlot(0, 0).jumpTarget = JumpTarget{1, 2};
    rig.pc().handlePostRoll(PostRollMode::jump);
    ASSERT_EQ(rig.requests.size(), 1u);
    EXPECT_EQ(rig.requests[0], (SlotRef{1, 2}));
}

TEST_F(PostRoll, FreezeHoldsTheFrameOneFrameBeforeTheOutPoint) {
    rig.editSlot(0, 0).outPoint = 5.0;
    rig.media.setDefaultScript(test::FakeMediaScript{.video = test::FakeMediaScript::Video{25.0}});
    onAir(0, 0);
    rig.advance(1.0);
    rig.pc().handlePostRoll(PostRollMode::freeze);
    rig.advance(0.5);
    EXPECT_EQ(lines("freeze seek"),
              std::vector<std::string>{"freeze seek: outPoint=5.0 target=4.96"});
    const auto& player = *rig.surface().slotB().player();
    EXPECT_EQ(player.rateValue(), 0.0f);
    // Within the last frame's interval [4.96, 5.0).
    EXPECT_NEAR(player.currentTime(), 4.98, 1e-9);
    // The picture stays there.
    rig.advance(1.0);
    EXPECT_NEAR(player.currentTime(), 4.98, 1e-9);
}

TEST_F(PostRoll, LoopOfAClipPlaysItAgainAndOfAStillRunsItsTimeAgain) {
    rig.playRequests = false;
    onAir(0, 0);
    rig.pc().handlePostRoll(PostRollMode::loop);
    ASSERT_EQ(rig.requests.size(), 1u);
    EXPECT_EQ(rig.requests[0], (SlotRef{0, 0}));

    rig.editSlot(0, 1).mediaType = MediaType::still;
    rig.editSlot(0, 1).stillDuration = 2.0;
    rig.editSlot(0, 1).postRollMode = PostRollMode::loop;
    rig.playSlot(0, 1);
    rig.advance(1.5);
    EXPECT_NEAR(rig.pc().currentTime.get(), 1.5, 0.051);
    rig.advance(1.0);  // the still's end: its loop starts its clock again
    EXPECT_NEAR(rig.pc().currentTime.get(), 0.5, 0.051);
    EXPECT_EQ(rig.requests.size(), 1u);
    EXPECT_EQ(lines("PostRoll: loop BANK1 SLOT2").size(), 1u);
}

}  // namespace
}  // namespace kestio
