#pragma once

// An output surface on a null audio device and scripted media, driven by a manual run loop, with
// the time of day fixed at 12:03:04.567 local time for log stamps: what the external monitor's
// tests mirror.

#include <chrono>
#include <ctime>
#include <memory>

#include "output/output_surface.h"
#include "platform/graphics/layer.h"
#include "platform/runloop/manual_run_loop.h"
#include "platform/runloop/wall_clock.h"
#include "support/fake_clip_player.h"
#include "support/fake_media.h"
#include "support/null_audio_device.h"

namespace kestio::test {

// 12:03:04.567 today, local time.
inline std::chrono::system_clock::time_point fixedTimeOfDay() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    local.tm_hour = 12;
    local.tm_min = 3;
    local.tm_sec = 4;
    local.tm_isdst = -1;
    return std::chrono::system_clock::from_time_t(std::mktime(&local)) +
           std::chrono::milliseconds(567);
}

struct MirrorRig {
    MirrorRig() {
        surface = std::make_unique<output::OutputSurface>(output::OutputSurface::Services{
            loop, std::make_shared<NullAudioDevice>(48000.0, 2), media,
            [this](std::shared_ptr<platform::media::QueuePlayer> player, AudioEngineController&) {
                return std::make_unique<FakeClipPlayer>(loop, std::move(player));
            },
            wallClock});
    }

    platform::ManualRunLoop loop{platform::HostTime(100.0)};
    FakeMediaFactory media{loop};
    std::shared_ptr<platform::FixedWallClock> wallClock =
        std::make_shared<platform::FixedWallClock>(fixedTimeOfDay());
    std::unique_ptr<output::OutputSurface> surface;
};

}  // namespace kestio::test
