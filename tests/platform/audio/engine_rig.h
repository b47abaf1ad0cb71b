#pragma once

// An engine on a null device, pulled block by block from the test's thread, with the player
// nodes it made given time to read ahead before every block (so that what a block holds never
// depends on thread timing).

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "platform/audio/audio_engine.h"
#include "platform/audio/audio_player_node.h"
#include "platform/audio/mixer_node.h"
#include "support/null_audio_device.h"

namespace kestio::test {

struct EngineRig {
    // `renderHelpers`: the engine's render helper threads (by default what the CPUs allow).
    explicit EngineRig(double rate = 48000.0, uint32_t channels = 2,
                       std::optional<uint32_t> renderHelpers = std::nullopt)
        : device(std::make_shared<NullAudioDevice>(rate, channels)),
          engine(device, renderHelpers) {}

    std::shared_ptr<platform::audio::AudioPlayerNode> makePlayer() {
        auto player = std::make_shared<platform::audio::AudioPlayerNode>();
        engine.attach(player);
        players.push_back(player);
        return player;
    }

    // A player linked to the main mixer in the device's format, on a started engine.
    std::shared_ptr<platform::audio::AudioPlayerNode> startedPlayer() {
        auto player = makePlayer();
        EXPECT_FALSE(engine.connect(player, engine.mainMixerNode(), device->renderFormat()));
        EXPECT_FALSE(engine.start());
        return player;
    }

    // Renders `frames` frames in blocks of at most `block`.
    void pull(uint32_t frames, uint32_t block = 1024) {
        while (frames > 0) {
            const uint32_t n = std::min(frames, block);
            device->pull(0);  // lets the render side take in stops and graph changes
            for (const auto& player : players) {
                EXPECT_TRUE(player->waitUntilPrepared(20.0)) << "read-ahead did not finish";
            }
            device->pull(n);
            frames -= n;
        }
    }

    std::span<const float> channel(uint32_t c, std::size_t from = 0) const {
        const auto& samples = device->channel(c);
        from = std::min(from, samples.size());
        return std::span<const float>(samples).subspan(from);
    }

    std::shared_ptr<NullAudioDevice> device;
    platform::audio::AudioEngine engine;
    std::vector<std::shared_ptr<platform::audio::AudioPlayerNode>> players;
};

}  // namespace kestio::test
