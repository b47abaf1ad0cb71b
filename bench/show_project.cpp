// The show controller's project operations on an 800-slot show (20 banks of 4 × 10):
//   BM_OpenProject: open a package whose 800 media files all exist. "grid_ms" is the time from
//     the call until the project is installed (the grid can draw); "main_ms" is the time the
//     main thread spends in the call and in the step that installs the project; the check of
//     the 800 files runs afterwards on the disk worker ("checked_ms" until it is done).
//   BM_SaveProject: save an 800-slot project with 720 thumbnails in place. "main_ms" is the
//     main thread's share (the call: a copy of the project handed to the disk worker);
//     the iteration time includes the package being written.
//   BM_SaveOneChangedSlot: the same save after one slot got a new picture: the iteration time
//     is the wall time from the call until the save's answer is taken on the main thread.
//   BM_Relink: relink 800 missing slots from a folder of 10,000 media files in nested folders.
//
//   bench/bench_show_project
//
// Media files are a few bytes each (only their names and existence matter here). Packages and
// folders go into a temporary folder removed at the end.

#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "platform/storage/bookmark_service.h"
#include "show/media_check.h"
#include "show/project_io.h"
#include "show/show_controller.h"
#include "support/show_rig.h"
#include "support/temporary_folder.h"

namespace {

using namespace kestio;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A show controller with recorded playback and scripted dialogs, as the tests build it.
struct Show : test::RecordedShow {
    Show() { playback.warmReadyAnswer = true; }

