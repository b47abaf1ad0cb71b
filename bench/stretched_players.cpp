// Eight stretched players: how long the render thread takes for each 512-frame block, worst
// case over the first second after the players start and worst case after it, against the
// block's period (10.7 ms at 48 kHz). The same stretch work done straight on Rubber Band
// (eight stretchers set up as the time-pitch node sets them up, asked for the same output per
// block) runs beside the engine, so the engine's own share shows.
//
// Each iteration starts afresh: a running engine on the null device gets eight chains (player
// -> time-pitch -> main mixer), their rates, and a start at a clock time, as a show fires eight
// clips at once; then it renders kSeconds block by block. Per block: the render thread's CPU
// time (what the block costs, free of the machine's other load) and its wall time. Over the
// run: the CPU of every thread of the process (read-ahead and priming included) per second of
// audio. Worst blocks are given as the median over the iterations of each one's worst, and the
// worst of all (_max), in % of the block's period. The rendering thread runs under the
// real-time policy where the system allows it, as the sound output's thread and the render
// helpers do (counter `realtime`).
// Run it pinned, e.g. `taskset -c 0-3 build/dev/bench/bench_stretched_players`.

#include <benchmark/benchmark.h>
#include <rubberband/RubberBandStretcher.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "clock_seconds.h"
#include "platform/audio/audio_engine.h"
#include "platform/audio/audio_player_node.h"
#include "platform/audio/mixer_node.h"
#include "platform/audio/pcm_buffer.h"
#include "platform/audio/realtime_scheduling.h"
#include "platform/audio/time_pitch_node.h"
#include "support/null_audio_device.h"

namespace {

using namespace kestio::platform::audio;
using kestio::bench::secondsOf;

constexpr double kRate = 48000.0;
constexpr uint32_t kBlock = 512;  // what the Qt output renders at a time
constexpr double kPeriodMs = 1000.0 * kBlock / kRate;
constexpr uint32_t kFirstSecondBlocks = uint32_t(kRate / kBlock) + 1;
constexpr double kSeconds = 4.0;
constexpr auto kBlocks = uint32_t(kSeconds * kRate / kBlock);
constexpr int kPlayers = 8;

constexpr std::array<float, kPlayers> kAllAt125 = {1.25f, 1.25f, 1.25f, 1.25f,
                                                   1.25f, 1.25f, 1.25f, 1.25f};
constexpr std::array<float, kPlayers> kMixedRates = {0.5f,  0.8f, 0.9f, 1.1f,
                                                     1.25f, 1.5f, 2.0f, 0.75f};

// A three-note chord, different in each channel, so that the stretcher has real work.
std::shared_ptr<PcmBuffer> chord(double seconds) {
    const auto frames = uint32_t(kRate * seconds);
    auto buffer = PcmBuffer::make(AudioFormat{kRate, 2, false}, frames);
    for (uint32_t i = 0; i < frames; ++i) {
        const double t = double(i) / kRate;
        const auto s = float(0.2 * (std::sin(2 * M_PI * 440 * t) + std::sin(2 * M_PI * 554.37 * t) +
                                    std::sin(2 * M_PI * 659.26 * t)));
        buffer->channel(0)[i] = s;
        buffer->channel(1)[i] = -0.7f * s;
    }
    buffer->setFrameLength(frames);
    return buffer;
}

// The worst block of each run, in and after the first second, and the CPU of all threads.
struct RunCosts {
    double firstCpu = 0.0, afterCpu = 0.0, firstWall = 0.0, afterWall = 0.0;  // seconds
    double processCpu = 0.0;                                                  // seconds

