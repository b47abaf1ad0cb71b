// A save of an 800-slot show with 720 thumbnails (24 KiB each) after one slot got a new picture,
// written by the project manager into a package that holds the save before:
//   BM_SaveOneChangedSlot: each iteration changes one slot's picture, then saves the show twice
//     into two packages: once as saves wrote packages before (every picture rewritten under its
//     position's name, then the document) and once as the project manager saves now. The
//     iteration time is the save of now; "before_ms" and "now_ms" are the wall times of both,
//     "ratio" is before / now (how many times faster a save is now). "first_before_ms" and
//     "first_now_ms" are the first saves of the show into empty packages, every picture written
//     (now each flushed to the disk before the document names it).
//
//   bench/bench_package_save
//
// The packages are written into a temporary folder and removed at the end. The show controller's
// save of the same show (main thread and disk thread together) is BM_SaveOneChangedSlot of
// bench_show_project.

#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <ostream>
#include <random>
#include <string>

#include "model/project_coding.h"
#include "model/project_manager.h"
#include "model/thumbnail_naming.h"
#include "platform/storage/bookmark_service.h"
#include "platform/storage/file_io.h"
#include "support/temporary_folder.h"

namespace {

using namespace kestio;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::vector<std::uint8_t> picture(std::uint32_t seed) {
    std::minstd_rand random(seed + 1);
    std::vector<std::uint8_t> bytes(24 * 1024);
    for (auto& byte : bytes) {
        byte = static_cast<std::uint8_t>(random() >> 7);
    }
    return bytes;
}

// 800 slots with clip facts; pictures on the first 720.
ProjectData showWith720Pictures() {
    ProjectData project(4, 10);
    int n = 0;
    for (auto& bank : project.banks) {
        for (auto& slot : bank.slots) {
            slot.name = "clip" + std::to_string(n);
            slot.clipInfo = ClipInfo{"h264", "1920x1080", 29.97, 20'000'000, 61.5,
                                     2,      48000.0,     24,    "aac",      std::nullopt};
            if (n < 720) {
                slot.thumbnail = picture(static_cast<std::uint32_t>(n));
            }
            ++n;
        }
    }
    return project;
}

// A save as packages were written before: every picture rewritten under the name of its
// position, not flushed one by one, then the document, flushed.
void saveRewritingEveryPicture(ProjectData project, const fs::path& package) {
    const fs::path thumbnails = package / ProjectManager::kThumbnailsFolderName;
    fs::create_directories(thumbnails);
    for (std::size_t b = 0; b < project.banks.size(); ++b) {
        auto& slots = project.banks[b].slots;
        for (std::size_t s = 0; s < slots.size(); ++s) {
            SlotData& slot = slots[s];
            if (slot.thumbnail) {
                const std::string name = thumbnailFileName(int(b), int(s));
                platform::writeFileAtomically(thumbnails / name, *slot.thumbnail,
                                              platform::Durability::unflushed);
                slot.thumbnailFileName = name;
            }
            slot.thumbnail.reset();
        }
    }
    platform::writeFileAtomically(package / ProjectManager::kDataFileName,
                                  [&](std::ostream& out) { writeProject(project, out); });
}

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void BM_SaveOneChangedSlot(benchmark::State& state) {
    test::TemporaryFolder folder;
    platform::BookmarkService bookmarks;
    const ProjectManager manager(bookmarks);
    const fs::path before = folder / "Before.ktshow";
    const fs::path now = folder / "Now.ktshow";
    ProjectData project = showWith720Pictures();
    auto start = Clock::now();
    saveRewritingEveryPicture(project, before);
    state.counters["first_before_ms"] = msSince(start);
    start = Clock::now();
    manager.save(project, now);
    state.counters["first_now_ms"] = msSince(start);

    double beforeMs = 0;
    double nowMs = 0;
    std::uint32_t change = 1000;
    for (auto _ : state) {
        state.PauseTiming();
        auto& slot = project.banks[change % 18].slots[change % 40];
        slot.thumbnail = picture(change++);
        start = Clock::now();
        saveRewritingEveryPicture(project, before);
        beforeMs += msSince(start);
        state.ResumeTiming();
        start = Clock::now();
        manager.save(project, now);
        nowMs += msSince(start);
    }
    const double n = double(state.iterations());
    state.counters["before_ms"] = beforeMs / n;
    state.counters["now_ms"] = nowMs / n;
    state.counters["ratio"] = beforeMs / nowMs;
}
BENCHMARK(BM_SaveOneChangedSlot)->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace
