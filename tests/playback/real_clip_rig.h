#pragma once

// A playback controller on the real classes for tests of generated clips: media decoded by
// FFmpeg, the real slots and surface, and the audio engine on a null device whose clock is the
// run loop's. The test fills the project; every post-roll play request is ignored.

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>

#include "model/localization_manager.h"
#include "model/project_data.h"
#include "output/output_surface.h"
#include "platform/media/decoded_media_factory.h"
#include "platform/media/decoded_player_item.h"
#include "platform/runloop/manual_run_loop.h"
#include "platform/storage/user_defaults.h"
#include "playback/playback_controller.h"
#include "support/null_audio_device.h"
#include "support/playback_test_support.h"

namespace kestio::test {

struct RealClipRig {
    static constexpr int kRate = 48000;

    // `mediaToController`: the media factory is handed to the controller too (as the application
    // builds it), or to the output surface only (as the show's benchmark does).
    explicit RealClipRig(bool mediaToController) {
        controller = std::make_unique<PlaybackController>(
            PlaybackServices{loop,
                             nullptr,
                             std::make_unique<output::OutputSurface>(
                                 output::OutputSurface::Services{loop, device, media}),
                             &localization,
                             {},
                             {},
                             mediaToController ? &media : nullptr});
        controller->view().setViewSize({320.0, 180.0});
        controller->projectProvider = [this]() -> std::optional<ProjectData> { return project; };
        controller->onRequestPlay = [](int, int) {};
    }
    ~RealClipRig() { controller.reset(); }
    RealClipRig(const RealClipRig&) = delete;
    RealClipRig& operator=(const RealClipRig&) = delete;

    // One step of the clock: the pictures of the playing slots decoded through it first, the
    // device then pulling the step's sound.
    static constexpr double kStep = 0.01;
    void step() {
        for (auto* slot : {&controller->view().slotA(), &controller->view().slotB()}) {
            auto item = std::dynamic_pointer_cast<platform::media::DecodedPlayerItem>(
                slot->player()->current());
            if (item && item->statusValue() == platform::media::ItemStatus::ReadyToPlay &&
                slot->player()->rateValue() > 0.0f) {
                ASSERT_TRUE(platform::media::testing::waitForDecoded(
                    loop, *item, item->currentTime() + 2 * kStep));
            }
        }
        loop.waitForPosted(0.002);
        loop.advance(kStep);
        device->pull(std::uint32_t(kStep * kRate));
    }

    platform::ManualRunLoop loop;
    std::shared_ptr<NullAudioDevice> device =
        std::make_shared<NullAudioDevice>(kRate, 2, "Null Output", loop.hostClock());
    platform::media::DecodedMediaFactory media{loop};
    platform::InMemoryUserDefaults defaults;
    LocalizationManager localization{defaults};
    ProjectData project;
    std::unique_ptr<PlaybackController> controller;
};

}  // namespace kestio::test
