// The clip clocks in virtual time: the out point on the frame, the end of a still and of an
// audio-only clip, and the guards that keep one clip's steps off the next.

#include <gtest/gtest.h>

#include "platform/graphics/layer.h"
#include "platform/media/queue_player.h"
#include "playback_rig.h"

namespace kestio {
namespace {

class ClipClock : public ::testing::Test {
  protected:
    ClipClock() {
        rig.playRequests = false;
        rig.pc().onRequestPlay = [this](int bank, int slot) {
            requests.push_back({bank, slot});
            firedAt.push_back(rig.loop.now());
            firedItemTime.push_back(rig.surface().showingSlot().player()->currentTime());
        };
    }
    test::PlaybackRig rig;
    std::vector<SlotRef> requests;
    std::vector<platform::HostTime> firedAt;
    std::vector<double> firedItemTime;
};

TEST_F(ClipClock, TheOutPointFiresOnTheFrameBeforeItOnce) {
    struct Case {
        double fps;
        double outPoint;
    } cases[] = {{30.0, 10.0}, {29.97, 4.0}, {59.94, 3.0}};
    for (const auto& c : cases) {
        requests.clear();
        firedItemTime.clear();
        auto& slot = rig.editSlot(0, 0);
        slot.postRollMode = PostRollMode::next;
        slot.outPoint = c.outPoint;
        slot.clipInfo->fps = c.fps;
        rig.playSlot(0, 0);
        rig.advance(c.outPoint + 1.0);
        const double target = c.outPoint - 1.0 / c.fps;
        ASSERT_EQ(requests.size(), 1u) << c.fps;
        EXPECT_EQ(requests[0], (SlotRef{0, 1}));
        // On the frame: at the target, not a timer period after it.
        EXPECT_GE(firedItemTime[0], target - 1e-9) << c.fps;
        EXPECT_LE(firedItemTime[0], target + 1e-6) << c.fps;
    }
}

TEST_F(ClipClock, PositionIsPublishedAndNothingWhileTheTimelineIsDragged) {
    rig.playSlot(0, 0);
    rig.advance(1.0);
    const double published = rig.pc().currentTime.get();
    EXPECT_GT(published, 0.7);
    rig.pc().isSeeking = true;
    rig.pc().currentTime.set(7.5);
    rig.advance(1.0);
    EXPECT_EQ(rig.pc().currentTime.get(), 7.5);
    rig.pc().isSeeking = false;
    rig.advance(0.1);
    EXPECT_GT(rig.pc().currentTime.get(), published);
}

TEST_F(ClipClock, FreezeWithoutAnOutPointEndsATenthBeforeTheEnd) {
    rig.editSlot(0, 0).postRollMode = PostRollMode::freeze;
    rig.playSlot(0, 0);
    rig.advance(12.0);
    EXPECT_TRUE(rig.logHas("PostRoll: freeze BANK1 SLOT1"));
    const auto& player = *rig.surface().showingSlot().player();
    EXPECT_EQ(player.rateValue(), 0.0f);
    // Held one frame before the end of the 10 s clip.
    EXPECT_NEAR(player.currentTime(), 10.0 - 1001.0 / 60000.0, 1e-9);
}

TEST_F(ClipClock, NextWithoutAnOutPointEndsAtTheItemsEnd) {
    rig.editSlot(0, 0).postRollMode = PostRollMode::next;
    rig.playSlot(0, 0);
    rig.advance(12.0);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_NEAR(firedItemTime[0], 10.0, 1e-6);
}

TEST_F(ClipClock, AStillEndsAtItsDurationOnTheHostClock) {
    auto& still = rig.editSlot(0, 2);
    still.mediaType = MediaType::still;
    // Not a whole number of the clock's 0.05 s ticks.
    still.stillDuration = 4.97;
    still.postRollMode = PostRollMode::next;
    rig.playSlot(0, 2);
    rig.loop.runPending();
    const platform::HostTime shownAt = rig.loop.now();
    double latest = 0.0;
    auto watch = rig.pc().currentTime.subscribe([&](double t) { latest = std::max(latest, t); });
    rig.advance(6.0);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_NEAR(firedAt[0] - shownAt, 4.97, 1e-9);
    EXPECT_LE(latest, 4.97);
}

TEST_F(ClipClock, AnAudioOnlyClipRunsOnItsPlayersTimeFromInToOut) {
    rig.media.setScript("/media/b0s1.mp4",
                        test::FakeMediaScript{.duration = 30.0, .video = std::nullopt});
    auto& audio = rig.editSlot(0, 1);
    audio.mediaType = MediaType::audio;
    audio.inPoint = 2.0;
    audio.outPoint = 10.0;
    audio.clipInfo->duration = 30.0;
    audio.postRollMode = PostRollMode::next;
    rig.playSlot(0, 1);
    EXPECT_EQ(rig.pc().currentTime.get(), 2.0);
    EXPECT_EQ(rig.pc().duration.get(), 30.0);
    EXPECT_TRUE(rig.pc().onAirClip().audioOnly);
    rig.advance(12.0);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0], (SlotRef{0, 2}));
    EXPECT_NEAR(firedItemTime[0], 10.0, 1e-6);
    EXPECT_NEAR(rig.pc().currentTime.get(), 10.0, 1e-6);
}

