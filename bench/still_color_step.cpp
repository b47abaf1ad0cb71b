// One colour slider step on a 3840x2160 still on air, on the main thread: the step as it was
// (the whole still corrected on the main thread and put in the container, what the slot did on
// each step), against the step as it is (the slot's colour values set, which swaps the filter
// that presenters correct the still through), both on the same output surface in the same run,
// each with the snapshot of the tree that the step makes the main thread publish. The target is
// a new step under 1 ms. Beside it, what a presenter pays on its own thread for the first
// composing after a step (the still corrected once, and scaled to a 1920x1080 view).
//
//   bench_still_color_step --benchmark_filter=StillColorStep
//
// StillColorDrag: a 2 s slider drag on the same still (a step each 1/60 s), with a presenter at
// 60 refreshes per second drawing a 1920x1080 view on its own thread, the still corrected where
// it is composed (before: arg 0) against corrected on a worker while the picture before stays
// (as it is: arg 1). Counters: the longest a refresh's picture stayed on screen (one period
// when no refresh is skipped: the target), the refreshes skipped, and the longest a refresh
// took from the start of its period to its picture.
//
//   bench_still_color_step --benchmark_filter=StillColorDrag

#include <benchmark/benchmark.h>

#include <QImage>
#include <chrono>
#include <memory>
#include <random>
#include <thread>

#include "clock_seconds.h"
#include "output/output_surface.h"
#include "output/playback_slot.h"
#include "output/video_color_compositor.h"
#include "platform/graphics/compositor.h"
#include "platform/graphics/contents_filter.h"
#include "platform/graphics/layer.h"
#include "platform/graphics/layer_snapshot.h"
#include "platform/graphics/presenter.h"
#include "platform/media/decoded_media_factory.h"
#include "platform/runloop/manual_run_loop.h"
#include "support/null_audio_device.h"

namespace {

using namespace kestio;
using namespace kestio::platform;

// A photo-like 2160p still: smooth gradients under grain.
QImage still2160p() {
    QImage image(3840, 2160, QImage::Format_RGB32);
    std::mt19937 random(7);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int grain = int(random() % 17) - 8;
            line[x] = qRgb(std::clamp(x / 15 + grain, 0, 255), std::clamp(y / 9 + grain, 0, 255),
                           std::clamp((x + y) / 24 + grain, 0, 255));
        }
    }
    return image;
}

// The values of slider step `i`: the saturation slider moving by small steps, over a grade.
ColorSettings stepValues(int i) {
    ColorSettings settings{0.02f, 1.1f, 1.0f, 0.0f, 1.05f, 1.0f, 1.0f, 0.97f};
    settings.saturation = 0.6f + 0.001f * float(i % 500);
    return settings;
}

struct Rig {
    Rig() {
        surface.setViewSize({1920.0, 1080.0});
        surface.slotA().showStill(still, ColorSettings{});
        surface.prepareForPlay(false);  // A on air
        publisher.setRoot(surface.rootLayer());
        loop.runPending();
    }
    output::PlaybackSlot& onAir() { return surface.showingSlot(); }
    // What the main thread does after any step: its posted publish of the tree's snapshot.
    void publish() {
        loop.runPending();
        publisher.publish();
    }

    ManualRunLoop loop;
    std::shared_ptr<kestio::test::NullAudioDevice> device =
        std::make_shared<kestio::test::NullAudioDevice>(48000.0, 2, "Null", loop.hostClock());
    media::DecodedMediaFactory media{loop};
    output::OutputSurface surface{output::OutputSurface::Services{loop, device, media}};
    SnapshotPublisher publisher{loop};
    output::VideoColorCompositor reference{loop};
    const QImage still = still2160p();
};

double now() {
    return bench::secondsOf(CLOCK_MONOTONIC);
}

