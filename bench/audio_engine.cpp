// Render-thread cost of the audio graph: CPU time of the thread that pulls the engine, per
// second of audio rendered, for one or two stereo slot chains (player -> time-pitch -> six-band
// EQ -> main mixer) as the output plays them. Two chains render side by side on the engine's
// render helpers, whose CPU time is not counted here; one chain renders on the render thread.

#include <benchmark/benchmark.h>

#include <cmath>
#include <ctime>
#include <functional>
#include <memory>
#include <vector>

#include "clock_seconds.h"
#include "platform/audio/audio_engine.h"
#include "platform/audio/audio_player_node.h"
#include "platform/audio/eq_node.h"
#include "platform/audio/mixer_node.h"
#include "platform/audio/pcm_buffer.h"
#include "platform/audio/time_pitch_node.h"
#include "support/null_audio_device.h"

namespace {

using namespace kestio::platform::audio;

std::shared_ptr<PcmBuffer> chord(double rate, double seconds) {
    const auto frames = uint32_t(rate * seconds);
    auto buffer = PcmBuffer::make(AudioFormat{rate, 2, false}, frames);
    for (uint32_t i = 0; i < frames; ++i) {
        const double t = double(i) / rate;
        const auto s = float(0.2 * (std::sin(2 * M_PI * 440 * t) + std::sin(2 * M_PI * 554.37 * t) +
                                    std::sin(2 * M_PI * 659.26 * t)));
        buffer->channel(0)[i] = s;
        buffer->channel(1)[i] = -s;
    }
    buffer->setFrameLength(frames);
    return buffer;
}

struct SlotChain {
    std::shared_ptr<AudioPlayerNode> player = std::make_shared<AudioPlayerNode>();
    std::shared_ptr<TimePitchNode> pitch = std::make_shared<TimePitchNode>();
    std::shared_ptr<EQNode> eq = std::make_shared<EQNode>(6);
    // Schedules the material again whenever a pass has been read ahead.
    std::shared_ptr<std::function<void()>> again = std::make_shared<std::function<void()>>();
};

// count: the chains; rate: the time-pitch rate (1 bypasses it); linkRate: the chains' sample
// rate (the device renders at 48 kHz).
void renderChains(benchmark::State& state, int count, float rate, double linkRate) {
    auto device = std::make_shared<kestio::test::NullAudioDevice>(48000.0, 2);
    AudioEngine engine(device);
    const AudioFormat link{linkRate, 2, false};
    const auto material = chord(linkRate, 10.0);
    std::vector<std::unique_ptr<SlotChain>> chains;
    const float centres[] = {80, 315, 800, 1250, 2500, 3200};
    for (int n = 0; n < count; ++n) {
        auto chain = std::make_unique<SlotChain>();
        engine.attach(chain->player);
        engine.attach(chain->pitch);
        engine.attach(chain->eq);
        for (int b = 0; b < 6; ++b) {
            chain->eq->setBand(b, EQBand{EQBand::FilterType::Parametric, centres[b], 1.0f,
                                         b % 2 == 0 ? 4.0f : -3.0f, false});
        }
        chain->pitch->setRate(rate);
        engine.connect(chain->player, chain->pitch, link);
        engine.connect(chain->pitch, chain->eq, link);
        engine.connect(chain->eq, engine.mainMixerNode(), link);
        chain->player->setVolume(0.5f);
        *chain->again = [player = std::weak_ptr(chain->player), material,
                         again = std::weak_ptr(chain->again)] {
            auto node = player.lock();
            auto next = again.lock();
            if (node && next) {
                node->scheduleBuffer(material, *next);
            }
        };
        chain->player->scheduleBuffer(material, *chain->again);
        chain->player->play();
        chains.push_back(std::move(chain));
    }
    engine.start();
    for (auto& chain : chains) {
        chain->player->waitUntilPrepared(10.0);
    }
    constexpr uint32_t kBlock = 512;  // what the Qt output renders at a time
    for (auto _ : state) {
        for (auto& chain : chains) {
            chain->player->waitUntilPrepared(10.0);
        }
        const double start = kestio::bench::secondsOf(CLOCK_THREAD_CPUTIME_ID);
        for (uint32_t done = 0; done < 48000; done += kBlock) {
            device->pull(kBlock);
        }
        state.SetIterationTime(kestio::bench::secondsOf(CLOCK_THREAD_CPUTIME_ID) - start);
        device->clearCaptured();
    }
    state.counters["audio_seconds"] = benchmark::Counter(double(state.iterations()));
    engine.stop();
    chains.clear();
}

void renderTwoChains(benchmark::State& state, float rate, double linkRate) {
    renderChains(state, 2, rate, linkRate);
}

void renderOneChain(benchmark::State& state, float rate, double linkRate) {
    renderChains(state, 1, rate, linkRate);
}

// Each iteration renders one second of audio; its time is the render thread's CPU time.
BENCHMARK_CAPTURE(renderTwoChains, stretch_1_25_eq, 1.25f, 48000.0)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(renderTwoChains, stretch_0_5_eq, 0.5f, 48000.0)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(renderTwoChains, stretch_2_eq_44k1_into_48k, 2.0f, 44100.0)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(renderTwoChains, rate_1_eq_only, 1.0f, 48000.0)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(renderOneChain, stretch_1_25_eq, 1.25f, 48000.0)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(renderOneChain, rate_1_eq_only, 1.0f, 48000.0)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