    void add(uint32_t block, double cpu, double wall) {
        double& worstCpu = block < kFirstSecondBlocks ? firstCpu : afterCpu;
        double& worstWall = block < kFirstSecondBlocks ? firstWall : afterWall;
        worstCpu = std::max(worstCpu, cpu);
        worstWall = std::max(worstWall, wall);
    }
};

// Over all runs: the median of the runs' worst blocks (the machine's other load shows in a
// single run's worst) and the worst of all, in % of the block's period.
void report(benchmark::State& state, std::vector<RunCosts> runs) {
    const auto share = [](double s) { return 100.0 * s * 1000.0 / kPeriodMs; };
    const auto put = [&](const char* name, double RunCosts::*field) {
        std::vector<double> values;
        for (const RunCosts& run : runs) {
            values.push_back(run.*field);
        }
        std::sort(values.begin(), values.end());
        state.counters[std::string(name) + "_pct"] = share(values[values.size() / 2]);
        state.counters[std::string(name) + "_max_pct"] = share(values.back());
    };
    put("first_s_cpu", &RunCosts::firstCpu);
    put("after_cpu", &RunCosts::afterCpu);
    put("first_s_wall", &RunCosts::firstWall);
    put("after_wall", &RunCosts::afterWall);
    double cpu = 0.0;
    for (const RunCosts& run : runs) {
        cpu += run.processCpu;
    }
    state.counters["all_threads_cpu_pct"] = 100.0 * cpu / (kSeconds * double(runs.size()));
}

// The calling thread renders under the real-time policy, as the sound output's thread does,
// while it lives (where the system allows it; the `realtime` counter says whether it did).
class RenderingThread {
  public:
    explicit RenderingThread(benchmark::State& state)
        : raised_(kestio::platform::audio::scheduleCallingThreadInRealTime().empty()) {
        state.counters["realtime"] = raised_ ? 1.0 : 0.0;
    }
    ~RenderingThread() {
        if (raised_) {
            kestio::platform::audio::scheduleCallingThreadOrdinarily();
        }
    }
    RenderingThread(const RenderingThread&) = delete;
    RenderingThread& operator=(const RenderingThread&) = delete;

