// CPU of the kestio program while one 1080p H.264 clip (59.94, with a stereo AAC tone) plays on
// air as a loop, its output window on the second screen of an Xvfb, beside the private sound and
// JACK servers. Each iteration is a window of KESTIO_BENCH_SECONDS (20 by default) of wall time
// over which it reads the run time of every thread of the program (/proc/<pid>/task/*), and of
// the sound server; it prints each thread name's share of one core (median of the windows)
// and gives, as counters, the program's total, its main thread, its sound threads together
// (every thread whose name begins "audio"), the decode threads and the sound server.
// Goal: no more than the earlier build measured beside it (take_turns.py), toward 50 % of a core.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <iostream>
#include <thread>

#include "numbered_cues.h"
#include "output_show.h"
#include "thread_cpu.h"

namespace {

using namespace kestio;
using namespace std::chrono_literals;

double windowSeconds() {
    const char* given = std::getenv("KESTIO_BENCH_SECONDS");
    const double seconds = given ? std::atof(given) : 0.0;
    return seconds > 0.0 ? seconds : 20.0;
}

double total(const std::map<std::string, double>& shares) {
    double sum = 0.0;
    for (const auto& [name, share] : shares) {
        sum += share;
    }
    return sum;
}

double startingWith(const std::map<std::string, double>& shares, const std::string& prefix) {
    double sum = 0.0;
    for (const auto& [name, share] : shares) {
        if (name.rfind(prefix, 0) == 0) {
            sum += share;
        }
    }
    return sum;
}

void BM_PlayingClipCpu(benchmark::State& state) {
    const int height = int(state.range(0));
    bench::TwoScreenDesktop desktop;
    bench::AppSession session;
    if (bench::skipped(state, desktop.failure()) || bench::skipped(state, session.failure())) {
        return;
    }
    // Ten seconds a pass: the loop's seam falls twice in a window.
    const test::MediaFile clip = bench::numberedClip(height, 600);
    const auto package = session.writeShow("Playing.ktshow", 0, [&](ProjectData& project) {
        session.fillSlot(project.banks[0].slots[0], clip, "Clip", 0);
    });
    const auto servers = bench::childrenNamed(int(getpid()), "pulseaudio");
    if (servers.size() != 1) {
        state.SkipWithError("no sound server of this benchmark's own");
        return;
    }
    bench::XScreenWatch x(desktop.display());
    bench::OutputShow show{desktop, x};
    if (const std::string failure = show.open(package); !failure.empty()) {
        state.SkipWithError(show.keepEvidence(failure, package).c_str());
        return;
    }
    const auto pid = x.processOf(show.mainWindow);
    if (!pid) {
        state.SkipWithError("no process id of the program");
        return;
    }
    // The take's last steps and the first seam's read-ahead settle.
    std::this_thread::sleep_for(2s);

    const auto wanted = std::chrono::duration<double>(windowSeconds());
    std::map<std::string, std::vector<double>> figures;
    std::map<std::string, std::vector<double>> threads;
    std::size_t windows = 0;
    for (auto _ : state) {
        const auto wallStart = bench::SteadyClock::now();
        const auto programStart = bench::threadTimes(*pid);
        const auto serverStart = bench::threadTimes(servers.front());
        std::this_thread::sleep_for(wanted);
        const auto programEnd = bench::threadTimes(*pid);
        const auto serverEnd = bench::threadTimes(servers.front());
        const double wall =
            std::chrono::duration<double>(bench::SteadyClock::now() - wallStart).count();
        const auto shares = bench::sharesByName(programStart, programEnd, wall);
        const double mainThread =
            100.0 * (programEnd.byId.at(*pid).second - programStart.byId.at(*pid).second) / wall;
        figures["program_percent"].push_back(total(shares));
        figures["main_thread_percent"].push_back(mainThread);
        figures["sound_threads_percent"].push_back(startingWith(shares, "audio"));
        figures["sound_server_percent"].push_back(
            total(bench::sharesByName(serverStart, serverEnd, wall)));
        for (const auto& [name, share] : shares) {
            threads[name].push_back(share);
        }
        ++windows;
        state.SetIterationTime(wall);
    }
    if (!show.kestio->running()) {
        state.SkipWithError("the program ended");
        return;
    }
    for (const auto& [name, values] : figures) {
        state.counters[name] = bench::median(values);
    }
    state.counters["program_percent_worst"] = bench::worst(figures["program_percent"]);
    // Windows in which a thread did not exist count as zero for it.
    std::cerr << "CPU by thread name, percent of one core (median of " << windows << " windows):\n";
    for (auto& [name, shares] : threads) {
        shares.resize(windows, 0.0);
        std::cerr << "  " << name << ": " << bench::median(shares) << "\n";
        state.counters["thread " + name] = bench::median(shares);
    }
}

}  // namespace

BENCHMARK(BM_PlayingClipCpu)
    ->ArgName("height")
    ->Arg(1080)
    ->UseManualTime()
    ->Unit(benchmark::kSecond)
    ->Iterations(bench::iterations(3));
