// Resident memory of the process while 200 UHD clips (3840×2160 H.264 with AAC sound, 2 s) are
// imported, three times over, through the importer as the program runs it: with the allocator set
// as the program sets it, and the freed memory handed back once each batch has ended, as the
// program does when loading ends. Counters: resident memory before the first batch
// ("start_mb"), after each batch once handed back ("batch_<n>_mb") and the growth from the first
// batch to the last ("growth_mb"). Goal: flat across batches.
//
//   bench/bench_import_memory
//
// The clip is made with the ffmpeg command; the 200 files are hard links of it under names of
// their own, in a temporary folder removed at the end.

#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/allocator_tuning.h"
#include "import/clip_importer.h"
#include "platform/runloop/manual_run_loop.h"
#include "resident_memory.h"
#include "support/process_runner.h"
#include "support/temporary_folder.h"

namespace {

using namespace kestio;
namespace fs = std::filesystem;

constexpr int kClips = 200;
constexpr int kBatches = 3;

void BM_ImportBatchesResidentMemory(benchmark::State& state) {
    app::tuneAllocator();
    static int argc = 1;
    static char name[] = "bench_import_memory";
    static char* argv[] = {name, nullptr};
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static QGuiApplication application(argc, argv);
    const test::TemporaryFolder folder;
    const fs::path clip = folder / "uhd.mp4";
    if (!test::runProcess(
             {"ffmpeg",    "-nostdin",   "-loglevel", "error",
              "-f",        "lavfi",      "-i",        "testsrc2=size=3840x2160:rate=30",
              "-f",        "lavfi",      "-i",        "sine=frequency=440:sample_rate=48000",
              "-t",        "2",          "-c:v",      "libx264",
              "-preset",   "ultrafast",  "-c:a",      "aac",
              "-shortest", clip.string()},
             std::chrono::minutes(2))
             .succeeded()) {
        state.SkipWithError("ffmpeg could not make the clip");
        return;
    }
    std::vector<fs::path> files;
    for (int i = 0; i < kClips; ++i) {
        files.push_back(folder / ("uhd " + std::to_string(i) + ".mp4"));
        fs::create_hard_link(clip, files.back());
    }
    const platform::BookmarkService bookmarks([](const fs::path&, bool) { return true; });
    platform::ManualRunLoop loop;
    for (auto _ : state) {
        state.counters["start_mb"] = bench::residentBytes() / 1e6;
        double first = 0;
        double last = 0;
        for (int batch = 1; batch <= kBatches; ++batch) {
            {
                ClipImporter importer(loop, bookmarks);
                std::vector<ImportOutcome> outcomes;
                for (const fs::path& file : files) {
                    importer.importMeta(file, 0.0, [&](ImportOutcome outcome) {
                        outcomes.push_back(std::move(outcome));
                    });
                }
                while (outcomes.size() < files.size()) {
                    if (!loop.waitForPosted(60.0)) {
                        state.SkipWithError("the importer stopped answering");
                        return;
                    }
                }
            }
            app::returnFreedMemory();
            last = bench::residentBytes() / 1e6;
            first = batch == 1 ? last : first;
            state.counters["batch_" + std::to_string(batch) + "_mb"] = last;
        }
        state.counters["growth_mb"] = last - first;
    }
}

}  // namespace

BENCHMARK(BM_ImportBatchesResidentMemory)->Unit(benchmark::kSecond)->Iterations(1);