  private:
    const bool raised_;
};

struct Chain {
    std::shared_ptr<AudioPlayerNode> player = std::make_shared<AudioPlayerNode>();
    std::shared_ptr<TimePitchNode> pitch = std::make_shared<TimePitchNode>();
};

// The engine: eight players through time-pitch nodes at `rates`, started together `lead`
// seconds after their rates are set (0: with the next block).
void engine(benchmark::State& state, std::array<float, kPlayers> rates, double lead) {
    const auto material = chord(kSeconds * 2.0 + 2.0);
    const AudioFormat link{kRate, 2, false};
    std::vector<RunCosts> runs;
    for (auto _ : state) {
        auto device = std::make_shared<kestio::test::NullAudioDevice>(kRate, 2);
        AudioEngine engine(device);
        engine.start();
        for (int b = 0; b < 20; ++b) {  // running before the show fires
            device->pull(kBlock);
        }
        const double processStart = secondsOf(CLOCK_PROCESS_CPUTIME_ID);
        std::vector<Chain> chains(kPlayers);
        {
            const auto batch = engine.batchChanges();
            for (Chain& chain : chains) {
                engine.attach(chain.player);
                engine.attach(chain.pitch);
                engine.connect(chain.player, chain.pitch, link);
                engine.connect(chain.pitch, engine.mainMixerNode(), link);
            }
        }
        const kestio::platform::ClockTime startAt = engine.renderedPosition() + lead;
        for (int n = 0; n < kPlayers; ++n) {
            chains[n].pitch->setRate(rates[n]);
            chains[n].player->setVolume(0.3f);
            chains[n].player->scheduleBuffer(material);
            chains[n].player->play(startAt);
        }
        for (Chain& chain : chains) {
            chain.player->waitUntilPrepared(10.0);
        }
        device->clearCaptured();

        RunCosts run;
        const RenderingThread rendering(state);
        for (uint32_t b = 0; b < kBlocks; ++b) {
            state.PauseTiming();
            for (Chain& chain : chains) {
                chain.player->waitUntilPrepared(10.0);
            }
            device->clearCaptured();
            state.ResumeTiming();
            const double cpu = secondsOf(CLOCK_THREAD_CPUTIME_ID);
            const double wall = secondsOf(CLOCK_MONOTONIC);
            device->pull(kBlock);
            run.add(b, secondsOf(CLOCK_THREAD_CPUTIME_ID) - cpu, secondsOf(CLOCK_MONOTONIC) - wall);
        }
        run.processCpu = secondsOf(CLOCK_PROCESS_CPUTIME_ID) - processStart;
        runs.push_back(run);
        state.PauseTiming();
        engine.stop();
        chains.clear();
        state.ResumeTiming();
    }
    report(state, runs);
}

// Rubber Band alone: eight stretchers made, padded and asked for output as the time-pitch node
// does it (the pad before the timed blocks, as the node pads on the main thread), the library's
// own way of starting in real time: the sound is there from the first block, as in the
// engine's sound_at_once case, and the start delay is dropped from the output.
void library(benchmark::State& state, std::array<float, kPlayers> rates) {
    using RubberBand::RubberBandStretcher;
    const auto material = chord(kSeconds * 3.0 + 2.0);
    std::vector<float> silence(kBlock, 0.0f);
    const std::array<const float*, 2> silent = {silence.data(), silence.data()};
    std::vector<float> out(2 * 4096);
    std::vector<float> discard(2 * 4096);
    std::vector<RunCosts> runs;
    for (auto _ : state) {
        struct Stretch {
            std::unique_ptr<RubberBandStretcher> stretcher;
            uint64_t read = 0;     // input frames given to it
            std::size_t drop = 0;  // start delay still to throw away
        };
        std::vector<Stretch> stretches(kPlayers);
        for (int n = 0; n < kPlayers; ++n) {
            Stretch& s = stretches[n];
            s.stretcher =
                std::make_unique<RubberBandStretcher>(std::size_t(kRate), 2,
                                                      RubberBandStretcher::OptionProcessRealTime |
                                                          RubberBandStretcher::OptionEngineFiner |
                                                          RubberBandStretcher::OptionWindowShort |
                                                          RubberBandStretcher::OptionThreadingNever,
                                                      1.0 / double(rates[n]), 1.0);
            s.stretcher->setMaxProcessSize(TimePitchNode::kBlockFrames);
            for (std::size_t pad = s.stretcher->getPreferredStartPad(); pad > 0;) {
                const std::size_t step = std::min<std::size_t>(pad, kBlock);
                s.stretcher->process(silent.data(), step, false);
                pad -= step;
            }
            s.drop = s.stretcher->getStartDelay();
        }

        RunCosts run;
        const RenderingThread rendering(state);
        const double processStart = secondsOf(CLOCK_PROCESS_CPUTIME_ID);
        for (uint32_t b = 0; b < kBlocks; ++b) {
            const double cpu = secondsOf(CLOCK_THREAD_CPUTIME_ID);
            const double wall = secondsOf(CLOCK_MONOTONIC);
            for (Stretch& s : stretches) {
                uint32_t produced = 0;
                while (produced < kBlock) {
                    const int available = s.stretcher->available();
                    if (available > 0) {
                        if (s.drop > 0) {
                            const auto n = std::min<std::size_t>(std::size_t(available), s.drop);
                            float* const into[2] = {discard.data(), discard.data() + 4096};
                            s.stretcher->retrieve(into, std::min<std::size_t>(n, 4096));
                            s.drop -= std::min<std::size_t>(n, 4096);
                            continue;
                        }
                        const auto n =
                            std::min<std::size_t>(std::size_t(available), kBlock - produced);
                        float* const into[2] = {out.data() + produced,
                                                out.data() + 4096 + produced};
                        s.stretcher->retrieve(into, n);
                        produced += uint32_t(n);
                        continue;
                    }
                    const std::array<const float*, 2> in = {material->channel(0) + s.read,
                                                            material->channel(1) + s.read};
                    s.stretcher->process(in.data(), TimePitchNode::kBlockFrames, false);
                    s.read += TimePitchNode::kBlockFrames;
                }
            }
            run.add(b, secondsOf(CLOCK_THREAD_CPUTIME_ID) - cpu, secondsOf(CLOCK_MONOTONIC) - wall);
        }
        run.processCpu = secondsOf(CLOCK_PROCESS_CPUTIME_ID) - processStart;
        runs.push_back(run);
    }
    report(state, runs);
}

// Clips fired as a show fires them: rates set with the chains, sound 150 ms later (prerolled).
BENCHMARK_CAPTURE(engine, all_at_1_25, kAllAt125, 0.15)
    ->Iterations(8)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(library, all_at_1_25, kAllAt125)->Iterations(8)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(engine, mixed_rates, kMixedRates, 0.15)
    ->Iterations(8)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(library, mixed_rates, kMixedRates)->Iterations(8)->Unit(benchmark::kMillisecond);
// The hardest case: the sound is there with the first stretched block, so every stretcher
// takes in its start-up input on the render thread in that block.
BENCHMARK_CAPTURE(engine, all_at_1_25_sound_at_once, kAllAt125, 0.0)
    ->Iterations(8)
    ->Unit(benchmark::kMillisecond);

}  // namespace