TEST_F(ClipClock, AnAudioOnlyClipWithItsInPointPastTheEndHasNoClock) {
    rig.media.setScript("/media/b0s1.mp4",
                        test::FakeMediaScript{.duration = 30.0, .video = std::nullopt});
    auto& audio = rig.editSlot(0, 1);
    audio.mediaType = MediaType::audio;
    audio.inPoint = 12.0;
    audio.outPoint = 3.0;  // before the in point: a hand-edited document
    audio.postRollMode = PostRollMode::next;
    rig.playSlot(0, 1);
    rig.advance(2.0);
    EXPECT_TRUE(requests.empty());
}

TEST(StaleStart, TwoFiresThirtyMillisecondsApartLeaveTheSecondOnAir) {
    test::PlaybackRig rig;
    rig.playRequests = false;
    rig.editSlot(0, 0).outPoint = 0.2;
    rig.editSlot(0, 0).postRollMode = PostRollMode::black;
    rig.playSlot(0, 0);
    rig.advance(0.03);
    rig.playSlot(0, 1);
    for (int i = 0; i < 200; ++i) {
        rig.advance(0.01);
        // Once the second clip is up, the output never goes dark again.
        if (!rig.surface().showingA()) {
            EXPECT_EQ(rig.surface().slotB().containerLayer()->presentationOpacity(), 1.0f);
        }
    }
    EXPECT_FALSE(rig.surface().showingA());
    auto item = rig.surface().slotB().player()->current();
    ASSERT_TRUE(item);
    EXPECT_EQ(item->url(), "/media/b0s1.mp4");
    EXPECT_EQ(rig.pc().currentSlotIndex.get(), 1);
    EXPECT_FALSE(rig.logHas("PostRoll"));
}

TEST(StaleStart, APlayBetweenAnOutPointAndItsPostRollIsNotPostRolled) {
    test::PlaybackRig rig;
    rig.playRequests = false;
    rig.editSlot(0, 0).outPoint = 2.0;
    rig.editSlot(0, 0).postRollMode = PostRollMode::black;
    rig.editSlot(0, 2).postRollMode = PostRollMode::black;
    rig.playSlot(0, 0);
    rig.advance(1.5);
    // The operator fires the next cue in the turn the out point is decided, before its
    // post-roll runs.
    bool fired = false;
    auto operatorFires = rig.pc().currentTime.subscribe([&](double) {
        if (!fired && rig.pc().onAirClip().postRollFired) {
            fired = true;
            rig.playSlot(0, 2);
        }
    });
    rig.advance(1.0);
    ASSERT_TRUE(fired);
    operatorFires.reset();
    rig.advance(0.5);
    EXPECT_EQ(rig.pc().currentSlotIndex.get(), 2);
    EXPECT_FALSE(rig.logHas("PostRoll"));
    EXPECT_FALSE(rig.surface().slotA().isStill());
    EXPECT_EQ(rig.surface().showingSlot().containerLayer()->presentationOpacity(), 1.0f);
}

TEST(LayerSwitchGuard, ASecondSwitchWaitsForTheFirstsFiftyMilliseconds) {
    test::PlaybackRig rig;
    std::vector<platform::HostTime> cuts;
    rig.surface().onCutStarted = [&](bool) { cuts.push_back(rig.loop.now()); };
    rig.media.setScript("/media/b0s1.mp4",
                        test::FakeMediaScript{.readyDelay = 0.0, .seekDuration = 0.0});
    rig.playSlot(0, 0);
    while (cuts.empty()) {
        rig.advance(0.001, 0.001);
    }
    rig.playSlot(0, 1);
    rig.advance(0.2, 0.001);
    ASSERT_EQ(cuts.size(), 2u);
    EXPECT_GE(cuts[1] - cuts[0], 0.05 - 1e-9);
    EXPECT_LE(cuts[1] - cuts[0], 0.05 + 0.02 + 1e-9);
}

}  // namespace
}  // namespace kestio
