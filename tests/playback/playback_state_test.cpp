// The controller's state at creation, its clean-up, the output device and the VU publishing.

#include <gtest/gtest.h>

#include "output/test_tone.h"
#include "platform/audio/audio_player_node.h"
#include "playback_rig.h"
#include "playback_steps.h"
#include "support/media_fixtures.h"

namespace kestio {
namespace {

TEST(PlaybackState, ANewControllerPublishesNothingOnAirInEitherLanguage) {
    for (const auto& [language, text] :
         {std::pair{AppLanguage::en, "No Selection"}, std::pair{AppLanguage::ja, "未選択"}}) {
        test::PlaybackRig rig(language);
        auto& pc = rig.pc();
        EXPECT_EQ(pc.selectedClipName.get(), text);
        EXPECT_EQ(pc.currentTime.get(), 0.0);
        EXPECT_EQ(pc.duration.get(), 0.0);
        EXPECT_FALSE(pc.currentBankIndex.get());
        EXPECT_FALSE(pc.currentSlotIndex.get());
        EXPECT_EQ(pc.vuLevels.get(), std::vector<float>(8, -100.0f));
        EXPECT_EQ(pc.vuLevelL.get(), -100.0f);
        EXPECT_EQ(pc.vuLevelR.get(), -100.0f);
        EXPECT_EQ(pc.vuChannelCount.get(), 2);
        EXPECT_FALSE(pc.isMuted.get());
        EXPECT_TRUE(pc.isMeterPeak());
        EXPECT_TRUE(pc.loadLog.get().empty());
        EXPECT_EQ(pc.toneGen().levelDb(), -20.0);
        EXPECT_FALSE(pc.toneGen().isRunning());
    }
}

// The name shown while nothing is loaded follows the interface language at once; a loaded
// clip's name stays what it is.
TEST(PlaybackState, TheIdleClipNameFollowsTheLanguage) {
    test::PlaybackRig rig(AppLanguage::ja);
    auto& pc = rig.pc();
    rig.localization.language = AppLanguage::en;
    EXPECT_EQ(pc.selectedClipName.get(), "No Selection");
    rig.localization.language = AppLanguage::ja;
    EXPECT_EQ(pc.selectedClipName.get(), "未選択");
    // A clip on air: what is on air is the output's record, which the published slot follows.
    ASSERT_TRUE(test::playUntilOnAir(rig, 0, 1));
    const std::string name = pc.selectedClipName.get();
    ASSERT_NE(name, "未選択");
    rig.localization.language = AppLanguage::en;
    EXPECT_EQ(pc.selectedClipName.get(), name);
}

TEST(PlaybackState, RemoveObserversOnAnEmptyControllerDoesNothingAndCanRepeat) {
    test::PlaybackRig rig;
    const std::size_t pending = rig.loop.pendingCount();
    rig.pc().removeObservers();
    rig.pc().removeObservers();
    EXPECT_EQ(rig.loop.pendingCount(), pending);
    EXPECT_FALSE(rig.pc().isLooping());
}

// What a part still waits for when its watchers are removed never happens afterwards: the
// preload's wait for a dissolve to end, the standby cue's wait for its item.
enum class Waiting { preloadBehindADissolve, standbyItem };

class PartsStop : public ::testing::TestWithParam<Waiting> {};

TEST_P(PartsStop, NothingAPartWaitedForHappensAfterRemoveObservers) {
    test::PlaybackRig rig;
    ASSERT_TRUE(test::playUntilOnAir(rig, 0, 0));
    auto& data = rig.editSlot(0, 2);
    if (GetParam() == Waiting::preloadBehindADissolve) {
        data.transitionMode = TransitionMode::dissolve;
        data.dissolveDuration = 1.0;
        ASSERT_TRUE(test::playUntilOnAir(rig, 0, 2));
        const SlotData& next = rig.slot(0, 3);
        rig.pc().preloadNext(0, 3, *next.videoURL, next);
        ASSERT_FALSE(rig.pc().preloadedCue());
    } else {
        rig.pc().standby(0, 2, *data.videoURL, data, {1920.0, 1080.0});
    }
    auto& showing = rig.surface().showingSlot();
    rig.pc().removeObservers();
    rig.loop.advance(1.5);
    EXPECT_FALSE(rig.pc().preloadedCue() && rig.pc().preloadedCue()->ref == (SlotRef{0, 3}));
    EXPECT_EQ(&rig.surface().showingSlot(), &showing) << "a stood-by cue was taken";
}

INSTANTIATE_TEST_SUITE_P(Waits, PartsStop,
                         ::testing::Values(Waiting::preloadBehindADissolve, Waiting::standbyItem));

TEST(PlaybackState, CurrentInPoint) {
    test::PlaybackRig rig;
    rig.editSlot(0, 1).inPoint = 2.5;
    EXPECT_EQ(rig.pc().onAirClip().inPoint, 0.0);  // nothing on air
    // What is on air is the output's record: a slot only published is not on air.
    rig.pc().currentBankIndex.set(0);
    rig.pc().currentSlotIndex.set(1);
    EXPECT_EQ(rig.pc().onAirClip().inPoint, 0.0);
    ASSERT_TRUE(test::playUntilOnAir(rig, 0, 1));
    EXPECT_EQ(rig.pc().onAirClip().inPoint, 2.5);
    rig.editSlot(0, 1).inPoint.reset();
    EXPECT_EQ(rig.pc().onAirClip().inPoint, 0.0);  // no in point
    rig.editSlot(0, 1).inPoint = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(rig.pc().onAirClip().inPoint, 0.0);  // a hand-edited document
    const auto slots = rig.project.banks[0].slots;
    rig.project.banks[0].slots.resize(1);
    EXPECT_EQ(rig.pc().onAirClip().inPoint, 0.0);  // outside the bank
    rig.project.banks[0].slots = slots;
    rig.editSlot(0, 1).inPoint = 2.5;
    rig.pc().projectProvider = nullptr;
    EXPECT_EQ(rig.pc().onAirClip().inPoint, 0.0);  // no provider
}

TEST(PlaybackState, PendingWorkOfADestroyedControllerDoesNothing) {
    test::PlaybackRig rig;
    rig.playSlot(0, 0);
    rig.pc().log("pending");
    rig.controller.reset();
    rig.loop.waitForPosted(0.2);
    rig.loop.advance(1.0);
    SUCCEED();
}

TEST(OutputDevice, NameAndChannelsFollowTheDefaultOutput) {
    test::PlaybackRig rig;
    EXPECT_EQ(rig.pc().outputDeviceName.get(), "Null Output (2ch)");
    rig.device->changeTo(44100.0, 6, "Studio Monitor");
    EXPECT_EQ(rig.pc().outputDeviceName.get(), "Studio Monitor (6ch)");
    rig.device->defaultOutput.set({true, "Bare", 0, 48000.0});
    EXPECT_EQ(rig.pc().outputDeviceName.get(), "Bare");
    rig.device->defaultOutput.set({});
    EXPECT_EQ(rig.pc().outputDeviceName.get(), "\u2014");
}

// The VU timer publishes what the tap measured, 30 times a second, and a silent reading once.
class VuPublish : public ::testing::Test {
  protected:
    void pullAndWait(double seconds) {
        rig.device->pull(uint32_t(48000 * seconds));
        // The tap runs on the engine's tap thread: wait until its reading arrives (a reading
        // that wakes a sleeping meter is published by the work it posts).
        for (int i = 0; i < 200; ++i) {
            rig.loop.advance(1.0 / 30.0);
            if (published()) {
                return;
            }
            rig.loop.waitForPosted(0.001);
            if (published()) {
                return;
            }
        }
    }
    std::function<bool()> published = [] { return true; };
    test::PlaybackRig rig;
};

TEST_F(VuPublish, TheToneIsPublishedAtItsLevelAndSilenceOnlyOnce) {
    auto& engine = rig.surface().sharedEngine();
    rig.pc().toneGen().start(engine, -20.0);
    int sets = 0;
    auto counting = rig.pc().vuLevels.subscribe([&](const std::vector<float>&) { ++sets; });
    published = [&] { return rig.pc().vuLevelL.get() > -30.0f; };
    pullAndWait(0.1);
    EXPECT_NEAR(rig.pc().vuLevelL.get(), -20.0, 0.5);
    EXPECT_NEAR(rig.pc().vuLevelR.get(), -20.0, 0.5);

    rig.pc().toneGen().stop(engine);
    published = [&] { return rig.pc().vuLevelL.get() == -100.0f; };
    pullAndWait(0.1);
    EXPECT_EQ(rig.pc().vuLevelL.get(), -100.0f);
    // Silent blocks keep coming; once the last tone block is through, nothing more is published.
    published = [&] { return false; };
    pullAndWait(0.1);
    const int afterSilence = sets;
    rig.device->pull(9600);
    for (int i = 0; i < 30; ++i) {
        rig.loop.waitForPosted(0.005);
        rig.loop.advance(1.0 / 30.0);
    }
    EXPECT_EQ(sets, afterSilence);
    EXPECT_EQ(rig.pc().vuLevelL.get(), -100.0f);
}

// The VU timer runs only while there is something to show. Idle, once silence is shown, nothing
// runs on the loop at all; a cue's sound in a slot's chain, measured by the tap, starts the
// timer again and its level is shown; when the sound stops the level falls to silence and the
// timer stops again.
TEST_F(VuPublish, TheTimerRunsOnlyWhileSoundIsMeasuredOrALevelFalls) {
    rig.device->pull(4800);
    rig.loop.advance(0.5);
    EXPECT_EQ(rig.loop.advance(1.0), 0) << "work runs on the loop while nothing sounds";

    auto& chain = rig.surface().slotA().audio();
    chain.load(test::mediaFixtures().rateClip({30, 1}).path, 0.0);
    for (int i = 0; i < 2000 && !chain.loadFinished(); ++i) {
        rig.loop.waitForPosted(0.01);
    }
    ASSERT_TRUE(chain.isReady());
    chain.seek(0.0, 0.0);
    chain.playerNode()->play();
    const auto step = [&] {
        rig.device->pull(480);
        rig.loop.waitForPosted(0.002);
        rig.loop.advance(0.01);
    };
    for (int i = 0; i < 300 && rig.pc().vuLevelL.get() < -40.0f; ++i) {
        step();
    }
    EXPECT_GT(rig.pc().vuLevelL.get(), -40.0f) << "the sound was not shown";

    chain.stop();
    for (int i = 0; i < 300 && rig.pc().vuLevelL.get() > -100.0f; ++i) {
        step();
    }
    EXPECT_EQ(rig.pc().vuLevelL.get(), -100.0f);
    rig.loop.advance(0.5);
    EXPECT_EQ(rig.loop.advance(1.0), 0) << "the timer went on after the sound stopped";
}

}  // namespace
}  // namespace kestio
