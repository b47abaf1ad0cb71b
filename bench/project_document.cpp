// Saving and reopening a show at the limits: 20 banks of 10,000 slots (200,000 slots), either
// fresh (names only) or with every member of every slot present (600-byte bookmarks, clip
// facts, eight channel levels, four MIDI bindings, 64-byte names). Each save or reopen runs in
// a forked child so that its peak resident memory (ru_maxrss) is its own; the counters give
// that peak, what the child held before the step (the project, or nothing for a reopen), and
// the step's own time.
//
//   bench/bench_project_document --benchmark_filter=BM_Save/full
//
// The packages are written into a temporary folder and removed at the end.

#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "model/project_data.h"
#include "model/project_manager.h"
#include "resident_memory.h"
#include "support/temporary_folder.h"

namespace {

using namespace kestio;
namespace fs = std::filesystem;

enum class Slots : std::int64_t { fresh = 0, full = 1 };

ProjectData projectAtTheLimits(Slots kind) {
    ProjectData project(100, 100);
    if (kind == Slots::fresh) {
        return project;
    }
    int b = 0;
    for (BankData& bank : project.banks) {
        int s = 0;
        for (SlotData& slot : bank.slots) {
            slot.name = std::string(60, 'n') + std::to_string(1000 + s % 9000);
            slot.bookmarkData = std::vector<std::uint8_t>(600, std::uint8_t(s));
            slot.mediaType = MediaType::video;
            slot.jumpTarget = JumpTarget{b, s};
            slot.inPoint = 1.25;
            slot.outPoint = 61.5;
            slot.audioSettings.channelLevels = std::vector<float>(8, -3.5f);
            slot.clipInfo = ClipInfo{"h264", "1920x1080", 29.97, 20'000'000, 61.5,
                                     2,      48000.0,     24,    "aac",      1.7e9};
            slot.thumbnailFileName =
                "thumb_" + std::to_string(b) + "_" + std::to_string(s) + ".png";
            slot.shortcutKey = "F5";
            slot.midiBindings = std::vector<MIDINoteBinding>{{1, 60}, {1, 61}, {2, 62}, {3, 63}};
            slot.midiOutputBinding = MIDINoteBinding{16, 127};
            ++s;
        }
        ++b;
    }
    return project;
}

using kestio::bench::residentBytes;

struct StepFigures {
    double seconds = 0;
    double heldBytes = 0;
    double peakBytes = 0;
};

// Runs `prepare` then `step` in a child; the child sends back the step's time and what it held
// before it, the parent takes the child's peak from wait4.
template <typename Prepare, typename Step>
StepFigures inChild(Prepare prepare, Step step) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) {
        return {};
    }
    const pid_t pid = fork();
    if (pid == 0) {
        close(pipeEnds[0]);
        auto prepared = prepare();
        StepFigures figures;
        figures.heldBytes = residentBytes();
        const auto start = std::chrono::steady_clock::now();
        step(std::move(prepared));
        figures.seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const ssize_t written = write(pipeEnds[1], &figures, sizeof figures);
        _exit(written == sizeof figures ? 0 : 1);
    }
    close(pipeEnds[1]);
    StepFigures figures;
    const ssize_t got = read(pipeEnds[0], &figures, sizeof figures);
    close(pipeEnds[0]);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    if (got != sizeof figures || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return {};
    }
    figures.peakBytes = double(usage.ru_maxrss) * 1024.0;
    return figures;
}

void report(benchmark::State& state, const StepFigures& figures) {
    if (figures.peakBytes == 0) {
        state.SkipWithError("the step failed in its child");
        return;
    }
    state.SetIterationTime(figures.seconds);
    state.counters["peak_MB"] = figures.peakBytes / 1e6;
    state.counters["held_before_MB"] = figures.heldBytes / 1e6;
}

fs::path packageIn(const kestio::test::TemporaryFolder& folder, Slots kind) {
    return folder.path() / (kind == Slots::fresh ? "fresh.ktshow" : "full.ktshow");
}

kestio::test::TemporaryFolder& folder() {
    static kestio::test::TemporaryFolder shared;
    return shared;
}

void BM_Save(benchmark::State& state) {
    const auto kind = static_cast<Slots>(state.range(0));
    const fs::path package = packageIn(folder(), kind);
    for (auto _ : state) {
        report(state, inChild([kind] { return projectAtTheLimits(kind); },
                              [&](ProjectData project) {
                                  ProjectManager::shared().save(std::move(project), package);
                              }));
    }
    state.counters["file_MB"] =
        double(fs::file_size(package / ProjectManager::kDataFileName)) / 1e6;
}

void BM_Reopen(benchmark::State& state) {
    const auto kind = static_cast<Slots>(state.range(0));
    const fs::path package = packageIn(folder(), kind);
    if (!fs::exists(package / ProjectManager::kDataFileName)) {
        ProjectManager::shared().save(projectAtTheLimits(kind), package);
    }
    for (auto _ : state) {
        report(state, inChild([] { return 0; },
                              [&](int) {
                                  const ProjectData project =
                                      ProjectManager::shared().load(package);
                                  benchmark::DoNotOptimize(project.banks.size());
                              }));
    }
}

BENCHMARK(BM_Save)->ArgName("full")->Arg(0)->Arg(1)->UseManualTime()->Iterations(1)->Unit(
    benchmark::kMillisecond);
BENCHMARK(BM_Reopen)->ArgName("full")->Arg(0)->Arg(1)->UseManualTime()->Iterations(1)->Unit(
    benchmark::kMillisecond);

}  // namespace
