// CPU of the kestio program idle with its main window open: the show of 800 cues loaded and
// warmed up, nothing playing, on an Xvfb with the private sound and JACK servers. Each
// iteration reads the process's CPU clock (all its threads) and its main thread's run time
// (/proc/<pid>/task/<pid>/schedstat, the clock the thread's own CLOCK_THREAD_CPUTIME_ID reads)
// over 10 s of wall time, and prints the share of each of its threads, by name (median of the
// windows). Goal: under 3 % of one core.
#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "app_session.h"
#include "clock_seconds.h"
#include "thread_cpu.h"
#include "x_screen_watch.h"

namespace {

using namespace kestio;
using namespace std::chrono_literals;

constexpr double kGoalPercent = 3.0;
constexpr auto kWindow = 10s;

void BM_IdleMainWindowCpu(benchmark::State& state) {
    test::VirtualDesktop desktop;
    bench::AppSession session;
    if (bench::skipped(state, desktop.failure()) || bench::skipped(state, session.failure())) {
        return;
    }
    const auto package = session.writeShow("Idle.ktshow", 20);
    test::KestioProcess kestio(desktop, {"--midi", bench::midiApi(), package.string()});
    std::string window;
    if (!test::pollUntil([&] {
            window = kestio.mainWindow().value_or("");
            return !window.empty();
        }) ||
        !bench::AppSession::waitForWarmUp(package)) {
        state.SkipWithError(("the show never opened: " + kestio.output()).c_str());
        return;
    }
    bench::XScreenWatch x(desktop.display());
    const auto pid = x.processOf(std::uint32_t(std::stoul(window)));
    clockid_t clock{};
    if (!pid || clock_getcpuclockid(*pid, &clock) != 0) {
        state.SkipWithError("no CPU clock of the program");
        return;
    }
    // The warm-up's last hand-overs and the first thumbnails' decoding settle.
    std::this_thread::sleep_for(3s);

    std::vector<double> process, mainThread;
    std::map<std::string, std::vector<double>> threads;
    for (auto _ : state) {
        const auto wallStart = bench::SteadyClock::now();
        const double cpuStart = bench::secondsOf(clock);
        const double mainStart = bench::threadRunSeconds(*pid, *pid);
        const bench::ThreadTimes threadsStart = bench::threadTimes(*pid);
        std::this_thread::sleep_for(kWindow);
        const double wall =
            std::chrono::duration<double>(bench::SteadyClock::now() - wallStart).count();
        process.push_back(100.0 * (bench::secondsOf(clock) - cpuStart) / wall);
        mainThread.push_back(100.0 * (bench::threadRunSeconds(*pid, *pid) - mainStart) / wall);
        for (const auto& [name, share] :
             bench::sharesByName(threadsStart, bench::threadTimes(*pid), wall)) {
            threads[name].push_back(share);
        }
        state.SetIterationTime(wall);
    }
    if (!kestio.running()) {
        state.SkipWithError("the program ended");
        return;
    }
    std::sort(process.begin(), process.end());
    std::sort(mainThread.begin(), mainThread.end());
    state.counters["cpu_percent_median"] = process[process.size() / 2];
    state.counters["cpu_percent_worst"] = process.back();
    state.counters["goal_share_worst"] = process.back() / kGoalPercent;
    state.counters["main_thread_percent_median"] = mainThread[mainThread.size() / 2];
    // Windows in which a thread did not exist count as zero for it.
    std::cerr << "CPU by thread name, percent of one core (median of " << process.size()
              << " windows):\n";
    for (auto& [name, shares] : threads) {
        shares.resize(process.size(), 0.0);
        std::sort(shares.begin(), shares.end());
        std::cerr << "  " << name << ": " << shares[shares.size() / 2] << "\n";
    }
}

}  // namespace

BENCHMARK(BM_IdleMainWindowCpu)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(3);
