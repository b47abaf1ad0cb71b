// The sound output with nothing to play, on a private PulseAudio server: how often its threads
// wake and how much of a CPU the process takes over a few seconds of rest (the output's render
// thread, "audio output"; libpulse's threads, "threaded-ml"; all threads), and how long a sound
// started after the rest takes to be heard (the player's position first moving, over several
// starts). The program's engine with one player chain, as a show with nothing on air has.
//
//   bench_audio_output_idle

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <QCoreApplication>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "clock_seconds.h"
#include "platform/audio/audio_engine.h"
#include "platform/audio/audio_player_node.h"
#include "platform/audio/mixer_node.h"
#include "platform/audio/pcm_buffer.h"
#include "platform/audio/pulse_audio_device.h"
#include "platform/runloop/manual_run_loop.h"
#include "pulse_server.h"

namespace {

using namespace kestio;
using namespace kestio::platform;
using namespace kestio::platform::audio;

namespace fs = std::filesystem;

// Context switches (each one a wake) and CPU ticks of the process's threads, by thread name.
struct ThreadCounts {
    std::map<std::string, double> wakes;
    std::map<std::string, double> ticks;
};

std::string firstLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

ThreadCounts countThreads() {
    ThreadCounts counts;
    for (const auto& task : fs::directory_iterator("/proc/self/task")) {
        const std::string name = firstLine(task.path() / "comm");
        std::ifstream status(task.path() / "status");
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0 ||
                line.rfind("nonvoluntary_ctxt_switches:", 0) == 0) {
                counts.wakes[name] += std::stod(line.substr(line.find(':') + 1));
            }
        }
        // utime and stime are fields 14 and 15, after the name in parentheses.
        const std::string stat = firstLine(task.path() / "stat");
        std::istringstream fields(stat.substr(stat.rfind(')') + 2));
        std::string field;
        double utime = 0;
        double stime = 0;
        for (int i = 3; fields >> field; ++i) {
            if (i == 14) {
                utime = std::stod(field);
            } else if (i == 15) {
                stime = std::stod(field);
                break;
            }
        }
        counts.ticks[name] += utime + stime;
    }
    return counts;
}

double sumOf(const std::map<std::string, double>& values) {
    double sum = 0;
    for (const auto& [name, value] : values) {
        sum += value;
    }
    return sum;
}

double now() {
    return bench::secondsOf(CLOCK_MONOTONIC);
}

void BM_AudioOutputAtRest(benchmark::State& state) {
    static int argc = 1;
    static char name[] = "bench_audio_output_idle";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    test::PulseServer pulse;
    if (const std::string why = pulse.start(); !why.empty()) {
        state.SkipWithError(("no sound server: " + why).c_str());
        return;
    }
    ManualRunLoop loop;
    auto device = std::make_shared<PulseAudioDevice>(loop, std::make_shared<SteadyHostClock>());
    AudioEngine engine(device);
    const AudioFormat format{48000.0, 2, false};
    auto player = std::make_shared<AudioPlayerNode>();
    engine.attach(player);
    engine.connect(player, engine.mainMixerNode(), format);
    engine.start();
    auto tone = PcmBuffer::make(format, 24000);
    tone->setFrameLength(24000);
    for (uint32_t i = 0; i < 24000; ++i) {
        const auto s = float(0.25 * std::sin(2.0 * M_PI * 1000.0 * i / 48000.0));
        tone->channel(0)[i] = s;
        tone->channel(1)[i] = s;
    }
    constexpr double kRestSeconds = 3.0;
    constexpr int kStarts = 8;
    for (auto _ : state) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        const ThreadCounts before = countThreads();
        const double began = now();
        std::this_thread::sleep_for(std::chrono::duration<double>(kRestSeconds));
        const ThreadCounts after = countThreads();
        const double seconds = now() - began;
        const auto rate = [&](const std::string& thread) {
            const auto at = [](const std::map<std::string, double>& m, const std::string& key) {
                const auto found = m.find(key);
                return found == m.end() ? 0.0 : found->second;
            };
            return (at(after.wakes, thread) - at(before.wakes, thread)) / seconds;
        };
        const double ticksPerSecond = double(sysconf(_SC_CLK_TCK));
        state.counters["output_wakes_per_s"] = rate("audio output");
        state.counters["libpulse_wakes_per_s"] = rate("threaded-ml");
        state.counters["all_wakes_per_s"] = (sumOf(after.wakes) - sumOf(before.wakes)) / seconds;
        state.counters["cpu_percent"] =
            100.0 * (sumOf(after.ticks) - sumOf(before.ticks)) / ticksPerSecond / seconds;

        // Starts after a rest each: the time until the player's first frame is heard.
        std::vector<double> latencies;
        for (int i = 0; i < kStarts; ++i) {
            player->scheduleBuffer(tone);
            const double start = now();
            player->play();
            while (!(player->playerTime().value_or(0.0) > 0.0) && now() - start < 1.0) {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
            latencies.push_back(now() - start);
            std::this_thread::sleep_for(std::chrono::milliseconds(600));
            player->stop();
            std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        }
        std::sort(latencies.begin(), latencies.end());
        state.counters["start_median_ms"] = latencies[latencies.size() / 2] * 1e3;
        state.counters["start_worst_ms"] = latencies.back() * 1e3;
    }
    engine.stop();
}
BENCHMARK(BM_AudioOutputAtRest)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace
