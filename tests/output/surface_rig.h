#pragma once

// An output surface on scripted media, scripted clip players and a null audio device, all on
// one ManualRunLoop, with the layer log captured under a fixed time of day.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "output/output_surface.h"
#include "output/playback_slot.h"
#include "platform/graphics/layer.h"
#include "platform/runloop/console.h"
#include "platform/runloop/manual_run_loop.h"
#include "platform/runloop/wall_clock.h"
#include "support/fake_clip_player.h"
#include "support/fake_media.h"
#include "support/null_audio_device.h"

namespace kestio::test {

struct SurfaceRig {
    explicit SurfaceRig(uint32_t deviceChannels = 2)
        : device(std::make_shared<NullAudioDevice>(48000.0, deviceChannels, "Null Output",
                                                   loop.hostClock())),
          surface(output::OutputSurface::Services{
              loop, device, media,
              [this](std::shared_ptr<platform::media::QueuePlayer> player,
                     AudioEngineController&) -> std::unique_ptr<platform::media::ClipPlayer> {
                  auto clipPlayer = std::make_unique<FakeClipPlayer>(loop, std::move(player));
                  clipPlayers.push_back(clipPlayer.get());
                  return clipPlayer;
              },
              wallClock}) {
        surface.setViewSize({192.0, 108.0});
        surface.onLayerLog = [this](const std::string& line) { layerLines.push_back(line); };
    }

    FakeClipPlayer& clipPlayerOf(output::PlaybackSlot& slot) {
        return static_cast<FakeClipPlayer&>(slot.clipPlayer());
    }
    static float shown(const output::PlaybackSlot& slot) {
        return slot.containerLayer()->presentationOpacity();
    }

    // Runs posted work (load outcomes of the sound chains' threads) until `done` holds.
    bool settle(const std::function<bool()>& done) {
        for (int i = 0; i < 3000 && !done(); ++i) {
            loop.waitForPosted(0.01);
        }
        return done();
    }

    platform::ManualRunLoop loop;
    std::shared_ptr<NullAudioDevice> device;
    FakeMediaFactory media{loop};
    std::vector<FakeClipPlayer*> clipPlayers;
    std::shared_ptr<platform::FixedWallClock> wallClock =
        std::make_shared<platform::FixedWallClock>(
            std::chrono::system_clock::time_point(std::chrono::milliseconds(1700000000123)));
    std::vector<std::string> layerLines;
    output::OutputSurface surface;
};

}  // namespace kestio::test
