// Transport operations on the slot on air, on scripted clip players in virtual time.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>

#include "output/test_tone.h"
#include "platform/audio/audio_player_node.h"
#include "playback/playback_steps.h"

namespace kestio {
namespace {

using Call = test::FakeClipPlayer::Call;

class TransportTest : public ::testing::Test {
  protected:
    void onAir() { ASSERT_TRUE(test::playUntilOnAir(rig, 0, 0)) << "nothing went on air"; }
    output::PlaybackSlot& showing() { return rig.surface().showingSlot(); }
    test::FakeClipPlayer& clip() { return test::fakeClipPlayer(showing()); }
    std::vector<Call> callsOf(Call::Kind kind) {
        std::vector<Call> found;
        for (const auto& call : clip().calls()) {
            if (call.kind == kind) {
                found.push_back(call);
            }
        }
        return found;
    }
    bool running() { return clip().startTime().get().has_value(); }

    test::PlaybackRig rig;
};

struct RateCase {
    double asked;
    std::optional<float> applied;  // none: refused
};

class TransportRate : public TransportTest, public ::testing::WithParamInterface<RateCase> {};

// Picture and sound keep one rate, the one the time-pitch unit stretches to (0.1 to 8); a rate
// that is no rate is refused.
TEST_P(TransportRate, PictureAndSoundTakeTheClampedRate) {
    onAir();
    const std::size_t before = callsOf(Call::Kind::SetRate).size();
    rig.pc().setPlaybackRate(GetParam().asked);
    const auto calls = callsOf(Call::Kind::SetRate);
    if (!GetParam().applied) {
        EXPECT_EQ(calls.size(), before);
        return;
    }
    ASSERT_EQ(calls.size(), before + 1);
    EXPECT_FLOAT_EQ(calls.back().rate, *GetParam().applied);
    rig.loop.advance(0.2);
    EXPECT_FLOAT_EQ(showing().player()->rateValue(), *GetParam().applied);
}

INSTANTIATE_TEST_SUITE_P(
    Rates, TransportRate,
    ::testing::Values(RateCase{1.5, 1.5f}, RateCase{0.05, 0.1f}, RateCase{10.0, 8.0f},
                      RateCase{100.0, 8.0f}, RateCase{0.0, std::nullopt},
                      RateCase{-2.0, std::nullopt},
                      RateCase{std::numeric_limits<double>::quiet_NaN(), std::nullopt}));

TEST_F(TransportTest, ARateChangeStartsAPausedClip) {
    onAir();
    rig.pc().pause();
    rig.pc().setPlaybackRate(2.0);
    rig.loop.advance(0.2);
    EXPECT_TRUE(running());
    EXPECT_FLOAT_EQ(showing().player()->rateValue(), 2.0f);
}

TEST_F(TransportTest, PauseHoldsPictureAndSoundAndResumeGoesOnFromThere) {
    onAir();
    rig.loop.advance(1.0);
    rig.pc().pause();
    EXPECT_FALSE(running());
    const double paused = showing().player()->currentTime();
    rig.loop.advance(1.0);
    EXPECT_DOUBLE_EQ(showing().player()->currentTime(), paused) << "the picture ran on";
    const std::size_t startsBefore = callsOf(Call::Kind::Play).size();
    rig.pc().resume();
    const auto resumed = callsOf(Call::Kind::Play);
    ASSERT_EQ(resumed.size(), startsBefore + 1);
    EXPECT_DOUBLE_EQ(resumed.back().itemTime.seconds(), paused);
    rig.loop.advance(0.5);
    EXPECT_TRUE(running());
    EXPECT_GT(showing().player()->currentTime(), paused + 0.3);
    // A resume of a running clip changes nothing.
    const std::size_t calls = clip().calls().size();
    rig.pc().resume();
    EXPECT_EQ(clip().calls().size(), calls);
}

TEST_F(TransportTest, ASeekMovesARunningClipsPictureAndSoundTogetherWithinTheClip) {
    onAir();
    const std::size_t startsBefore = callsOf(Call::Kind::Play).size();
    rig.pc().seek(4.0);
    EXPECT_EQ(rig.pc().currentTime.get(), 4.0);
    ASSERT_EQ(callsOf(Call::Kind::Play).size(), startsBefore + 1);
    EXPECT_DOUBLE_EQ(callsOf(Call::Kind::Play).back().itemTime.seconds(), 4.0);
    rig.pc().seek(100.0);
    EXPECT_EQ(rig.pc().currentTime.get(), rig.pc().duration.get());
    rig.pc().seek(-3.0);
    EXPECT_EQ(rig.pc().currentTime.get(), 0.0);
    const std::size_t calls = clip().calls().size();
    rig.pc().seek(std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(clip().calls().size(), calls);
    EXPECT_EQ(rig.pc().currentTime.get(), 0.0);
}

// The position is published once a clock period; the time of the picture on screen is read
// from its player at the moment asked, between two publications too.
TEST_F(TransportTest, TheTimeShownIsThePicturesBetweenPublications) {
    EXPECT_EQ(rig.pc().shownTime(), rig.pc().currentTime.get());
    onAir();
    for (const double step : {1.0, 0.02, 0.013}) {
        rig.loop.advance(step);
        EXPECT_DOUBLE_EQ(rig.pc().shownTime(), showing().player()->currentTime());
        EXPECT_LE(rig.pc().currentTime.get(), rig.pc().shownTime());
    }
    EXPECT_LT(rig.pc().currentTime.get(), rig.pc().shownTime());
}

TEST_F(TransportTest, APausedClipsSeekMovesItsPictureOnly) {
    onAir();
    rig.pc().pause();
    const std::size_t calls = clip().calls().size();
    rig.pc().seek(3.0);
    rig.loop.advance(0.2);
    EXPECT_EQ(clip().calls().size(), calls);
    EXPECT_NEAR(showing().player()->currentTime(), 3.0, 1e-9);
    EXPECT_FALSE(running());
}

TEST_F(TransportTest, FrameStepsStayWithinTheClip) {
    onAir();
    rig.pc().pause();
    rig.pc().seek(0.01);
    rig.loop.advance(0.2);
    rig.pc().skip(-1, 25.0);
    EXPECT_EQ(rig.pc().currentTime.get(), 0.0);
    rig.pc().skip(1000, 25.0);
    EXPECT_EQ(rig.pc().currentTime.get(), rig.pc().duration.get());
    rig.pc().skip(1, 0.0);  // no frame rate: nothing
    EXPECT_EQ(rig.pc().currentTime.get(), rig.pc().duration.get());
}

struct MuteCase {
    float gainDb;
    bool slotMuted;
    float volume;  // unmuted
};

class TransportMute : public TransportTest, public ::testing::WithParamInterface<MuteCase> {};

// Unmuting restores the gain of the slot on air only: the hidden slot, holding no cue on its way
// to air, stays silent.
TEST_P(TransportMute, MuteSilencesBothSlotsAndUnmuteRestoresTheGain) {
    AudioSettings settings;
    settings.masterLevel = GetParam().gainDb;
    settings.isMuted = GetParam().slotMuted;
    auto& a = *rig.surface().audioA().playerNode();
    auto& b = *rig.surface().audioB().playerNode();
    rig.pc().toggleMute(settings);  // nothing on air
    EXPECT_TRUE(rig.pc().isMuted.get());
    EXPECT_EQ(a.volume(), 0.0f);
    EXPECT_EQ(b.volume(), 0.0f);
    rig.pc().toggleMute(settings);
    EXPECT_FALSE(rig.pc().isMuted.get());
    EXPECT_NEAR(a.volume(), GetParam().volume, 1e-6);
    EXPECT_EQ(b.volume(), 0.0f) << "the hidden slot is heard";
    EXPECT_EQ(test::logCount(rig, "MUTE: ON"), 1);
    EXPECT_EQ(test::logCount(rig, "MUTE: OFF"), 1);
}

INSTANTIATE_TEST_SUITE_P(Gains, TransportMute,
                         ::testing::Values(MuteCase{0.0f, false, 1.0f},
                                           MuteCase{-20.0f, false, 0.1f},
                                           MuteCase{-40.0f, false, 0.0f},
                                           MuteCase{-39.9f, false, 0.0101158f},
                                           MuteCase{-6.0f, true, 0.0f}));

struct HiddenCase {
    const char* name;
    // What the hidden slot holds while a clip is on air.
    enum { warmingLoop, preloadedCue, loopUnderAStill } holds;
    // Its chain's volume after the output mute goes on and off.
    float volume;
};

class HiddenSlotAcrossMute : public TransportTest,
                             public ::testing::WithParamInterface<HiddenCase> {};

// The hidden slot is heard only as a cue on its way to air, at its own level: a loop played
// hidden for a warm-up, or what is left under a still, stays silent when the mute goes off.
TEST_P(HiddenSlotAcrossMute, IsHeardOnlyAsACueOnItsWayToAir) {
    rig.editSlot(0, 1).audioSettings.masterLevel = -20.0f;
    switch (GetParam().holds) {
        case HiddenCase::warmingLoop:
            onAir();
            rig.editSlot(0, 1).postRollMode = PostRollMode::loop;
            rig.pc().setWarming(true);
            rig.playSlot(0, 1);
            rig.advance(0.5);
            rig.pc().setWarming(false);
            ASSERT_TRUE(rig.surface().hiddenSlot().isLooping());
            break;
        case HiddenCase::preloadedCue: {
            onAir();
            const SlotData& data = rig.slot(0, 1);
            rig.pc().preloadNext(0, 1, *data.videoURL, data);
            rig.advance(0.5);
            break;
        }
        case HiddenCase::loopUnderAStill:
            rig.editSlot(0, 0).postRollMode = PostRollMode::loop;
            onAir();
            rig.editSlot(0, 2).mediaType = MediaType::still;
            rig.playSlot(0, 2);
            rig.advance(1.0);
            ASSERT_TRUE(showing().isStill());
            break;
    }
    AudioSettings onAirSettings;
    rig.pc().toggleMute(onAirSettings);
    rig.pc().toggleMute(onAirSettings);
    EXPECT_NEAR(rig.surface().hiddenSlot().audio().playerNode()->volume(), GetParam().volume, 1e-6);
}

INSTANTIATE_TEST_SUITE_P(
    Holds, HiddenSlotAcrossMute,
    ::testing::Values(HiddenCase{"AWarmingLoop", HiddenCase::warmingLoop, 0.0f},
                      HiddenCase{"APreloadedCue", HiddenCase::preloadedCue, 0.1f},
                      HiddenCase{"ALoopUnderAStill", HiddenCase::loopUnderAStill, 0.0f}),
    [](const ::testing::TestParamInfo<HiddenCase>& param) { return param.param.name; });

TEST_F(TransportTest, TheSlotLevelFollowsTheOutputMute) {
    onAir();
    auto& node = *showing().audio().playerNode();
    rig.pc().applySlotVolume(false, -20.0f);
    EXPECT_NEAR(node.volume(), 0.1f, 1e-6);
    rig.pc().toggleMute();
    rig.pc().applySlotVolume(false, -20.0f);
    EXPECT_EQ(node.volume(), 0.0f);
}

// A paused picture takes new colour values at its next composed frame: no position nudge.
TEST_F(TransportTest, ColourOnAPausedClipNeedsNoSeek) {
    onAir();
    rig.pc().pause();
    auto& player = test::fakePlayer(showing());
    player.clearCalls();
    ColorSettings color;
    color.brightness = 0.25;
    rig.pc().applyColorSettings(color);
    rig.loop.advance(0.1);
    EXPECT_EQ(showing().colorSettingsBox().value(), color);
    EXPECT_TRUE(player.callsOf(test::FakeQueuePlayer::Call::Kind::Seek).empty());
}

TEST_F(TransportTest, StoppingTheToneSilencesTheMeters) {
    rig.pc().toneGen().start(rig.surface().sharedEngine(), -20.0);
    rig.pc().vuLevelL.set(-20.0f);
    rig.pc().stopTestTone();
    EXPECT_FALSE(rig.pc().toneGen().isRunning());
    EXPECT_EQ(rig.pc().vuLevelL.get(), PlaybackController::kSilenceDb);
    EXPECT_EQ(rig.pc().vuLevels.get(), std::vector<float>(PlaybackController::kMeterChannels,
                                                          PlaybackController::kSilenceDb));
}

// The standby cue: a slot loaded by the show controller is cut to, paused at its in point, once
// its item is ready.
TEST_F(TransportTest, AStandbyItemIsShownPausedAtItsInPoint) {
    auto& slot = rig.surface().hiddenSlot();
    const std::filesystem::path url = *rig.slot(0, 1).videoURL;
    slot.load(url, 2.5, std::nullopt, ColorSettings{});
    const auto item = slot.player()->current();
    ASSERT_TRUE(item);
    // Not ready yet, or not the slot's item: nothing.
    rig.pc().handleStatusChange(item, slot, item, url, 2.5);
    rig.loop.advance(0.2);
    EXPECT_NE(&rig.surface().showingSlot(), &slot);
    rig.pc().handleStatusChange(item, slot, nullptr, url, 2.5);
    rig.loop.advance(0.2);
    EXPECT_NE(&rig.surface().showingSlot(), &slot);

    rig.pc().handleStatusChange(item, slot, item, url, 2.5);
    rig.loop.advance(0.2);
    EXPECT_EQ(&rig.surface().showingSlot(), &slot);
    EXPECT_EQ(slot.containerLayer()->opacity(), 1.0f);
    EXPECT_EQ(slot.player()->rateValue(), 0.0f);
    EXPECT_NEAR(slot.player()->currentTime(), 2.5, 1e-9);
    EXPECT_EQ(rig.pc().currentTime.get(), 2.5);
    EXPECT_EQ(rig.pc().onAirClip().url, url);
}

// Every operation with nothing on air: nothing breaks, nothing starts.
TEST_F(TransportTest, OperationsWithNothingOnAirDoNothingHarmful) {
    rig.pc().pause();
    rig.pc().resume();
    rig.pc().seek(5.0);
    rig.pc().skip(3, 30.0);
    rig.pc().setPlaybackRate(2.0);
    rig.pc().applySlotVolume(false, 0.0f);
    rig.pc().updateGeometry(GeometrySettings{});
    rig.pc().applyColorSettings(ColorSettings{});
    rig.pc().stopTestTone();
    rig.pc().releaseLoop(PostRollMode::black);
    rig.loop.advance(1.0);
    EXPECT_EQ(rig.pc().currentBankIndex.get(), std::nullopt);
    EXPECT_FALSE(showing().clipPlayer().startTime().get());
    EXPECT_EQ(rig.pc().currentTime.get(), 0.0);
}

}  // namespace
}  // namespace kestio
