// Main-thread cost of the panels while a 1080p clip plays, one turn of the main thread per 60 Hz
// frame: the player panel (program picture, timecode, timeline and transport), the clip
// settingsPanel, the audio section with its meters, GEOMETRY and EQ and colour, each in its card
// at its place on a 1920 × 1080 window, on the real playback controller, real decoding and the null
// audio device. A frame is the run loop's due work (clip clock, published values, meter ticker, the
// decoders' hand-overs) and Qt's repaint of what changed. Measured is the main thread's own CPU
// time of the frame (the benchmark's time), its worst frame (counter worst_ms) and both as a share
// of the 4 ms budget (budget_share, worst_budget_share). Sound is rendered by the device outside
// the measured part, as a sound card's thread would. Runs on the offscreen platform; counter
// paints_per_frame says how many widgets each frame repainted.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <time.h>

#include <QApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QPalette>
#include <QWidget>
#include <algorithm>
#include <memory>

#include "clock_seconds.h"
#include "media_bench.h"
#include "output/test_tone.h"
#include "panels/audio_section.h"
#include "panels/clip_settings_panel.h"
#include "panels/eq_color_panel.h"
#include "panels/geometry_section.h"
#include "panels/player_panel.h"
#include "panels/transport_row.h"
#include "playback_panel_rig.h"
#include "ui/panel_card.h"

namespace {

using namespace kestio;

constexpr double kFrame = 1.0 / 60.0;
constexpr double kBudgetMs = 4.0;

QApplication& application() {
    static int argc = 1;
    static char name[] = "bench_panels_repaint";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        return new QApplication(argc, argv);
    }();
    return *app;
}

// Counts the paint events of every widget, to show what each frame repainted.
class PaintCounter final : public QObject {
  public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            ++paints;
        }
        return false;
    }
};

double threadCpuMs() {
    return bench::secondsOf(CLOCK_THREAD_CPUTIME_ID) * 1e3;
}

// A card of `style` at a panel's place on the design canvas (width, height, centre).
ui::PanelCard* placeCard(QWidget& window, ui::PanelCardStyle style, double width, double height,
                         double centreX, double centreY) {
    auto* card = new ui::PanelCard(style, &window);
    card->setGeometry(static_cast<int>(centreX - width / 2), static_cast<int>(centreY - height / 2),
                      static_cast<int>(width), static_cast<int>(height));
    return card;
}

void BM_PanelsFrameWhilePlaying(benchmark::State& state) {
    application();
    bench::PlaybackPanelRig rig;
    auto& [loop, output, facade] = rig;
    auto& [device, media, controller] = output;

    // 1080p at 25 fps, 100 pictures (4 s): long enough for the frames measured.
    bench::GrainClip shape;
    shape.height = 1080;
    const auto& clip = bench::grainClip(shape);
    SlotData& data = facade.slot(0, 0);
    data.videoURL = clip;
    data.name = "grain 1080p";
    ClipInfo info;
    info.resolution = "1920x1080";
    info.fps = 25.0;
    info.duration = 4.0;
    data.clipInfo = info;

    QWidget window;
    window.resize(1920, 1080);
    window.setAutoFillBackground(true);
    window.setPalette(QPalette(Qt::black));
    auto* player = placeCard(window, ui::PanelCardStyle::player(), 643, 528, 788.5, 272);
    new panels::PlayerPanel(facade, loop, *player);
    new panels::TransportRow(facade, *player, [](int, int) {});
    auto* settingsPanel =
        placeCard(window, ui::PanelCardStyle::clipSettings(), 376, 196, 1307, 106);
    new panels::ClipSettingsPanel(facade, *settingsPanel);
    auto* audio = placeCard(window, ui::PanelCardStyle::audio(), 376, 332, 1307, 370);
    new panels::AudioSection(facade, loop, *audio);
    auto* geometry = placeCard(window, ui::PanelCardStyle::geometry(), 397, 116, 1701.5, 278);
    auto* titleRow = new QWidget;
    new QHBoxLayout(titleRow);
    auto* controls = new QWidget;
    controls->setFixedSize(381, 70);
    new panels::GeometrySection(facade, *titleRow, *controls);
    geometry->addContent(titleRow);
    geometry->addContent(controls);
    auto* eq = placeCard(window, ui::PanelCardStyle::eqColor(), 397, 194, 1701.5, 439);
    new panels::EqColorPanel(facade, *eq);
    window.show();
    QApplication::processEvents();

    controller.play(0, 0, clip, data, {1920, 1080});
    // The clip has no sound: a -20 dBFS tone switched on and off every half second moves the
    // meters (rise, held peak, fall) instead.
    auto& engine = controller.view().sharedEngine();
    int frame = 0;
    const auto step = [&] {
        if (frame++ % 30 == 0) {
            if (frame % 60 == 1) {
                controller.toneGen().start(engine, -20.0);
            } else {
                controller.toneGen().stop(engine);
            }
        }
        loop.advance(kFrame);
        // The decoders' hand-overs of this frame.
        while (loop.waitForPosted(0.002)) {
        }
        QApplication::processEvents();
    };
    while (controller.currentTime.get() < 0.2 && frame < 600) {
        step();
        device->pull(800);
    }
    if (controller.currentTime.get() < 0.2) {
        state.SkipWithError("the clip never started");
        return;
    }

    PaintCounter counter;
    QApplication::instance()->installEventFilter(&counter);
    double worst = 0.0;
    double total = 0.0;
    for (auto _ : state) {
        const double start = threadCpuMs();
        step();
        const double spent = threadCpuMs() - start;
        state.SetIterationTime(spent / 1e3);
        worst = std::max(worst, spent);
        total += spent;
        device->pull(800);
    }
    const double mean = total / static_cast<double>(state.iterations());
    state.counters["worst_ms"] = worst;
    state.counters["budget_share"] = mean / kBudgetMs;
    state.counters["worst_budget_share"] = worst / kBudgetMs;
    QApplication::instance()->removeEventFilter(&counter);
    state.counters["paints_per_frame"] = counter.paints / static_cast<double>(state.iterations());
    state.counters["clip_seconds_played"] = controller.currentTime.get();
    controller.toneGen().stop(engine);
}
// 3 s of the 4 s clip.
BENCHMARK(BM_PanelsFrameWhilePlaying)
    ->Iterations(180)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace
