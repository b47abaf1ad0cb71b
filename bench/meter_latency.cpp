// From a sound at the engine's tap to the audio section's meter bar painted with it: a -20 dBFS
// tone switched on in the real engine (null device, pulled a millisecond at a time, paced to the
// wall clock as a sound card pulls) while the real playback controller meters it and the audio
// section shows its levels. Reported per tone start: the virtual milliseconds until the meter's
// first bar reads the tone (counter latency_ms, the goal: under 50) and the wall time of painting
// the bar then (the benchmark's own time).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <chrono>
#include <cmath>
#include <memory>
#include <thread>

#include "output/test_tone.h"
#include "panels/audio_section.h"
#include "panels/live_panel_facade.h"
#include "panels/meter_bar_view.h"
#include "panels/vu_meter_view.h"
#include "playback_panel_rig.h"
#include "show/show_controller.h"
#include "ui/panel_card.h"

namespace {

using namespace kestio;

QApplication& application() {
    static int argc = 1;
    static char name[] = "bench_meter_latency";
    static char* argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication app(argc, argv);
    return app;
}

void BM_ToneToMeterBar(benchmark::State& state) {
    application();
    bench::PlaybackPanelRig rig;
    auto& [loop, output, facade] = rig;
    auto& [device, media, controller] = output;
    ui::PanelCard card(ui::PanelCardStyle::audio());
    auto* section = new panels::AudioSection(facade, loop, card);
    card.show();
    auto& engine = controller.view().sharedEngine();
    // The device renders in real time, a millisecond at a time, as a sound card asks: the
    // engine's tap thread and the meter then see the blocks at their real pace.
    auto next = std::chrono::steady_clock::now();
    const auto step = [&] {
        next += std::chrono::milliseconds(1);
        std::this_thread::sleep_until(next);
        loop.advance(0.001);
        device->pull(48);
        loop.runPending();
    };
    double total = 0.0;
    for (auto _ : state) {
        state.PauseTiming();
        controller.toneGen().stop(engine);
        next = std::chrono::steady_clock::now();
        while (section->meter()->levels()[0] > -90.0f) {
            step();
        }
        controller.toneGen().start(engine, -20.0);
        int steps = 0;
        while (section->meter()->levels()[0] < -21.0f && steps < 1000) {
            step();
            ++steps;
        }
        total += steps;
        state.ResumeTiming();
        // The bar painted with the new level.
        QImage image = section->meter()->bar(0)->grab().toImage();
        benchmark::DoNotOptimize(image);
    }
    controller.toneGen().stop(engine);
    state.counters["latency_ms"] = total / static_cast<double>(state.iterations());
}
BENCHMARK(BM_ToneToMeterBar)->Iterations(20)->Unit(benchmark::kMicrosecond);

}  // namespace
