// The next-cue preload on scripted media in virtual time.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/audio/audio_player_node.h"
#include "playback/playback_steps.h"

namespace kestio {
namespace {

class PreloadTest : public ::testing::Test {
  protected:
    output::PlaybackSlot& hidden() { return rig.surface().hiddenSlot(); }
    std::size_t assetsOf(const std::filesystem::path& url) {
        std::size_t count = 0;
        for (const auto& asset : rig.media.assets()) {
            count += asset->url() == url ? 1 : 0;
        }
        return count;
    }
    void preload(int bank, int slot) {
        const SlotData& data = rig.slot(bank, slot);
        rig.pc().preloadNext(bank, slot, *data.videoURL, data);
    }

    test::PlaybackRig rig;
};

struct Refused {
    const char* name;
    MediaType type;
    PostRollMode postRoll;
    bool missing;
};

class PreloadRefused : public PreloadTest, public ::testing::WithParamInterface<Refused> {};

// A still, a sound and a file known to be missing are never preloaded, and an earlier preload
// stays as it was.
TEST_P(PreloadRefused, LeavesTheHiddenSlotAndTheEarlierPreload) {
    preload(0, 1);
    auto& slot = rig.editSlot(0, 2);
    slot.mediaType = GetParam().type;
    slot.postRollMode = GetParam().postRoll;
    slot.isFileMissing = GetParam().missing;
    const auto item = hidden().player()->current();
    preload(0, 2);
    ASSERT_TRUE(rig.pc().preloadedCue());
    EXPECT_EQ(rig.pc().preloadedCue()->ref, (SlotRef{0, 1}));
    EXPECT_EQ(rig.pc().preloadedCue()->url, rig.slot(0, 1).videoURL);
    EXPECT_EQ(hidden().player()->current(), item);
    EXPECT_EQ(assetsOf(*rig.slot(0, 2).videoURL), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, PreloadRefused,
    ::testing::Values(Refused{"Still", MediaType::still, PostRollMode::next, false},
                      Refused{"Audio", MediaType::audio, PostRollMode::next, false},
                      Refused{"MissingFile", MediaType::video, PostRollMode::next, true}),
    [](const ::testing::TestParamInfo<Refused>& param) { return param.param.name; });

TEST_F(PreloadTest, LoadsTheClipPausedAndHiddenAtItsInPoint) {
    auto& data = rig.editSlot(0, 1);
    data.inPoint = 1.5;
    data.audioSettings.masterLevel = -20.0f;
    preload(0, 1);
    ASSERT_TRUE(rig.pc().preloadedCue());
    EXPECT_EQ(rig.pc().preloadedCue()->ref, (SlotRef{0, 1}));
    EXPECT_EQ(rig.pc().preloadedCue()->url, data.videoURL);
    const auto item = hidden().player()->current();
    ASSERT_TRUE(item);
    EXPECT_EQ(item->url(), *data.videoURL);
    rig.loop.advance(0.5);
    EXPECT_EQ(hidden().player()->rateValue(), 0.0f);
    EXPECT_EQ(hidden().containerLayer()->opacity(), 0.0f);
    EXPECT_NEAR(hidden().audio().playerNode()->volume(), 0.1f, 1e-6);
    EXPECT_EQ(test::logCount(rig, "NextGo先読み開始: b0s1"), 1);
}

struct Level {
    float gainDb;
    bool outputMuted;
    bool audible;
};

class PreloadLevel : public PreloadTest, public ::testing::WithParamInterface<Level> {};

TEST_P(PreloadLevel, FollowsTheVolumeRuleWithTheOutputMute) {
    rig.editSlot(0, 1).audioSettings.masterLevel = GetParam().gainDb;
    if (GetParam().outputMuted) {
        rig.pc().toggleMute();
    }
    preload(0, 1);
    EXPECT_EQ(hidden().audio().playerNode()->volume() > 0.0f, GetParam().audible);
}

INSTANTIATE_TEST_SUITE_P(Gains, PreloadLevel,
                         ::testing::Values(Level{-40.0f, false, false}, Level{-39.9f, false, true},
                                           Level{0.0f, true, false}, Level{0.0f, false, true}));

// The preloaded slot played next is switched in without loading it again; a slot whose file was
// replaced (another URL) loads anew.
TEST_F(PreloadTest, ThePreloadedCueGoesOnAirWithoutALoad) {
    ASSERT_TRUE(test::playUntilOnAir(rig, 0, 0));
    preload(0, 1);
    const auto preloaded = hidden().player()->current();
    ASSERT_TRUE(preloaded);
    rig.loop.advance(0.5);
    ASSERT_TRUE(test::playUntilOnAir(rig, 0, 1));
    EXPECT_EQ(rig.surface().showingSlot().player()->current(), preloaded);
    EXPECT_EQ(assetsOf(*rig.slot(0, 1).videoURL), 1u);
    EXPECT_EQ(test::logCount(rig, "NextGo先読み使用: b0s1"), 1);
}

// A slot edited after its preload goes on air with its out point and colour as they are then.
TEST_F(PreloadTest, ASlotEditedAfterItsPreloadPlaysAsEdited) {
    ASSERT_TRUE(test::playUntilOnAir(rig, 0, 0));
    preload(0, 1);
    const auto preloaded = hidden().player()->current();
    ASSERT_TRUE(preloaded);
    rig.loop.advance(0.5);
    rig.editSlot(0, 1).outPoint = 2.5;
    rig.editSlot(0, 1).colorSettings.brightness = 0.1f;
    ASSERT_TRUE(test::playUntilOnAir(rig, 0, 1));
    auto& showing = rig.surface().showingSlot();
    ASSERT_EQ(showing.player()->current(), preloaded);
    EXPECT_EQ(preloaded->forwardPlaybackEndTime(), 2.5);
    EXPECT_EQ(showing.colorSettingsBox().value().brightness, 0.1f);
}

struct AtOnce {
    const char* name;
    double inPoint;
    TransitionMode transition;
};

class PreloadAtOnce : public PreloadTest, public ::testing::WithParamInterface<AtOnce> {};

// A preloaded cue whose first picture is ready is on air when play() returns, showing the
// picture of its in point (never the file's first one), before any turn of the run loop; the
// clip then starts from there.
TEST_P(PreloadAtOnce, IsOnAirWhenPlayReturns) {
    ASSERT_TRUE(test::playUntilOnAir(rig, 0, 0));
    auto& data = rig.editSlot(0, 1);
    data.inPoint = GetParam().inPoint;
    data.transitionMode = GetParam().transition;
    data.dissolveDuration = 0.5;
    preload(0, 1);
    rig.advance(0.5);
    auto& target = hidden();
    const int inPointFrame =
        rig.media.script(*data.videoURL).frameIndexAt(GetParam().inPoint, 10.0);
    rig.playSlot(0, 1);
    ASSERT_EQ(&rig.surface().showingSlot(), &target);
    EXPECT_EQ(target.containerLayer()->opacity(), 1.0f);
    const auto shown = test::fakePlayer(target).frameShownAt(rig.loop.now());
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->index, inPointFrame);
    EXPECT_EQ(shown->urlTag, test::fakeUrlTag(*data.videoURL));

    ASSERT_TRUE(test::runUntilOnAir(rig, target));
    const auto started = test::fakePlayer(target).frameShownAt(rig.loop.now());
    ASSERT_TRUE(started);
    EXPECT_GE(started->index, inPointFrame);
    EXPECT_LE(started->index, inPointFrame + 3);
}

INSTANTIATE_TEST_SUITE_P(
    Cues, PreloadAtOnce,
    ::testing::Values(AtOnce{"FromTheStartCut", 0.0, TransitionMode::cut},
                      AtOnce{"FromAnInPointCut", 1.5, TransitionMode::cut},
                      AtOnce{"FromAnInPointDissolve", 1.5, TransitionMode::dissolve}),
    [](const ::testing::TestParamInfo<AtOnce>& param) { return param.param.name; });

struct Loaded {
    const char* name;
    double inPoint;
    TransitionMode transition;
    // Switched in before the clip's start (standing on its in-point picture).
    bool beforeTheStart;
};

class LoadedAtPlay : public PreloadTest, public ::testing::WithParamInterface<Loaded> {};

// The same cues with nothing preloaded, their sound's read-ahead slow: the clip on air stays,
// whole, until the cue's slot shows its in-point picture; a cut goes in then and the clip stands
// there until picture and sound start together, a dissolve (which fades in from the start) waits
// for the start. The clip player is asked to start as soon as the slot's sound has loaded.
TEST_P(LoadedAtPlay, GoesOnAirFromItsInPointPicture) {
    ASSERT_TRUE(test::playUntilOnAir(rig, 0, 0));
    auto& onAir = rig.surface().showingSlot();
    const auto onAirTag = test::fakeUrlTag(*rig.slot(0, 0).videoURL);
    auto& data = rig.editSlot(0, 1);
    data.inPoint = GetParam().inPoint;
    data.transitionMode = GetParam().transition;
    data.dissolveDuration = 0.5;
    auto& target = hidden();
    auto& clipPlayer = test::fakeClipPlayer(target);
    clipPlayer.soundReadyDelay = 0.3;
    clipPlayer.clearCalls();
    const int inPointFrame =
        rig.media.script(*data.videoURL).frameIndexAt(GetParam().inPoint, 10.0);
    const auto playedAt = rig.loop.now();
    rig.playSlot(0, 1);
    for (int i = 0; i < 200 && &rig.surface().showingSlot() != &target; ++i) {
        const auto shown = test::fakePlayer(onAir).frameShownAt(rig.loop.now());
        ASSERT_TRUE(shown);
        EXPECT_EQ(shown->urlTag, onAirTag);
        EXPECT_EQ(onAir.containerLayer()->opacity(), 1.0f);
        rig.settleLoads();
        rig.loop.advance(0.005);
    }
    ASSERT_EQ(&rig.surface().showingSlot(), &target);
    const auto first = test::fakePlayer(target).frameShownAt(rig.loop.now());
    ASSERT_TRUE(first);
    EXPECT_EQ(first->urlTag, test::fakeUrlTag(*data.videoURL));
    EXPECT_EQ(first->index, inPointFrame);
    EXPECT_EQ(target.clipPlayer().startTime().get().has_value(), !GetParam().beforeTheStart);
    const auto& calls = clipPlayer.calls();
    const auto start = std::find_if(calls.begin(), calls.end(), [](const auto& call) {
        return call.kind == test::FakeClipPlayer::Call::Kind::Play;
    });
    ASSERT_NE(start, calls.end());
    EXPECT_EQ(start->hostTime, playedAt);
    ASSERT_TRUE(test::runUntilOnAir(rig, target));
}

INSTANTIATE_TEST_SUITE_P(
    Cues, LoadedAtPlay,
    ::testing::Values(Loaded{"FromTheStartCut", 0.0, TransitionMode::cut, true},
                      Loaded{"FromAnInPointCut", 1.5, TransitionMode::cut, true},
                      Loaded{"FromAnInPointDissolve", 1.5, TransitionMode::dissolve, false}),
    [](const ::testing::TestParamInfo<Loaded>& param) { return param.param.name; });

// A cue put on air in the play call asks for its follower's preload on a later turn: the cut
// reaches the views before the follower's file is opened.
TEST_F(PreloadTest, TheFollowerOfACueOnAirAtOnceIsAskedForOnALaterTurn) {
    ASSERT_TRUE(test::playUntilOnAir(rig, 0, 0));
    rig.editSlot(0, 1).postRollMode = PostRollMode::next;
    preload(0, 1);
    rig.advance(0.5);
    auto& target = hidden();
    rig.preloadRequests.clear();
    rig.playSlot(0, 1);
    ASSERT_EQ(&rig.surface().showingSlot(), &target);
    EXPECT_TRUE(rig.preloadRequests.empty());
    rig.advance(0.0);
    ASSERT_EQ(rig.preloadRequests.size(), 1u);
    EXPECT_EQ(rig.preloadRequests[0], (SlotRef{0, 2}));
}

// A cue played before its preload is ready (its picture at the in point still to come) is
// switched in only once the clip has started there.
TEST_F(PreloadTest, ANotYetReadyPreloadSwitchesOnceStarted) {
    ASSERT_TRUE(test::playUntilOnAir(rig, 0, 0));
    auto& data = rig.editSlot(0, 1);
    data.inPoint = 1.5;
    preload(0, 1);
    rig.advance(0.05);
    auto& target = hidden();
    rig.playSlot(0, 1);
    EXPECT_NE(&rig.surface().showingSlot(), &target);
    ASSERT_TRUE(test::runUntilOnAir(rig, target));
    const auto shown = test::fakePlayer(target).frameShownAt(rig.loop.now());
    ASSERT_TRUE(shown);
    EXPECT_GE(shown->index, rig.media.script(*data.videoURL).frameIndexAt(1.5, 10.0));
}

TEST_F(PreloadTest, AReplacedFileIsNoMatch) {
    ASSERT_TRUE(test::playUntilOnAir(rig, 0, 0));
    preload(0, 1);
    rig.editSlot(0, 1).videoURL = "/media/replaced.mp4";
    ASSERT_TRUE(test::playUntilOnAir(rig, 0, 1));
    EXPECT_EQ(rig.surface().showingSlot().player()->current()->url(),
              std::filesystem::path("/media/replaced.mp4"));
    EXPECT_FALSE(rig.pc().preloadedCue());
}

// While the clip on air dissolves in, the hidden slot still shows the outgoing picture: the
// preload waits for the fade to end instead of replacing it.
TEST_F(PreloadTest, WaitsForADissolveToEnd) {
    ASSERT_TRUE(test::playUntilOnAir(rig, 0, 0));
    auto& data = rig.editSlot(0, 2);
    data.transitionMode = TransitionMode::dissolve;
    data.dissolveDuration = 1.0;
    ASSERT_TRUE(test::playUntilOnAir(rig, 0, 2));
    ASSERT_TRUE(hidden().containerLayer()->hasAnimation(output::PlaybackSlot::kFadeOut));
    const auto outgoing = hidden().player()->current();
    preload(0, 3);
    EXPECT_EQ(hidden().player()->current(), outgoing);
    EXPECT_FALSE(rig.pc().preloadedCue());
    rig.loop.advance(1.2);
    ASSERT_TRUE(hidden().player()->current());
    EXPECT_EQ(hidden().player()->current()->url(), *rig.slot(0, 3).videoURL);
    ASSERT_TRUE(rig.pc().preloadedCue());
    EXPECT_EQ(rig.pc().preloadedCue()->ref, (SlotRef{0, 3}));
}

// A next cue of another channel count and rate leaves the clip on air playing and heard.
TEST_F(PreloadTest, NeverSilencesTheClipOnAir) {
    ASSERT_TRUE(test::playUntilOnAir(rig, 0, 0));
    auto& onAir = rig.surface().showingSlot();
    const float volume = onAir.audio().playerNode()->volume();
    const std::size_t calls = test::fakeClipPlayer(onAir).calls().size();
    auto& next = rig.editSlot(0, 1);
    next.clipInfo->channels = 6;
    next.clipInfo->sampleRate = 96000.0;
    preload(0, 1);
    rig.loop.advance(0.5);
    EXPECT_EQ(test::fakeClipPlayer(onAir).calls().size(), calls);
    EXPECT_TRUE(onAir.clipPlayer().startTime().get());
    EXPECT_EQ(onAir.audio().playerNode()->volume(), volume);
    EXPECT_EQ(&rig.surface().showingSlot(), &onAir);
}

// ---- Looping cues ----

struct TakenOffAir {
    const char* name;
    MediaType type;
    PostRollMode postRoll;
    TransitionMode transition;
    // The loop plays in slot A, under slot B: a dissolve to B fades B in over it.
    bool loopInLowerSlot;
    // The slots of bank 0 whose preload is asked for once the cue is on air: only the cue's own
    // follower, never the loop taken off air.
    std::vector<SlotRef> asked;
};

class LoopTakenOffAir : public PreloadTest, public ::testing::WithParamInterface<TakenOffAir> {};

// A cue that takes the loop (0, 0) off air never asks for the loop again: nothing of the loop
// runs hidden while the cue is on air, and fired again, the loop is loaded anew and starts at
// its in point once ready, the cue on air heard as before until then.
TEST_P(LoopTakenOffAir, NeverRunsTheLoopAhead) {
    const TakenOffAir& cue = GetParam();
    rig.editSlot(0, 0).postRollMode = PostRollMode::loop;
    auto& data = rig.editSlot(0, 2);
    std::tie(data.mediaType, data.postRollMode, data.transitionMode) =
        std::tuple(cue.type, cue.postRoll, cue.transition);
    data.dissolveDuration = 0.5;
    rig.pc().onRequestPreloadNext = [this](int bank, int slot) {
        rig.preloadRequests.push_back({bank, slot});
        preload(bank, slot);
    };
    ASSERT_TRUE(!cue.loopInLowerSlot || test::playUntilOnAir(rig, 0, 3));
    ASSERT_TRUE(test::playUntilOnAir(rig, 0, 0));
    auto& loopSlot = rig.surface().showingSlot();
    ASSERT_EQ(&loopSlot == &rig.surface().slotA(), cue.loopInLowerSlot);
    rig.preloadRequests.clear();
    ASSERT_TRUE(test::playUntilOnAir(rig, 0, 2));
    rig.advance(1.5);
    EXPECT_EQ(rig.preloadRequests, cue.asked);
    EXPECT_FALSE(loopSlot.isLooping()) << "the loop was started again ahead";
    EXPECT_FALSE(loopSlot.clipPlayer().startTime().get());
    if (!cue.asked.empty()) {
        return;
    }
    auto& onAir = rig.surface().showingSlot();
    const float onAirVolume = onAir.audio().playerNode()->volume();
    rig.playSlot(0, 0);
    EXPECT_EQ(&rig.surface().showingSlot(), &onAir) << "switched before the loop was ready";
    EXPECT_EQ(onAir.audio().playerNode()->volume(), onAirVolume);
    ASSERT_TRUE(test::runUntilOnAir(rig, loopSlot));
    EXPECT_TRUE(loopSlot.isLooping());
    EXPECT_GT(loopSlot.audio().playerNode()->volume(), 0.0f);
}

INSTANTIATE_TEST_SUITE_P(
    Cues, LoopTakenOffAir,
    ::testing::Values(
        TakenOffAir{
            "StillCut", MediaType::still, PostRollMode::loop, TransitionMode::cut, false, {}},
        TakenOffAir{"StillDissolvingOverTheLoop",
                    MediaType::still,
                    PostRollMode::loop,
                    TransitionMode::dissolve,
                    true,
                    {}},
        TakenOffAir{"VideoEndingInBlack",
                    MediaType::video,
                    PostRollMode::black,
                    TransitionMode::cut,
                    false,
                    {}},
        TakenOffAir{"VideoWithAFollower",
                    MediaType::video,
                    PostRollMode::next,
                    TransitionMode::cut,
                    false,
                    {{0, 3}}}),
    [](const ::testing::TestParamInfo<TakenOffAir>& param) { return param.param.name; });

}  // namespace
}  // namespace kestio
