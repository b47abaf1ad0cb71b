#include "output/test_tone.h"

#include <cmath>
#include <numbers>
#include <string>

#include "platform/audio/audio_engine.h"
#include "platform/audio/mixer_node.h"
#include "platform/audio/source_node.h"
#include "platform/runloop/console.h"

namespace kestio::output {

namespace {

constexpr double kSampleRate = 48000.0;
constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr double kPhaseStep = kTwoPi * TestToneGenerator::kFrequency / kSampleRate;

float amplitudeOf(double levelDb) {
    return static_cast<float>(std::pow(10.0, levelDb / 20.0));
}

}  // namespace

const platform::audio::AudioFormat TestToneGenerator::kFormat{kSampleRate, 2, false};

TestToneGenerator::TestToneGenerator()
    : level_(std::make_shared<Level>(amplitudeOf(kDefaultLevelDb))) {}

TestToneGenerator::~TestToneGenerator() {
    if (engine_ != nullptr) {
        stop(*engine_);
    }
}

void TestToneGenerator::setLevel(double levelDb) {
    if (!std::isfinite(levelDb)) {
        platform::Console::log("test tone: level " + std::to_string(levelDb) +
                               " dB is not a number; the level stays at " +
                               std::to_string(levelDb_) + " dB");
        return;
    }
    levelDb_ = levelDb;
    level_->amplitude.store(amplitudeOf(levelDb), std::memory_order_relaxed);
}

void TestToneGenerator::start(platform::audio::AudioEngine& engine, double levelDb) {
    stop(engine);
    setLevel(levelDb);

    // The render step owns its phase; it shares only the level. Its buffers come zeroed, so
    // a step that wrote nothing would leave silence.
    auto render = [level = level_, phase = 0.0](uint32_t frames, float* const* channels,
                                                uint32_t channelCount) mutable {
        const float amplitude = level->amplitude.load(std::memory_order_relaxed);
        for (uint32_t i = 0; i < frames; ++i) {
            const float sample = amplitude * static_cast<float>(std::sin(phase));
            phase += kPhaseStep;
            if (phase > kTwoPi) {
                phase -= kTwoPi;
            }
            for (uint32_t c = 0; c < channelCount; ++c) {
                channels[c][i] = sample;
            }
        }
        return true;
    };
    auto node = std::make_shared<platform::audio::SourceNode>(kFormat, std::move(render));
    engine.attach(node);
    if (auto reason = engine.connect(node, engine.mainMixerNode(), kFormat)) {
        platform::Console::log("test tone: not connected to the main mixer: " + *reason);
    }
    if (!engine.isRunning()) {
        if (auto reason = engine.start()) {
            platform::Console::log("test tone: the audio engine did not start: " + *reason);
        }
    }
    node_ = std::move(node);
    engine_ = &engine;
}

void TestToneGenerator::stop(platform::audio::AudioEngine& engine) {
    if (!node_) {
        return;
    }
    engine.disconnectNodeOutput(node_);
    engine.detach(node_);
    node_.reset();
    engine_ = nullptr;
}

}  // namespace kestio::output
