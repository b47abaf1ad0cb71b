// Warm-up playback and its wait, on scripted media in virtual time: what a warm-up reports,
// when, and that nothing reaches the output meanwhile.

#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "platform/audio/audio_player_node.h"
#include "playback/playback_steps.h"

namespace kestio {
namespace {

class WarmUpTest : public ::testing::Test {
  protected:
    WarmUpTest() {
        rig.pc().setWarming(true);
        rig.surface().setIsWarming(true);
    }

    // Scripts slot (bank, slot)'s file to be ready `readyDelay` seconds after it is opened.
    void script(int bank, int slot, double readyDelay) {
        test::FakeMediaScript fake;
        fake.readyDelay = readyDelay;
        rig.media.setScript(*rig.slot(bank, slot).videoURL, fake);
    }

    // Warms (bank, slot) as the show controller does: the play request, then the wait.
    void warm(int bank, int slot, double timeout) {
        rig.playSlot(bank, slot);
        rig.pc().waitForWarmReady(timeout, [this](bool ready) {
            answers.push_back(ready);
            answeredAt.push_back(rig.loop.now().seconds());
        });
    }

    // Nothing on air, nothing shown, nothing heard.
    void expectNothingOnTheOutput() {
        for (auto* slot : {&rig.surface().slotA(), &rig.surface().slotB()}) {
            EXPECT_EQ(slot->containerLayer()->opacity(), 0.0f);
            EXPECT_FALSE(slot->clipPlayer().startTime().get().has_value() &&
                         slot->audio().playerNode()->volume() > 0.0f)
                << "a warm-up is heard";
        }
        EXPECT_EQ(rig.pc().currentBankIndex.get(), std::nullopt);
        EXPECT_EQ(rig.pc().currentTime.get(), 0.0);
    }

