// Import speed: the whole generated fixture folder through the importer (files per second),
// and the waveform of a five-minute sound file beside the time the ffmpeg command takes to
// decode the same file.
//
//   cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DKESTIO_BUILD_BENCH=ON
//   cmake --build build/bench --target bench_import_fixtures &&
//   build/bench/bench/bench_import_fixtures

#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <cstdlib>
#include <optional>

#include "import/clip_importer.h"
#include "platform/runloop/manual_run_loop.h"
#include "support/media_fixtures.h"
#include "support/process_runner.h"

namespace {

using namespace kestio;

// The placeholder thumbnail of sound files draws text, which needs a GUI application.
void ensureApplication() {
    static int argc = 1;
    static char name[] = "bench_import_fixtures";
    static char* argv[] = {name, nullptr};
    if (QCoreApplication::instance() == nullptr) {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        static QGuiApplication app(argc, argv);
    }
}

const platform::BookmarkService& bookmarks() {
    static const platform::BookmarkService service(
        [](const std::filesystem::path&, bool) { return true; });
    return service;
}

// Runs the loop until `done` holds, or fails the benchmark after a minute without news.
template <typename Done>
void pump(platform::ManualRunLoop& loop, benchmark::State& state, Done done) {
    while (!done()) {
        if (!loop.waitForPosted(60.0)) {
            state.SkipWithError("the importer stopped answering");
            return;
        }
    }
}

void ImportFixtureFolder(benchmark::State& state) {
    ensureApplication();
    const auto files = test::mediaFixtures().all();
    platform::ManualRunLoop loop;
    ClipImporter importer(loop, bookmarks());
    std::size_t failures = 0;
    for (auto _ : state) {
        std::size_t answered = 0;
        for (const test::MediaFile* file : files) {
            importer.importMeta(file->path, 0.0, [&](ImportOutcome outcome) {
                ++answered;
                failures += std::holds_alternative<ImportError>(outcome) ? 1 : 0;
            });
        }
        pump(loop, state, [&] { return answered == files.size(); });
    }
    if (failures > 0) {
        state.SkipWithError("a fixture failed to import");
    }
    state.counters["files"] = static_cast<double>(files.size());
    state.counters["files_per_second"] = benchmark::Counter(
        static_cast<double>(files.size()) * static_cast<double>(state.iterations()),
        benchmark::Counter::kIsRate);
}
BENCHMARK(ImportFixtureFolder)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

void WaveformOfFiveMinutes(benchmark::State& state) {
    const auto& file = test::longToneFile();
    platform::ManualRunLoop loop;
    ClipImporter importer(loop, bookmarks());
    for (auto _ : state) {
        std::optional<std::optional<std::vector<float>>> points;
        importer.generateWaveform(file.path, ClipImporter::kAudioWaveformPoints,
                                  [&](auto made) { points = std::move(made); });
        pump(loop, state, [&] { return points.has_value(); });
        if (!points || !*points) {
            state.SkipWithError("no waveform");
        }
    }
    state.counters["audio_seconds"] = file.duration;
}
BENCHMARK(WaveformOfFiveMinutes)->Unit(benchmark::kMillisecond)->UseRealTime();

// The reference: the ffmpeg command decoding the same file's sound and throwing it away.
void FfmpegDecodeOfFiveMinutes(benchmark::State& state) {
    const auto& file = test::longToneFile();
    const std::vector<std::string> argv = {
        "ffmpeg",           "-nostdin", "-hide_banner", "-loglevel", "error", "-i",
        file.path.string(), "-vn",      "-f",           "null",      "-"};
    for (auto _ : state) {
        if (!test::runProcess(argv, std::chrono::seconds(120)).succeeded()) {
            state.SkipWithError("ffmpeg failed");
        }
    }
    state.counters["audio_seconds"] = file.duration;
}
BENCHMARK(FfmpegDecodeOfFiveMinutes)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
