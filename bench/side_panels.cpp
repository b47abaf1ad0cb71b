// Main-thread cost of the side panels: a bank switch from the bank list with the slot grid
// and the list repainted (the goal: under one frame period, 16.7 ms), and the Recent Projects
// menu built as it opens, with 10 entries of which 5 name packages that no longer exist (the
// goal: under 20 ms; opening reads only the stored list, the existence check waits for a
// choice). Runs on the offscreen platform.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QMenu>
#include <filesystem>
#include <memory>

#include "app/bank_list.h"
#include "app/recent_projects_menu.h"
#include "filled_bank.h"
#include "grid/slot_grid_panel.h"
#include "offscreen_application.h"
#include "show/show_controller.h"
#include "support/show_rig.h"
#include "support/temporary_folder.h"

namespace {

using namespace kestio;

// A show with two filled banks, the grid panel and the bank list over it.
struct SideBench : test::RecordedShow {
    std::unique_ptr<grid::SlotGridPanel> panel;
    std::unique_ptr<app::BankList> list;

    SideBench() {
        bench::offscreenApplication("bench_side_panels");
        bench::fillBank(*show, 0, 0, std::nullopt);
        bench::fillBank(*show, 1, 100, std::nullopt);
        panel = std::make_unique<grid::SlotGridPanel>(
            grid::SlotGridPanel::Services{*show, loop, midi, midiOut, nullptr});
        panel->resize(1878, 528);
        panel->show();
        list = std::make_unique<app::BankList>(*show, QSize(426, 416));
        list->show();
        QApplication::processEvents();
    }
};

void BM_BankSwitchFromBankList(benchmark::State& state) {
    SideBench bench;
    int bank = 0;
    for (auto _ : state) {
        bank = 1 - bank;
        bench.list->model().click(bank);
        QApplication::processEvents();  // the grid and the list repaint
    }
}
BENCHMARK(BM_BankSwitchFromBankList)->Unit(benchmark::kMillisecond);

void BM_RecentProjectsMenuOpens(benchmark::State& state) {
    SideBench bench;
    test::TemporaryFolder folder;
    std::vector<RecentProjectEntry> entries;
    for (int i = 0; i < 10; ++i) {
        const auto package = folder.path() / ("Show " + std::to_string(i) + ".ktshow");
        std::optional<std::vector<std::uint8_t>> bookmark;
        if (i % 2 == 0) {
            std::filesystem::create_directories(package);
            bookmark = bench.bookmarks.bookmarkData(package);
        }
        entries.push_back({package.string(), bookmark});
    }
    bench.recentProjects.save(entries);
    app::RecentProjectsButton button({bench.recentProjects, bench.bookmarks, bench.dialogs, {}});
    for (auto _ : state) {
        button.rebuildMenu();
        benchmark::DoNotOptimize(button.menu()->actions().size());
    }
    state.counters["entries"] = double(button.menu()->actions().size() - 2);
}
BENCHMARK(BM_RecentProjectsMenuOpens)->Unit(benchmark::kMillisecond);

}  // namespace
