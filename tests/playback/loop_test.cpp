// Looping and loop release on scripted media in virtual time: what the output shows at every
// moment across seams, when a release's post-roll is asked for, and the loop's log lines.

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "platform/audio/audio_player_node.h"
#include "platform/graphics/layer.h"
#include "playback/playback_rig.h"
#include "playback/playback_steps.h"
#include "support/fake_media.h"

namespace kestio {
namespace {

using test::FakeFrame;
using test::FakeQueuePlayer;

// Exactly 30 frames a second, so ranges on whole seconds start and end on frame edges.
constexpr double kFps = 30.0;
// The sampling step: several samples per frame, never on a frame's edge.
constexpr double kStep = 1.0 / 480.0;

struct Shown {
    int index = -1;  // -1: nothing (black)
    int samples = 0;
};

class LoopTest : public ::testing::Test {
  protected:
    LoopTest() {
        test::FakeMediaScript script;
        script.video = test::FakeMediaScript::Video{kFps, {1920, 1080}, 0};
        rig.media.setDefaultScript(script);
    }

    // Slot (0, 0) loops [in, out).
    void makeLoop(std::optional<double> in, std::optional<double> out) {
        auto& slot = rig.editSlot(0, 0);
        slot.postRollMode = PostRollMode::loop;
        slot.inPoint = in;
        slot.outPoint = out;
    }

    FakeQueuePlayer& showingPlayer() {
        return dynamic_cast<FakeQueuePlayer&>(*rig.surface().showingSlot().player());
    }

    void settleLoad(AudioEngineController& chain) { test::settleLoad(rig, chain); }

    // Warms slot (0, 0) up as the show controller does; true once the warm-up reported ready.
    bool warmUp() {
        rig.pc().setWarming(true);
        rig.surface().setIsWarming(true);
        bool ready = false;
        auto& hidden = rig.surface().hiddenSlot();
        rig.playSlot(0, 0);
        rig.pc().waitForWarmReady(5.0, [&](bool answer) { ready = answer; });
        for (int i = 0; i < 100 && !ready; ++i) {
            settleLoad(hidden.audio());
            rig.loop.advance(0.01);
        }
        return ready;
    }

    // Plays slot (0, 0) and runs until its loop is on air.
    void startLoopOnAir() {
        output::PlaybackSlot& target = rig.surface().hiddenSlot();
        rig.playSlot(0, 0);
        runUntilOnAir(target);
    }
    void runUntilOnAir(output::PlaybackSlot& target) {
        ASSERT_TRUE(test::runUntilOnAir(rig, target)) << "the loop never went on air";
        ASSERT_TRUE(rig.surface().showingSlot().isLooping());
    }

    // Samples what the slot on air shows every kStep for `seconds`; consecutive samples of one
    // picture are counted as one entry.
    std::vector<Shown> sample(double seconds) {
        std::vector<Shown> shown;
        const int steps = int(std::lround(seconds / kStep));
        for (int i = 0; i < steps; ++i) {
            rig.loop.advance(kStep);
            const auto frame = showingPlayer().frameShownAt(rig.loop.now());
            const int index = frame ? frame->index : -1;
            if (shown.empty() || shown.back().index != index) {
                shown.push_back({index, 0});
            }
            ++shown.back().samples;
        }
        return shown;
    }

    // The item time of the slot on air.
    double itemTime() { return showingPlayer().currentTime(); }
    // Runs until the item time of the slot on air reaches `time` (within one step).
    void runToItemTime(double time) {
        for (int i = 0; i < 100000 && itemTime() + 1e-9 < time; ++i) {
            rig.loop.advance(std::min(kStep, std::max(time - itemTime(), 1e-6)));
        }
    }

    int logCount(const std::string& fragment) { return test::logCount(rig, fragment); }