    template <typename Done>
    void waitFor(Done done) {
        loop.runPending();
        while (!done()) {
            loop.waitForPosted(0.01);
            loop.runPending();
        }
    }
    bool logged(const std::string& line) const {
        for (const auto& l : playback.logLines) {
            if (l == line) {
                return true;
            }
        }
        return false;
    }
};

// 800 slots with a small media file each; with thumbnails on the first `thumbnails` slots.
ProjectData showWithMedia(const fs::path& folder, const platform::BookmarkService& bookmarks,
                          int thumbnails) {
    ProjectData project(4, 10);
    fs::create_directories(folder);
    int n = 0;
    for (std::size_t b = 0; b < project.banks.size(); ++b) {
        for (std::size_t s = 0; s < project.banks[b].slots.size(); ++s, ++n) {
            SlotData& slot = project.banks[b].slots[s];
            slot.name = "clip" + std::to_string(n);
            const fs::path file = folder / (slot.name + ".mov");
            std::ofstream(file) << n;
            slot.bookmarkData = bookmarks.bookmarkData(file);
            slot.videoURL = file;
            slot.clipInfo = ClipInfo{"h264", "1920x1080", 29.97, 20'000'000, 61.5,
                                     2,      48000.0,     24,    "aac",      std::nullopt};
            if (n < thumbnails) {
                slot.thumbnail = std::vector<std::uint8_t>(24 * 1024, std::uint8_t(n));
            }
        }
    }
    return project;
}

// Saves the 800-slot show with 720 thumbnails in `folder` as "Show.ktshow", opens it and waits
// for its warm-up to end.
void openWarmShow(Show& show, const fs::path& folder) {
    const fs::path package = show.projectManager.save(
        showWithMedia(folder / "media", show.bookmarks, 720), folder / "Show.ktshow");
    show.show->projectIO().loadProject(package);
    show.waitFor([&] { return !show.recentProjects.load().empty(); });
    show.waitFor([&] { return show.logged("ウォームアップ完了 (800件)"); });
}

void BM_OpenProject(benchmark::State& state) {
    test::TemporaryFolder folder;
    Show setup;
    const fs::path package = setup.projectManager.save(
        showWithMedia(folder / "media", setup.bookmarks, 720), folder / "Show.ktshow");
    double grid = 0;
    double main = 0;
    double checked = 0;
    for (auto _ : state) {
        Show show;
        const auto generation = show.show->projectGeneration();
        const auto start = Clock::now();
        Clock::time_point installed;
        double mainTime = 0;
        show.show->projectIO().loadProject(package);
        mainTime += msSince(start);
        while (show.show->projectGeneration() == generation) {
            show.loop.waitForPosted(0.01);  // runs the install step when it comes
        }
        installed = Clock::now();
        grid += std::chrono::duration<double, std::milli>(installed - start).count();
        // The install step ran inside the last waitForPosted: time it on its own next round.
        show.waitFor([&] { return !show.recentProjects.load().empty(); });
        checked += msSince(start);
        main += mainTime;
    }
    // The install step's own main-thread time, measured apart from waiting.
    {
        Show show;
        show.show->projectIO().loadProject(package);
        while (show.loop.pendingCount() == 0) {
            std::this_thread::yield();
        }
        const auto start = Clock::now();
        show.loop.runPending();
        state.counters["install_ms"] = msSince(start);
        show.waitFor([&] { return !show.recentProjects.load().empty(); });
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["grid_ms"] = grid / n;
    state.counters["call_ms"] = main / n;
    state.counters["checked_ms"] = checked / n;
}
BENCHMARK(BM_OpenProject)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_SaveProject(benchmark::State& state) {
    test::TemporaryFolder folder;
    Show show;
    openWarmShow(show, folder.path());
    double main = 0;
    int saves = 0;
    for (auto _ : state) {
        const std::string line = "プロジェクト上書き保存: Show.ktshow";
        show.playback.logLines.clear();
        const auto start = Clock::now();
        show.show->projectIO().saveProject();
        main += msSince(start);
        show.waitFor([&] { return show.logged(line); });
        ++saves;
    }
    state.counters["main_ms"] = main / saves;
}
BENCHMARK(BM_SaveProject)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_SaveOneChangedSlot(benchmark::State& state) {
    test::TemporaryFolder folder;
    Show show;
    openWarmShow(show, folder.path());
    const std::string line = "プロジェクト上書き保存: Show.ktshow";
    int change = 0;
    for (auto _ : state) {
        state.PauseTiming();
        ++change;
        show.show->editProject(
            [&](ProjectData& project) {
                project.banks[std::size_t(change % 18)].slots[std::size_t(change % 40)].thumbnail =
                    std::vector<std::uint8_t>(24 * 1024, std::uint8_t(change));
            },
            true);
        show.playback.logLines.clear();
        state.ResumeTiming();
        show.show->projectIO().saveProject();
        show.waitFor([&] { return show.logged(line); });
    }
}
BENCHMARK(BM_SaveOneChangedSlot)->Unit(benchmark::kMillisecond)->Iterations(10);

void BM_Relink(benchmark::State& state) {
    test::TemporaryFolder folder;
    // 10,000 media files in 100 nested folders; 800 of them carry the slots' names.
    for (int f = 0; f < 100; ++f) {
        const fs::path sub =
            folder / "library" / ("set" + std::to_string(f / 10)) / ("part" + std::to_string(f));
        fs::create_directories(sub);
        for (int i = 0; i < 100; ++i) {
            const int n = f * 100 + i;
            const std::string name = n % 12 == 0 && n / 12 < 800 ? "clip" + std::to_string(n / 12)
                                                                 : "other" + std::to_string(n);
            std::ofstream(sub / (name + ".mp4")) << n;
        }
    }
    Show setup;
    ProjectData project = showWithMedia(folder / "gone", setup.bookmarks, 0);
    const fs::path package = setup.projectManager.save(project, folder / "Lost.ktshow");
    fs::remove_all(folder / "gone");
    for (auto _ : state) {
        state.PauseTiming();
        Show show;
        show.show->projectIO().loadProject(package);
        show.waitFor([&] { return !show.recentProjects.load().empty(); });
        state.ResumeTiming();
        show.dialogs.pathAnswers.push_back(folder / "library");
        show.show->mediaCheck().relinkFromFolder();
        show.waitFor([&] { return show.logged("🔗 再リンク: 800件成功 / 0件未発見"); });
    }
}
BENCHMARK(BM_Relink)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