    test::PlaybackRig rig;
    std::vector<bool> answers;
    std::vector<double> answeredAt;
};

// A video is prerolled on a player of its own: the wait ends ready when the preroll does, and no
// output slot is touched.
TEST_F(WarmUpTest, AVideoIsPrerolledOnAPlayerOfItsOwn) {
    script(0, 0, 0.3);
    warm(0, 0, 1.5);
    rig.loop.advance(0.29);
    EXPECT_TRUE(answers.empty());
    rig.loop.advance(0.02);
    ASSERT_EQ(answers, std::vector<bool>{true});
    EXPECT_NEAR(answeredAt[0], 0.3, 1e-9);
    EXPECT_FALSE(rig.surface().slotA().player()->current());
    EXPECT_FALSE(rig.surface().slotB().player()->current());
    EXPECT_EQ(test::logCount(rig, "ウォームアップ: BANK1 SLOT1 b0s0"), 1);
    expectNothingOnTheOutput();
    // The separate player is let go once it has reported.
    rig.loop.advance(0.1);
    EXPECT_EQ(rig.media.players().size(), 2u);
}

// A video that never becomes ready is not reported ready: its wait times out.
TEST_F(WarmUpTest, ATimeOutIsNotReady) {
    script(0, 0, 60.0);
    warm(0, 0, 5.0);
    rig.loop.advance(4.99);
    EXPECT_TRUE(answers.empty()) << "the 4 s warm-up time-out ended the wait";
    rig.loop.advance(0.02);
    ASSERT_EQ(answers, std::vector<bool>{false});
    EXPECT_NEAR(answeredAt[0], 5.0, 1e-9);
}

TEST_F(WarmUpTest, AFileThatFailsIsNotReady) {
    test::FakeMediaScript broken;
    broken.loads = false;
    rig.media.setScript(*rig.slot(0, 0).videoURL, broken);
    warm(0, 0, 1.5);
    rig.loop.advance(2.0);
    EXPECT_EQ(answers, std::vector<bool>{false});
}

// Slot 1's preroll ends after its wait gave up, while slot 2's wait runs: it must not end slot
// 2's wait, which ends when slot 2 is ready.
TEST_F(WarmUpTest, ALateSignalOfAnEarlierSlotIsDropped) {
    script(0, 0, 2.0);
    script(0, 1, 3.0);
    warm(0, 0, 1.5);
    rig.loop.advance(1.5);
    ASSERT_EQ(answers, std::vector<bool>{false});
    warm(0, 1, 5.0);
    rig.loop.advance(1.0);  // slot 1 would have been ready at 2.0
    EXPECT_EQ(answers.size(), 1u);
    rig.loop.advance(2.1);
    ASSERT_EQ(answers, (std::vector<bool>{false, true}));
    EXPECT_NEAR(answeredAt[1], 4.5, 1e-9);
}

// The signal and the time-out due in the same turn: the wait ends once, by whichever runs first.
TEST_F(WarmUpTest, ASignalAndTheTimeOutInOneTurnEndTheWaitOnce) {
    for (const bool signalFirst : {true, false}) {
        answers.clear();
        platform::TimerHandle signal;
        if (signalFirst) {
            signal = rig.loop.after(1.0, [this] { rig.pc().onWarmReady(); });
        }
        rig.pc().waitForWarmReady(1.0, [this](bool ready) { answers.push_back(ready); });
        if (!signalFirst) {
            signal = rig.loop.after(1.0, [this] {
                if (rig.pc().onWarmReady) {
                    rig.pc().onWarmReady();
                }
            });
        }
        // A step that copied the signal before the wait ended (as a switch step does) calls
        // it late.
        auto copied = rig.pc().onWarmReady;
        rig.loop.advance(2.0);
        copied();
        rig.loop.runPending();
        EXPECT_EQ(answers, std::vector<bool>{signalFirst}) << "signal first: " << signalFirst;
        EXPECT_FALSE(rig.pc().onWarmReady);
    }
}

// A still or a sound only reports ready, on a later turn, never inside the play request.
TEST_F(WarmUpTest, AStillOrASoundReportsOnALaterTurn) {
    for (const MediaType type : {MediaType::still, MediaType::audio}) {
        answers.clear();
        rig.editSlot(0, 2).mediaType = type;
        rig.editSlot(0, 2).postRollMode = PostRollMode::loop;
        rig.pc().waitForWarmReady(1.0, [this](bool ready) { answers.push_back(ready); });
        rig.playSlot(0, 2);
        EXPECT_TRUE(answers.empty());
        rig.loop.runPending();
        EXPECT_EQ(answers, std::vector<bool>{true});
        expectNothingOnTheOutput();
    }
}

// A new wait replaces one under way, which ends "not ready" rather than never.
TEST_F(WarmUpTest, AReplacedWaitEndsNotReady) {
    std::vector<bool> first;
    rig.pc().waitForWarmReady(5.0, [&](bool ready) { first.push_back(ready); });
    rig.pc().waitForWarmReady(5.0, [this](bool ready) { answers.push_back(ready); });
    rig.loop.runPending();
    EXPECT_EQ(first, std::vector<bool>{false});
    rig.pc().onWarmReady();
    rig.loop.runPending();
    EXPECT_EQ(answers, std::vector<bool>{true});
    EXPECT_EQ(first.size(), 1u);
}

// The warm-up of a whole 2x3 grid, slot by slot: each ready, and the output stays dark and
// silent throughout.
TEST_F(WarmUpTest, EverySlotOfAGridIsWarmedWithNothingOnTheOutput) {
    rig.project = test::makeProject(1, 2, 3);
    rig.editSlot(0, 4).postRollMode = PostRollMode::loop;
    rig.editSlot(0, 4).outPoint = 2.0;
    for (int slot = 0; slot < 6; ++slot) {
        warm(0, slot, 1.5);
        for (int i = 0; i < 150 && answers.size() <= std::size_t(slot); ++i) {
            // Only the looping slot loads a chain (the hidden slot's); a wait for the others'
            // would wait out its wall-time guard on every step.
            if (slot == 4) {
                test::settleLoad(rig, rig.surface().hiddenSlot().audio());
            }
            rig.loop.advance(0.01);
            expectNothingOnTheOutput();
        }
    }
    EXPECT_EQ(answers, std::vector<bool>(6, true));
    EXPECT_EQ(test::logCount(rig, "ウォームアップ: BANK1 SLOT6 b0s5"), 1);
}

TEST_F(WarmUpTest, SlotNumbersAreCountedFromOneInTheLog) {
    rig.project = test::makeProject(1, 2, 5);
    warm(0, 9, 1.5);
    EXPECT_EQ(test::logCount(rig, "ウォームアップ: BANK1 SLOT10 b0s9"), 1);
}

}  // namespace
}  // namespace kestio