    test::PlaybackRig rig;
};

// A ranged loop, sampled over a hundred passes: every frame of the range once per pass, in
// order, each for a whole frame period; never a black, repeated or skipped picture at a seam.
TEST_F(LoopTest, AHundredPassesShowEveryFrameOfTheRangeOnceInOrder) {
    makeLoop(2.0, 3.0);
    startLoopOnAir();
    runToItemTime(2.0 + 0.5 / kFps);  // inside the range's first frame
    const int passes = 100;
    const auto shown = sample(double(passes));
    const int first = int(2.0 * kFps);
    const int last = int(3.0 * kFps) - 1;
    const int perFrame = int(std::lround(1.0 / kFps / kStep));
    ASSERT_GE(shown.size(), std::size_t(passes * (last - first + 1)));
    int expected = shown.front().index;
    ASSERT_GE(expected, first);
    for (std::size_t i = 0; i < shown.size(); ++i) {
        ASSERT_EQ(shown[i].index, expected) << "entry " << i;
        if (i > 0 && i + 1 < shown.size()) {
            EXPECT_NEAR(shown[i].samples, perFrame, 1)
                << "frame " << shown[i].index << ", entry " << i << ": shown for the wrong time";
        }
        expected = expected == last ? first : expected + 1;
    }
    EXPECT_GE(rig.surface().showingSlot().clipPlayer().loopCount(), passes);
    EXPECT_GE(logCount("🔁 ループ継ぎ目検知（currentItem切替）: "), passes);
    EXPECT_TRUE(rig.pc().isLooping());
}

TEST_F(LoopTest, PublishesTheRangeAndLogsItsStart) {
    makeLoop(2.0, 3.0);
    output::PlaybackSlot& target = rig.surface().hiddenSlot();
    rig.playSlot(0, 0);
    EXPECT_EQ(rig.pc().duration.get(), 3.0);
    runUntilOnAir(target);
    EXPECT_EQ(rig.pc().currentBankIndex.get(), 0);
    EXPECT_EQ(rig.pc().selectedClipName.get(), "b0s0");
    EXPECT_EQ(logCount("LoopVideo 開始: b0s0 IN=2.0 OUT=Optional(3.0)"), 1);
    EXPECT_EQ(logCount("LoopVideo readyToPlay: b0s0 +"), 1);
    EXPECT_EQ(logCount("LoopVideo 表示切り替え: b0s0 +"), 1);
    rig.loop.advance(0.5);
    EXPECT_GE(rig.pc().currentTime.get(), 2.0);
    EXPECT_LT(rig.pc().currentTime.get(), 3.0);
}

TEST_F(LoopTest, WithoutAnOutPointTheDurationComesFromTheItem) {
    makeLoop(std::nullopt, std::nullopt);
    rig.editSlot(0, 0).videoURL = "/media/b0s0.mov";  // a whole ".mov" loops the whole item
    AudioEngineController& chain = rig.surface().hiddenSlot().audio();
    rig.playSlot(0, 0);
    EXPECT_EQ(rig.pc().duration.get(), 0.0);
    EXPECT_EQ(logCount("LoopVideo 開始: b0s0 IN=0.0 OUT=nil"), 1);
    for (int i = 0; i < 100 && rig.pc().duration.get() == 0.0; ++i) {
        settleLoad(chain);
        rig.loop.advance(0.01);
    }
    EXPECT_EQ(rig.pc().duration.get(), 10.0);
}

// When a release's post-roll is asked for, by mode and by how far the pass has come.
struct ReleaseCase {
    const char* name;
    PostRollMode mode;
    double releaseAt;  // item time of the release
    double appliedAt;  // item time the post-roll must be carried out at
    const char* line;
};

class LoopReleaseTest : public LoopTest, public ::testing::WithParamInterface<ReleaseCase> {};

TEST_P(LoopReleaseTest, AppliesThePostRollAtTheSeamAndTheLoopEndsThere) {
    const ReleaseCase& c = GetParam();
    makeLoop(0.0, 5.0);
    rig.editSlot(0, 0).jumpTarget = JumpTarget{1, 2};
    rig.playRequests = false;
    std::optional<platform::HostTime> requestedAt;
    rig.pc().onRequestPlay = [&](int, int) { requestedAt = rig.loop.now(); };
    startLoopOnAir();
    runToItemTime(c.releaseAt);
    const double releasedAt = itemTime();
    const platform::HostTime releasedHost = rig.loop.now();
    rig.pc().releaseLoop(c.mode);
    EXPECT_EQ(logCount(c.line), 1) << c.line;

    // Sample to well past the seam: the pass on air plays to its end and no pass follows.
    std::optional<platform::HostTime> appliedHost = requestedAt;
    int lastIndex = -1;
    bool restarted = false;
    for (int i = 0; i < int((c.appliedAt - c.releaseAt + 0.5) / kStep); ++i) {
        rig.loop.advance(kStep);
        if (!appliedHost && (requestedAt || !rig.pc().isLooping())) {
            appliedHost = requestedAt ? *requestedAt : rig.loop.now();
        }
        // What follows a post-roll of the same clip (freeze's frame) is not a pass.
        const bool watch =
            !appliedHost || c.mode == PostRollMode::next || c.mode == PostRollMode::jump;
        if (watch && rig.surface().showingSlot().player()->current()) {
            const auto frame = showingPlayer().frameShownAt(rig.loop.now());
            if (frame && frame->index < lastIndex) {
                restarted = true;
            }
            if (frame) {
                lastIndex = frame->index;
            }
        }
    }
    ASSERT_TRUE(appliedHost) << "the post-roll was never carried out";
    // The pass runs at rate 1 from the release to the seam.
    EXPECT_NEAR(releasedAt + (*appliedHost - releasedHost), c.appliedAt, kStep + 1e-9);
    EXPECT_FALSE(rig.pc().isLooping());
    EXPECT_FALSE(restarted) << "a pass began after the release";
    EXPECT_EQ(logCount("ループ解除完了（先回り切替）、postRoll="),
              c.releaseAt < c.appliedAt ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, LoopReleaseTest,
    ::testing::Values(
        ReleaseCase{"NextEarly", PostRollMode::next, 2.0, 4.9,
                    "ループ解除予約: 境目(5.00s)の0.1秒前で postRoll=next へ切り替え"},
        ReleaseCase{"JumpEarly", PostRollMode::jump, 1.0, 4.9,
                    "ループ解除予約: 境目(5.00s)の0.1秒前で postRoll=jump へ切り替え"},
        // Released in the last 50 ms of the pass: the clip that follows is asked for at once
        // and the loop ends at this seam, not a pass later.
        ReleaseCase{"NextInTheLast50ms", PostRollMode::next, 4.96, 4.96,
                    "ループ解除（境目直前のため即時切替）: postRoll=next"},
        ReleaseCase{"BlackAtTheSeam", PostRollMode::black, 2.0, 5.0,
                    "ループ解除予約: 境目(5.00s)で postRoll=black へ切り替え"},
        ReleaseCase{"BlackInTheLast50ms", PostRollMode::black, 4.96, 5.0,
                    "ループ解除予約: 境目(5.00s)で postRoll=black へ切り替え"},
        ReleaseCase{"FreezeAtTheSeam", PostRollMode::freeze, 3.0, 5.0,
                    "ループ解除予約: 境目(5.00s)で postRoll=freeze へ切り替え"}),
    [](const ::testing::TestParamInfo<ReleaseCase>& param) { return param.param.name; });

TEST_F(LoopTest, AReleaseWithoutAUsableSeamAppliesAtOnce) {
    makeLoop(0.0, 0.1);
    rig.playRequests = false;
    startLoopOnAir();
    rig.pc().releaseLoop(PostRollMode::next);
    EXPECT_EQ(logCount("ループ解除（境目不明のため即時切替）: postRoll=next"), 1);
    EXPECT_FALSE(rig.pc().isLooping());
    ASSERT_EQ(rig.requests.size(), 1u);
    EXPECT_EQ(rig.requests[0], (SlotRef{0, 1}));
}

TEST_F(LoopTest, AReleaseWhileNotLoopingDoesNothing) {
    rig.playRequests = false;
    rig.pc().releaseLoop(PostRollMode::next);
    EXPECT_EQ(logCount("ループ解除"), 0);
    EXPECT_TRUE(rig.requests.empty());
}

// A new play while a release is armed: the old loop's boundary never acts.
TEST_F(LoopTest, ANewPlayDropsAnArmedRelease) {
    makeLoop(0.0, 5.0);
    rig.playRequests = false;
    startLoopOnAir();
    runToItemTime(1.0);
    rig.pc().releaseLoop(PostRollMode::next);
    rig.playSlot(0, 2);
    rig.loop.advance(5.0);
    EXPECT_TRUE(rig.requests.empty());
    EXPECT_EQ(logCount("ループ解除完了"), 0);
}

// Warm-up leaves the loop running in the hidden slot, unseen and unheard, cued there as warming;
// the loop's start later takes the clip on air with its sound.
TEST_F(LoopTest, AWarmedLoopRunsHiddenAndSilent) {
    makeLoop(1.0, 2.0);
    auto& hidden = rig.surface().hiddenSlot();
    ASSERT_TRUE(warmUp());
    EXPECT_TRUE(hidden.isLooping());
    EXPECT_TRUE(hidden.clipPlayer().startTime().get().has_value()) << "the loop does not run";
    EXPECT_EQ(hidden.containerLayer()->opacity(), 0.0f);
    EXPECT_EQ(hidden.audio().playerNode()->volume(), 0.0f) << "a warmed loop is heard";
    ASSERT_TRUE(rig.surface().background());
    EXPECT_EQ(rig.surface().background()->state, output::CueState::warming);
    EXPECT_EQ(rig.surface().background()->url, rig.slot(0, 0).videoURL);
    EXPECT_EQ(rig.pc().currentBankIndex.get(), std::nullopt);
    EXPECT_EQ(logCount("ウォームアップ: BANK1 SLOT1 b0s0"), 1);

    rig.pc().setWarming(false);
    startLoopOnAir();
    EXPECT_FALSE(rig.surface().background());
    EXPECT_GT(rig.surface().showingSlot().audio().playerNode()->volume(), 0.0f);
}

// A loop cue always starts at its in point: one warmed, preloaded or taken off air and fired
// again runs nothing ahead, and its first picture on air is that of its in point. A preloaded
// one waits paused there and its first pass is the very item the preload opened.
struct FiredLoop {
    const char* name;
    // What happened to the loop before it is fired.
    enum { warmed, preloaded, firedAgainOverAClip } before;
};

class LoopStartsAtItsInPoint : public LoopTest, public ::testing::WithParamInterface<FiredLoop> {};

TEST_P(LoopStartsAtItsInPoint, WhateverRanBefore) {
    makeLoop(1.0, 2.0);
    std::shared_ptr<platform::media::PlayerItem> preloaded;
    switch (GetParam().before) {
        case FiredLoop::warmed:
            ASSERT_TRUE(warmUp());
            rig.pc().setWarming(false);
            break;
        case FiredLoop::preloaded: {
            const SlotData& data = rig.slot(0, 0);
            rig.pc().preloadNext(0, 0, *data.videoURL, data);
            ASSERT_TRUE(rig.pc().preloadedCue()) << "a loop was not preloaded";
            preloaded = rig.surface().hiddenSlot().player()->current();
            break;
        }
        case FiredLoop::firedAgainOverAClip:
            rig.pc().onRequestPreloadNext = [this](int bank, int slot) {
                const SlotData& data = rig.slot(bank, slot);
                rig.pc().preloadNext(bank, slot, *data.videoURL, data);
            };
            startLoopOnAir();
            ASSERT_TRUE(test::playUntilOnAir(rig, 0, 2));
            break;
    }
    // The loop runs on for a while wherever it was left running.
    rig.advance(0.6);
    EXPECT_FALSE(rig.surface().hiddenSlot().clipPlayer().startTime().get() &&
                 rig.surface().background() &&
                 rig.surface().background()->state != output::CueState::warming)
        << "a loop runs hidden ahead of its start";
    output::PlaybackSlot& target = rig.surface().hiddenSlot();
    if (preloaded) {
        EXPECT_DOUBLE_EQ(preloaded->currentTime(), 1.0) << "the preload left its in point";
    }
    rig.playSlot(0, 0);
    runUntilOnAir(target);
    const auto first = showingPlayer().frameShownAt(rig.loop.now());
    ASSERT_TRUE(first);
    EXPECT_EQ(first->index, int(std::lround(1.0 * kFps)));
    if (preloaded) {
        EXPECT_EQ(target.player()->current(), preloaded) << "the preloaded clip was opened again";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cues, LoopStartsAtItsInPoint,
    ::testing::Values(FiredLoop{"Warmed", FiredLoop::warmed},
                      FiredLoop{"Preloaded", FiredLoop::preloaded},
                      FiredLoop{"FiredAgainOverAClip", FiredLoop::firedAgainOverAClip}),
    [](const ::testing::TestParamInfo<FiredLoop>& param) { return param.param.name; });

// The loop's slot is ready to show its picture before decoding keeps up: the switch waits for
// the keep-up and happens once; a newer play made meanwhile leaves it never switched.
TEST_F(LoopTest, TheSwitchWaitsUntilTheSlotKeepsUp) {
    test::FakeMediaScript slow;
    slow.video = test::FakeMediaScript::Video{kFps, {1920, 1080}, 0};
    slow.prerollDelay = 0.5;
    rig.media.setScript(*rig.slot(0, 0).videoURL, slow);
    makeLoop(0.0, 2.0);
    rig.playSlot(0, 0);
    auto& incoming = rig.surface().hiddenSlot();
    std::optional<double> switchedAt;
    for (int i = 0; i < 300 && !switchedAt; ++i) {
        settleLoad(incoming.audio());
        rig.loop.advance(0.01);
        if (incoming.containerLayer()->opacity() == 1.0f) {
            switchedAt = rig.loop.now().seconds();
        }
    }
    ASSERT_TRUE(switchedAt);
    const auto item = incoming.player()->current();
    ASSERT_TRUE(item);
    EXPECT_TRUE(item->likelyToKeepUp());
    EXPECT_EQ(logCount("LoopVideo 表示切り替え: b0s0 +"), 1);
}

}  // namespace
}  // namespace kestio
