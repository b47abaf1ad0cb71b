// Main-thread cost of the slot grid panel at its design size of 1878 × 528 with a 4 × 10 bank
// whose slots all have thumbnails (320 × 180 PNGs): a full repaint of the panel (the goal: under
// 4 ms), the on-air frame moving to the next slot (only the two changed cells repaint; the
// repainted area is reported in pixels), and a switch to another bank's 40 thumbnails, with
// the thumbnails already decoded (warm, the goal: under 8 ms) and not decoded yet (cold: the
// switch hands the 40 decodes to the thumbnail worker and draws the cells without pictures; the
// pictures land on later turns). The CPU column is the main thread's own time; in the cold run
// that waits for every picture, the wall-clock column also holds the worker's decoding.
// Runs on the offscreen platform.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPaintEvent>
#include <memory>

#include "filled_bank.h"
#include "grid/slot_cell_painter.h"
#include "grid/slot_grid_panel.h"
#include "offscreen_application.h"
#include "show/show_controller.h"
#include "support/show_rig.h"

namespace {

using namespace kestio;

// A show with two filled banks and the grid panel over it.
struct GridBench : test::RecordedShow {
    std::unique_ptr<grid::SlotGridPanel> panel;

    GridBench() {
        bench::offscreenApplication("bench_grid_paint");
        fill(0, 0);
        fill(1, 100);
        panel = std::make_unique<grid::SlotGridPanel>(
            grid::SlotGridPanel::Services{*show, loop, midi, midiOut, nullptr});
        panel->resize(1878, 528);
        panel->show();
        settle();
    }
    // Gives every slot of the bank a clip and a thumbnail.
    void fill(int bank, int seed) { bench::fillBank(*show, bank, seed, 29.97); }
    // Waits until every thumbnail decode asked for has landed and the cells have painted.
    void settle() {
        for (int guard = 0; guard < 1000 && show->thumbnailStore().decodesPending() > 0; ++guard) {
            loop.waitForPosted(1.0);
        }
        QApplication::processEvents();
    }
};

void BM_FullRepaint(benchmark::State& state) {
    GridBench bench;
    QImage target(1878, 528, QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        bench.panel->render(&target);
        benchmark::DoNotOptimize(target.constBits());
    }
}
BENCHMARK(BM_FullRepaint)->Unit(benchmark::kMillisecond);

// Counts what the cells repaint.
class PaintArea : public QObject {
  public:
    long long pixels = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            for (const QRect& r : static_cast<QPaintEvent*>(event)->region()) {
                pixels += static_cast<long long>(r.width()) * r.height();
            }
        }
        return false;
    }
};

void BM_OnAirMovesToTheNextSlot(benchmark::State& state) {
    GridBench bench;
    PaintArea area;
    for (int i = 0; i < bench.panel->cellCount(); ++i) {
        bench.panel->cell(i)->installEventFilter(&area);
    }
    bench.panel->toolbar().installEventFilter(&area);
    int slot = 0;
    bench.playback.setOnAir(0, slot);
    QApplication::processEvents();
    area.pixels = 0;
    for (auto _ : state) {
        slot = (slot + 1) % 40;
        bench.playback.setOnAir(0, slot);  // the panel takes new inputs at once
        QApplication::processEvents();     // and paints what changed
    }
    state.counters["repainted_px_per_change"] =
        benchmark::Counter(double(area.pixels) / double(state.iterations()));
}
BENCHMARK(BM_OnAirMovesToTheNextSlot)->Unit(benchmark::kMillisecond);

void BM_BankSwitchWarm(benchmark::State& state) {
    GridBench bench;
    bench.show->selectBank(1);
    bench.settle();
    bench.show->selectBank(0);
    bench.settle();
    int bank = 1;
    for (auto _ : state) {
        bench.show->selectBank(bank);
        QApplication::processEvents();
        bank = 1 - bank;
    }
}
BENCHMARK(BM_BankSwitchWarm)->Unit(benchmark::kMillisecond);

// Every switch finds new thumbnail bytes. Timed: the switch's own turn, which draws the cells
// without pictures; the decodes and their landings are left out (paused).
void BM_BankSwitchCold(benchmark::State& state) {
    GridBench bench;
    int bank = 0;
    int seed = 1000;
    for (auto _ : state) {
        state.PauseTiming();
        bank = 1 - bank;
        bench.fill(bank, seed += 40);
        bench.show->selectBank(1 - bank);
        bench.settle();
        state.ResumeTiming();
        bench.show->selectBank(bank);
        QApplication::processEvents();
        state.PauseTiming();
        bench.settle();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_BankSwitchCold)->Unit(benchmark::kMillisecond);

// The same switch followed until all 40 pictures have landed and their cells have repainted:
// the CPU column is the main thread's whole share (the switch and the 40 landings), the time
// column adds the waits for the worker.
void BM_BankSwitchColdUntilPictures(benchmark::State& state) {
    GridBench bench;
    int bank = 0;
    int seed = 5000;
    std::uint64_t landings = 0;
    for (auto _ : state) {
        state.PauseTiming();
        bank = 1 - bank;
        bench.fill(bank, seed += 40);
        bench.show->selectBank(1 - bank);
        bench.settle();
        const auto before = bench.show->thumbnailStore().landed.get();
        state.ResumeTiming();
        bench.show->selectBank(bank);
        QApplication::processEvents();
        bench.settle();
        landings += bench.show->thumbnailStore().landed.get() - before;
    }
    state.counters["pictures_per_switch"] =
        benchmark::Counter(double(landings) / double(state.iterations()));
}
BENCHMARK(BM_BankSwitchColdUntilPictures)->Unit(benchmark::kMillisecond);

}  // namespace

namespace {

// One cell with a thumbnail drawn afresh, as every cell is when its look changes.
void BM_DrawOneCell(benchmark::State& state) {
    GridBench bench;
    const auto look = bench.panel->cell(5)->look();
    const QSize pixels = bench.panel->cell(5)->size();
    for (auto _ : state) {
        QImage image = grid::renderSlotCell(pixels, 1.0, look);
        benchmark::DoNotOptimize(image.constBits());
    }
}
BENCHMARK(BM_DrawOneCell)->Unit(benchmark::kMicrosecond);

// The panel taking new inputs for every cell without anything to repaint.
void BM_RefreshUnchanged(benchmark::State& state) {
    GridBench bench;
    for (auto _ : state) {
        bench.panel->refresh();
    }
}
BENCHMARK(BM_RefreshUnchanged)->Unit(benchmark::kMicrosecond);

}  // namespace
