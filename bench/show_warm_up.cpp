// The warm-up of 80 generated clips (one-second H.264 + AAC, 160x120) on the real playback
// controller, clip importer and null audio device, as the show runs it after opening a project.
// "total_s" is the wall time of the run; "rss_peak_mb" the largest resident size sampled after
// each clip, "rss_growth_mb" how much it grew from the first clip to the last (it must not grow
// with the number of clips warmed).
//
//   bench/bench_show_warm_up

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "model/project_manager.h"
#include "platform/storage/bookmark_service.h"
#include "resident_memory.h"
#include "show/project_io.h"
#include "support/live_show_rig.h"
#include "support/media_fixtures.h"
#include "support/temporary_folder.h"

namespace {

using namespace kestio;
namespace fs = std::filesystem;

constexpr int kClips = 80;

// The show on its real parts, MIDI through the loopback system.
struct RealShow : test::LoopbackLoop {
    test::LiveShowRig rig{loop, midiSystem};
};

void BM_WarmUp80(benchmark::State& state) {
    test::TemporaryFolder folder;
    const fs::path first = folder / "clip0.mp4";
    const auto made = test::writeToneClip(first, 1.0);
    if (!made.succeeded()) {
        state.SkipWithError(made.errorOutput.c_str());
        return;
    }
    platform::BookmarkService bookmarks;
    ProjectData project(4, 10);
    for (int i = 0; i < kClips; ++i) {
        const fs::path file = folder / ("clip" + std::to_string(i) + ".mp4");
        if (i > 0) {
            fs::copy_file(first, file);
        }
        SlotData& slot = project.banks[std::size_t(i / 40)].slots[std::size_t(i % 40)];
        slot.name = file.stem().string();
        slot.bookmarkData = bookmarks.bookmarkData(file);
    }
    const fs::path package = ProjectManager(bookmarks).save(project, folder / "Warm.ktshow");

    for (auto _ : state) {
        RealShow real;
        std::vector<double> resident;
        auto sampling = real.rig.controller.warmDone.subscribe(
            [&](int) { resident.push_back(bench::residentBytes()); });
        const auto start = std::chrono::steady_clock::now();
        real.rig.show->projectIO().loadProject(package);
        bool started = false;
        while (!started || real.rig.show->isLoading.get()) {
            started = started || real.rig.show->isLoading.get();
            real.loop.runPending();
            if (!real.loop.waitForPosted(0.005)) {
                real.loop.advance(0.005);
            }
        }
        state.counters["total_s"] =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (resident.size() > 2) {
            state.counters["rss_peak_mb"] =
                *std::max_element(resident.begin(), resident.end()) / 1e6;
            state.counters["rss_growth_mb"] = (resident[resident.size() - 2] - resident[1]) / 1e6;
        }
    }
}
BENCHMARK(BM_WarmUp80)->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace
