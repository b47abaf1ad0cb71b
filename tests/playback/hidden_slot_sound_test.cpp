// What the audience hears of the hidden slot, on the real classes: a generated loop (its 1 kHz
// tone) played hidden for a warm-up under a still on air, then the output mute on and off. The
// program sound is read from what the null device rendered.

#include <gtest/gtest.h>

#include <span>

#include "output/output_surface.h"
#include "platform/media/decoded_player_item.h"
#include "playback_rig.h"
#include "real_clip_rig.h"
#include "support/media_fixtures.h"
#include "support/playback_test_support.h"
#include "support/signal_analysis.h"

namespace kestio {
namespace {

using platform::media::DecodedPlayerItem;

class HiddenSlotSound : public ::testing::Test, protected test::RealClipRig {
  protected:
    HiddenSlotSound() : RealClipRig(true) {
        const auto& fixtures = test::mediaFixtures();
        project = test::makeProject(1, 1, 2);
        auto& loopSlot = project.banks[0].slots[0];
        loopSlot.videoURL = fixtures.rateClip({30, 1}).path;
        loopSlot.clipInfo->duration = fixtures.rateClip({30, 1}).duration;
        loopSlot.postRollMode = PostRollMode::loop;
        auto& still = project.banks[0].slots[1];
        still.videoURL = fixtures.still("png").path;
        still.mediaType = MediaType::still;
        still.stillDuration = 60.0;
    }
    void run(double seconds) {
        for (int i = 0; i < int(seconds / kStep); ++i) {
            step();
        }
    }
    void fire(int slot) {
        const auto& data = project.banks[0].slots[std::size_t(slot)];
        controller->play(0, slot, *data.videoURL, data, {320.0, 180.0});
    }
};

TEST_F(HiddenSlotSound, AWarmingLoopIsNeverHeardAcrossAMute) {
    fire(1);
    run(0.5);
    ASSERT_TRUE(controller->view().showingSlot().isStill());
    // The loop is played hidden, as a warm-up or an import's check plays it.
    controller->setWarming(true);
    bool ready = false;
    fire(0);
    controller->waitForWarmReady(2.0, [&](bool answer) { ready = answer; });
    run(1.0);
    ASSERT_TRUE(ready);
    controller->setWarming(false);
    ASSERT_TRUE(controller->view().hiddenSlot().isLooping());

    AudioSettings onAir;
    controller->toggleMute(onAir);
    controller->toggleMute(onAir);
    const std::size_t from = device->channel(0).size();
    run(0.5);
    const auto& heard = device->channel(0);
    ASSERT_GT(heard.size(), from);
    EXPECT_LT(test::rms(std::span<const float>(heard).subspan(from)), 1e-4)
        << "the hidden loop is heard";
}

}  // namespace
}  // namespace kestio
