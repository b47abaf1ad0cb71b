#pragma once

// The line-up tone: a continuous 1 kHz sine into the audio engine's main mixer, beside the
// slots' chains, so it is heard wherever the program sound goes.

#include <atomic>
#include <memory>

#include "platform/audio/audio_format.h"

namespace kestio::platform::audio {
class AudioEngine;
class SourceNode;
}  // namespace kestio::platform::audio

namespace kestio::output {

// Used on the main thread. The tone is generated at 48 kHz in two identical channels (the
// main mixer converts it to the device's rate) with a phase that starts at 0 on every start.
// Its level is read by the render thread on every block, so a level change is heard at once.
class TestToneGenerator {
  public:
    static constexpr double kFrequency = 1000.0;
    static constexpr double kDefaultLevelDb = -20.0;
    static const platform::audio::AudioFormat kFormat;

    TestToneGenerator();
    // Takes a running tone off its engine, which must still exist.
    ~TestToneGenerator();
    TestToneGenerator(const TestToneGenerator&) = delete;
    TestToneGenerator& operator=(const TestToneGenerator&) = delete;

    // Starts the tone on `engine` at `levelDb` dB relative to full scale, replacing a tone that
    // runs already, and starts the engine when it is not running (a failure to start is logged
    // only: the tone still counts as running).
    void start(platform::audio::AudioEngine& engine, double levelDb);
    // Takes the tone off `engine`; nothing happens when it is not running.
    void stop(platform::audio::AudioEngine& engine);

    bool isRunning() const { return node_ != nullptr; }
    // The level last asked for, and its linear sample amplitude 10^(level / 20).
    double levelDb() const { return levelDb_; }
    float amplitude() const { return level_->amplitude.load(std::memory_order_relaxed); }
    // Changes the level, of a running tone too. A level that is not a finite number is logged
    // and ignored.
    void setLevel(double levelDb);

    // The tone's source node while it runs.
    const std::shared_ptr<platform::audio::SourceNode>& node() const { return node_; }

  private:
    // Shared with the render step, which only reads it.
    struct Level {
        std::atomic<float> amplitude;
    };

    std::shared_ptr<Level> level_;
    double levelDb_ = kDefaultLevelDb;
    std::shared_ptr<platform::audio::SourceNode> node_;
    platform::audio::AudioEngine* engine_ = nullptr;
};

}  // namespace kestio::output
