// The main thread during a thumbnail capture of a 2160p clip: the capture of a slot of the
// loaded project, from the call to the picture in the slot and its file written in the package,
// with the real clip importer (frame extraction off the main thread) on an H.264 2160p clip,
// taken 1.5 s in (37 pictures past the key frame). Every piece of main-thread work of the
// capture is timed on its own: the call, and each callback the run loop runs for it (the
// importer's answer, the slot's update, the disk writer's answer). Reported: the longest of
// them (counter longest_hold_ms; the goal: under 2 ms) and its share of those 2 ms
// (hold_budget_share); the benchmark's time is the whole capture's wall time.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <QGuiApplication>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>

#include "import/clip_importer.h"
#include "media_bench.h"
#include "panels/thumbnail_capture.h"
#include "platform/runloop/manual_run_loop.h"
#include "show/live_show_importer.h"
#include "support/recording_panel_facade.h"

namespace {

using namespace kestio;
using Clock = std::chrono::steady_clock;

constexpr double kHoldBudgetMs = 2.0;

QGuiApplication& application() {
    static int argc = 1;
    static char name[] = "bench_thumbnail_capture";
    static char* argv[] = {name, nullptr};
    static QGuiApplication* app = [] {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        return new QGuiApplication(argc, argv);
    }();
    return *app;
}

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A run loop that hands its work to a manual loop and times each callback on the main thread,
// keeping the longest.
class HoldTimingLoop final : public platform::RunLoop {
  public:
    explicit HoldTimingLoop(platform::ManualRunLoop& inner)
        : RunLoop(inner.hostClock()), inner_(inner) {}

    void post(std::function<void()> fn) override { inner_.post(timed(std::move(fn))); }
    platform::TimerHandle after(double seconds, std::function<void()> fn) override {
        return inner_.after(seconds, timed(std::move(fn)));
    }
    platform::TimerHandle every(double seconds, std::function<void()> fn) override {
        return inner_.every(seconds, timed(std::move(fn)));
    }

    double longestMs = 0.0;
    void record(double ms) { longestMs = std::max(longestMs, ms); }

  private:
    std::function<void()> timed(std::function<void()> fn) {
        return [this, fn = std::move(fn)] {
            const auto start = Clock::now();
            fn();
            record(millisecondsSince(start));
        };
    }

    platform::ManualRunLoop& inner_;
};

void BM_Capture2160pThumbnail(benchmark::State& state) {
    namespace fs = std::filesystem;
    application();
    platform::ManualRunLoop inner;
    HoldTimingLoop loop{inner};
    ClipImporter clipImporter{loop};
    LiveShowImporter importer{clipImporter};
    test::RecordingPanelFacade facade;

    bench::GrainClip shape;  // 25 fps, 100 pictures, a key frame every 50
    shape.height = 2160;
    const fs::path& clip = bench::grainClip(shape);
    const fs::path package = fs::path(KESTIO_FIXTURE_DIR) / "bench-thumbnail-package";
    fs::remove_all(package);
    fs::create_directories(package);
    facade.packageURL = package;
    facade.slot(0, 0).videoURL = clip;
    facade.slot(0, 0).inPoint = 1.5;
    facade.slotURL = [&](int, int) -> std::optional<fs::path> { return clip; };
    const fs::path file = package / "thumbnails" / "thumb_0_0.png";

    panels::ThumbnailCapture capture(facade, importer);
    int landed = 0;
    for (auto _ : state) {
        facade.slot(0, 0).thumbnail.reset();
        fs::remove(file);
        const auto start = Clock::now();
        capture.capture(0, 0);
        loop.record(millisecondsSince(start));
        if (!bench::runUntil(inner, [&] {
                return facade.slot(0, 0).thumbnail.has_value() && fs::exists(file);
            })) {
            state.SkipWithError("no thumbnail within 60 s");
            return;
        }
        ++landed;
    }
    // The disk writer's answer of the last capture.
    inner.runPending();
    state.counters["longest_hold_ms"] = loop.longestMs;
    state.counters["hold_budget_share"] = loop.longestMs / kHoldBudgetMs;
    state.counters["captures"] = landed;
}
BENCHMARK(BM_Capture2160pThumbnail)->Iterations(10)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