// Each iteration: one step the old way, one step the new way, and a presenter's composing of
// the new step's picture. Counters: the main thread's milliseconds per step each way, their
// ratio, and the presenter's milliseconds for its first composing after a step.
void BM_StillColorStep(benchmark::State& state) {
    Rig rig;
    Compositor presenter;
    QImage picture;
    double oldSeconds = 0.0;
    double newSeconds = 0.0;
    double presenterSeconds = 0.0;
    int step = 0;
    for (auto _ : state) {
        output::PlaybackSlot& slot = rig.onAir();
        {
            // The step as it was: the slot shown again with the still corrected whole.
            const ColorSettings values = stepValues(++step);
            const double start = now();
            slot.showStill(rig.still, values, rig.still.size());
            slot.containerLayer()->setContents(rig.reference.applyToStill(rig.still, values));
            rig.publish();
            oldSeconds += now() - start;
        }
        // Back to the still as received, as the new way finds it.
        slot.containerLayer()->setContents(rig.still);
        rig.publish();
        {
            const ColorSettings values = stepValues(++step);
            const double start = now();
            slot.colorSettingsBox().setValue(values);
            rig.publish();
            newSeconds += now() - start;
        }
        const double start = now();
        const auto tree = rig.publisher.slot()->load();
        presenter.draw(presenter.compose(*tree, rig.loop.now(), {1920, 1080}), picture);
        presenterSeconds += now() - start;
        benchmark::DoNotOptimize(picture.constBits());
    }
    const double n = double(state.iterations());
    state.counters["old_main_ms"] = oldSeconds / n * 1e3;
    state.counters["new_main_ms"] = newSeconds / n * 1e3;
    state.counters["old_over_new"] = oldSeconds / newSeconds;
    state.counters["presenter_ms"] = presenterSeconds / n * 1e3;
}
BENCHMARK(BM_StillColorStep)->Iterations(40)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_StillColorDrag(benchmark::State& state) {
    const bool inBackground = state.range(0) == 1;
    constexpr double kRate = 60.0;
    constexpr double kDragSeconds = 2.0;
    Rig rig;
    auto clock = std::make_shared<SteadyHostClock>();
    Presenter presenter(clock);
    presenter.setSource(rig.publisher.slot());
    presenter.setSize({1920, 1080});
    presenter.setRefreshRate(kRate);
    output::PlaybackSlot& slot = rig.onAir();
    slot.colorSettingsBox().setValue(stepValues(0));
    rig.publish();
    presenter.start();
    presenter.waitForNewFrame(5.0);
    double worstShown = 0.0;
    double worstTaken = 0.0;
    double skipped = 0.0;
    int step = 0;
    for (auto _ : state) {
        presenter.takeRecords();
        const double start = now();
        for (double next = start; next < start + kDragSeconds; next += 1.0 / kRate) {
            std::this_thread::sleep_for(std::chrono::duration<double>(next - now()));
            const ColorSettings values = stepValues(++step);
            if (inBackground) {
                slot.colorSettingsBox().setValue(values);
            } else {
                slot.containerLayer()->setContentsFilter(
                    std::make_shared<const ContentsFilter>(*rig.reference.frameFilter(values)));
            }
            rig.publish();
        }
        const std::vector<RefreshRecord> records = presenter.takeRecords();
        const RefreshRecord* last = nullptr;
        for (const RefreshRecord& record : records) {
            if (record.recomposed) {
                continue;
            }
            if (last != nullptr) {
                const double periods = double(record.refresh - last->refresh);
                worstShown = std::max(worstShown, periods / kRate);
                skipped += periods - 1.0;
            }
            worstTaken =
                std::max(worstTaken, record.composedAt - (record.targetTime - 1.0 / kRate));
            last = &record;
        }
    }
    presenter.stop();
    const double n = double(state.iterations());
    state.counters["worst_refresh_ms"] = worstShown * 1e3;
    state.counters["skipped_per_drag"] = skipped / n;
    state.counters["worst_compose_ms"] = worstTaken * 1e3;
    state.counters["period_ms"] = 1e3 / kRate;
}
BENCHMARK(BM_StillColorDrag)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
