// Main-thread cost of the slot grid panel at its design size of 1878 × 528 with a 4 × 10 bank
// whose slots all have thumbnails (320 × 180 PNGs): a full repaint of the panel (the goal: under
// 4 ms), the on-air frame moving to the next slot (only the two changed cells repaint; the
// repainted area is reported in pixels), and a switch to another bank's 40 thumbnails, with
// the thumbnails already decoded (warm, the goal: under 8 ms) and decoded on the switch (cold).
// Runs on the offscreen platform.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <QApplication>
#include <QBuffer>
#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <memory>

#include "control/key_binding_store.h"
#include "control/keyboard_shortcut_handler.h"
#include "control/midi_input_controller.h"
#include "control/midi_output_controller.h"
#include "grid/slot_cell_painter.h"
#include "grid/slot_grid_panel.h"
#include "model/project_manager.h"
#include "model/recent_projects.h"
#include "platform/midi/loopback_midi_system.h"
#include "platform/runloop/manual_run_loop.h"
#include "platform/storage/bookmark_service.h"
#include "platform/storage/user_defaults.h"
#include "show/show_controller.h"
#include "support/fake_show_importer.h"
#include "support/fake_show_playback.h"
#include "support/scripted_dialog_presenter.h"

namespace {

using namespace kestio;

QApplication& application() {
    static int argc = 1;
    static char name[] = "bench_grid_paint";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        return new QApplication(argc, argv);
    }();
    return *app;
}

std::vector<std::uint8_t> thumbnailPNG(int seed) {
    QImage image(320, 180, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, 320, 180);
    gradient.setColorAt(0, QColor::fromHsv((seed * 37) % 360, 160, 200));
    gradient.setColorAt(1, QColor(20, 20, 20));
    painter.fillRect(image.rect(), gradient);
    painter.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

// A show with two filled banks and the grid panel over it.
struct GridBench {
    platform::ManualRunLoop loop;
    platform::InMemoryUserDefaults defaults;
    platform::BookmarkService bookmarks;
    platform::LoopbackMIDISystem midiSystem{loop};
    MIDIInputController midi{loop, midiSystem};
    MIDIOutputController midiOut{loop, midiSystem};
    KeyBindingStore keyBindings{defaults};
    KeyboardShortcutHandler keyboard{keyBindings};
    ProjectManager projectManager{bookmarks};
    RecentProjects recentProjects{defaults, bookmarks};
    test::FakeShowPlayback playback;
    test::FakeShowImporter importer{loop};
    test::ScriptedDialogPresenter dialogs;
    ShowController show{ShowServices{
        .loop = loop,
        .playback = playback,
        .importer = importer,
        .midi = midi,
        .midiOut = midiOut,
        .keyboard = keyboard,
        .dialogs = dialogs,
        .bookmarks = bookmarks,
        .defaults = defaults,
        .projectManager = projectManager,
        .recentProjects = recentProjects,
    }};
    std::unique_ptr<grid::SlotGridPanel> panel;

    GridBench() {
        application();
        fill(0, 0);
        fill(1, 100);
        panel = std::make_unique<grid::SlotGridPanel>(
            grid::SlotGridPanel::Services{show, loop, midi, midiOut, nullptr});
        panel->resize(1878, 528);
        panel->show();
        QApplication::processEvents();
    }
    // Gives every slot of the bank a clip and a thumbnail.
    void fill(int bank, int seed) {
        show.editProject(
            [&](ProjectData& project) {
                auto& slots = project.banks[std::size_t(bank)].slots;
                for (std::size_t i = 0; i < slots.size(); ++i) {
                    slots[i].videoURL = "/media/clip" + std::to_string(i) + ".mp4";
                    slots[i].name = std::to_string(i + 1) + "_Clip " + std::to_string(i + 1);
                    slots[i].clipInfo = ClipInfo{};
                    slots[i].clipInfo->duration = 10.0 + double(i);
                    slots[i].clipInfo->fps = 29.97;
                    slots[i].thumbnail = thumbnailPNG(seed + int(i));
                }
            },
            false);
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
    bench.show.selectBank(1);
    QApplication::processEvents();
    int bank = 0;
    for (auto _ : state) {
        bench.show.selectBank(bank);
        QApplication::processEvents();
        bank = 1 - bank;
    }
}
BENCHMARK(BM_BankSwitchWarm)->Unit(benchmark::kMillisecond);

// Every switch finds new thumbnail bytes, so the 40 thumbnails are decoded on the switch.
void BM_BankSwitchCold(benchmark::State& state) {
    GridBench bench;
    int bank = 0;
    int seed = 1000;
    for (auto _ : state) {
        state.PauseTiming();
        bank = 1 - bank;
        bench.fill(bank, seed += 40);
        bench.show.selectBank(1 - bank);
        QApplication::processEvents();
        state.ResumeTiming();
        bench.show.selectBank(bank);
        QApplication::processEvents();
    }
}
BENCHMARK(BM_BankSwitchCold)->Unit(benchmark::kMillisecond);

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
