#pragma once

// Slot audio chains on an engine with a null device, pulled block by block from the test's
// thread, with the run loop taking posted work between blocks and each chain's player given
// time to read ahead before every block (so what a block holds never depends on thread timing).

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "output/audio_engine_controller.h"
#include "platform/audio/audio_engine.h"
#include "platform/audio/audio_file.h"
#include "platform/audio/audio_player_node.h"
#include "platform/runloop/manual_run_loop.h"
#include "support/null_audio_device.h"
#include "support/process_runner.h"
#include "support/signal_analysis.h"
#include "support/temporary_folder.h"

namespace kestio::test {

struct ChainRig {
    explicit ChainRig(double rate = 48000.0, uint32_t channels = 2)
        : device(std::make_shared<NullAudioDevice>(rate, channels)), engine(device) {}

    AudioEngineController& addChain(const std::string& label) {
        chains.push_back(std::make_unique<AudioEngineController>(loop, engine, label));
        return *chains.back();
    }

    // Loads and waits (on the load's thread, with a generous guard) until it has ended.
    void load(AudioEngineController& chain, const std::filesystem::path& path, double start,
              std::optional<double> end = std::nullopt) {
        bool finished = false;
        chain.load(path, start, end, [&finished](bool) { finished = true; });
        waitFor([&] { return finished; });
    }
    template <class Done>
    void waitFor(Done done) {
        for (int i = 0; i < 2000 && !done(); ++i) {
            loop.waitForPosted(0.01);
        }
        ASSERT_TRUE(done()) << "timed out";
    }

    // Schedules the loaded span and plays it, as the playback controller starts a slot's sound.
    static void startSound(AudioEngineController& chain) {
        chain.startEngineIfNeeded();
        chain.playerNode()->stop();
        chain.playerNode()->scheduleSegment(chain.audioFile(), chain.fileStartFrame(),
                                            chain.fileTotalFrames());
        chain.playerNode()->play();
    }

    // Renders `frames` frames in blocks of at most `block`.
    void pull(uint32_t frames, uint32_t block = 480) {
        while (frames > 0) {
            loop.runPending();
            const uint32_t n = std::min(frames, block);
            device->pull(0);
            for (const auto& chain : chains) {
                EXPECT_TRUE(chain->playerNode()->waitUntilPrepared(20.0));
            }
            device->pull(n);
            frames -= n;
        }
        loop.runPending();
    }

    std::span<const float> channel(uint32_t c, std::size_t from = 0,
                                   std::size_t count = SIZE_MAX) const {
        const auto& samples = device->channel(c);
        from = std::min(from, samples.size());
        return std::span<const float>(samples).subspan(from,
                                                       std::min(count, samples.size() - from));
    }

    platform::ManualRunLoop loop;
    std::shared_ptr<NullAudioDevice> device;
    platform::audio::AudioEngine engine;
    std::vector<std::unique_ptr<AudioEngineController>> chains;
};

// Writes a CAF file of `channels` (one vector each) at `rate` into `folder`.
inline std::filesystem::path writeSound(const TemporaryFolder& folder, const std::string& name,
                                        const std::vector<std::vector<float>>& channels,
                                        double rate) {
    const auto path = folder.path() / name;
    auto file = platform::audio::AudioFile::openForWriting(
        path, platform::audio::AudioFormat{rate, uint32_t(channels.size()), false});
    EXPECT_TRUE(file && file->write(*bufferOf(channels, rate)));
    return path;
}

// `count` channels, channel c a sine of 400 + 300 × c Hz at amplitude 0.2, `seconds` long.
inline std::vector<std::vector<float>> toneChannels(uint32_t count, double rate, double seconds) {
    std::vector<std::vector<float>> channels;
    for (uint32_t c = 0; c < count; ++c) {
        channels.push_back(sineWave(400.0 + 300.0 * c, rate, std::size_t(seconds * rate), 0.2));
    }
    return channels;
}

// A QuickTime clip with pictures and a six-channel 44.1 kHz sound (channel c at 400 + 300c Hz).
inline std::filesystem::path writeSixChannelClip(const TemporaryFolder& folder) {
    const auto path = folder.path() / "six.mov";
    std::string exprs;
    for (int c = 0; c < 6; ++c) {
        exprs +=
            (c ? "|" : "") + std::string("0.2*sin(2*PI*") + std::to_string(400 + 300 * c) + "*t)";
    }
    const auto result = runProcess({"ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                                    "testsrc=size=160x120:rate=25:duration=2", "-f", "lavfi", "-i",
                                    "aevalsrc=" + exprs + ":s=44100:d=2:c=5.1", "-c:v", "mpeg4",
                                    "-c:a", "pcm_s16le", "-shortest", path.string()},
                                   std::chrono::seconds(60));
    EXPECT_TRUE(result.succeeded()) << result.errorOutput;
    return path;
}

}  // namespace kestio::test
