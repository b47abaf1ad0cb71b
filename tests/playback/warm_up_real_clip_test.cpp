// Warm-up on the real classes: generated clips decoded by FFmpeg, the real slots and surface,
// the audio engine on a null device whose clock is the run loop's. Each clip is warmed as the
// show controller warms it (the play request while warming, then the wait for its ready signal)
// and must report ready long before the wait would give up.

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <vector>

#include "output/output_surface.h"
#include "platform/graphics/layer.h"
#include "platform/media/decoded_media_factory.h"
#include "platform/runloop/manual_run_loop.h"
#include "playback/playback_controller.h"
#include "playback_rig.h"
#include "real_clip_rig.h"
#include "support/media_fixtures.h"
#include "support/null_audio_device.h"

namespace kestio {
namespace {

constexpr double kStep = 0.01;
// The show controller's wait for one clip.
constexpr double kWaitTimeout = 1.5;
// A generated clip, opened and prerolled, is ready well within this.
constexpr double kReadyWithin = 0.5;

struct Warmed {
    bool ready = false;
    double after = 0.0;
};

// Built as the application builds it (the media factory passed to the controller too), and as
// the show's benchmark does (passed to the output surface only).
class WarmUpOnRealClips : public ::testing::TestWithParam<bool>, protected test::RealClipRig {
  protected:
    WarmUpOnRealClips() : RealClipRig(GetParam()) {
        const auto& fixtures = test::mediaFixtures();
        project = test::makeProject(1, 2, 3);
        const test::Rational rates[] = {{30, 1}, {24, 1}, {30000, 1001}};
        auto& slots = project.banks[0].slots;
        for (std::size_t i = 0; i < slots.size(); ++i) {
            const auto& clip = fixtures.rateClip(rates[i % std::size(rates)]);
            slots[i].videoURL = clip.path;
            slots[i].clipInfo->duration = clip.duration;
        }
        controller->setWarming(true);
        controller->view().setIsWarming(true);
    }

    // Warms slot `index` as the show controller does and runs the clock until the wait answers.
    Warmed warm(std::size_t index) {
        const auto& data = project.banks[0].slots[index];
        std::optional<Warmed> answer;
        const double start = loop.now().seconds();
        controller->play(0, int(index), *data.videoURL, data, {320.0, 180.0});
        controller->waitForWarmReady(kWaitTimeout, [&](bool ready) {
            answer = Warmed{ready, loop.now().seconds() - start};
        });
        for (int i = 0; i < int(2 * kWaitTimeout / kStep) && !answer; ++i) {
            loop.waitForPosted(0.02);
            loop.runPending();
            if (!answer) {
                loop.advance(kStep);
                device->pull(std::uint32_t(kStep * kRate));
            }
        }
        return answer.value_or(Warmed{false, 2 * kWaitTimeout});
    }
};

// Six clips in a row, each ready long before its wait would give up, and nothing on air.
TEST_P(WarmUpOnRealClips, EveryClipReportsReadyBeforeTheTimeOut) {
    for (std::size_t i = 0; i < project.banks[0].slots.size(); ++i) {
        const Warmed warmed = warm(i);
        EXPECT_TRUE(warmed.ready) << "clip " << i;
        EXPECT_LT(warmed.after, kReadyWithin) << "clip " << i;
    }
    for (auto* slot : {&controller->view().slotA(), &controller->view().slotB()}) {
        EXPECT_EQ(slot->containerLayer()->opacity(), 0.0f);
    }
    EXPECT_EQ(controller->currentBankIndex.get(), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(Factories, WarmUpOnRealClips, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& factory) {
                             return factory.param ? "GivenToTheController" : "OfTheSurfaceOnly";
                         });

}  // namespace
}  // namespace kestio
