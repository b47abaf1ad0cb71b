// Resident memory of the kestio program while a show of 800 cues (20 banks of 4 × 10 looping
// clips, each with its thumbnail) is opened again over itself 20 times (which closes the one
// open), on an Xvfb with the private sound and JACK servers, as an operator preparing a show
// does it: the toolbar's Open, the package's path typed into the panel and Return; once the
// show's warm-up has ended, every bank is looked at in turn (Ctrl+1 to Ctrl+0, then with Alt for
// banks 11 to 20) and the first bank again. Counters: resident memory after the first opening
// ("first_mb", the first bank seen only, as a fresh instance holds it), after each round, after
// the last round ("last_mb"), the most after any round ("most_mb") and the growth from the first
// to the last ("growth_mb"). Goal: flat, the growth within 10 % of the first.
//
//   bench/bench_app_reopen_memory
#include <benchmark/benchmark.h>

#include <fstream>
#include <string>
#include <thread>

#include "app/canvas_layout.h"
#include "app_session.h"

namespace {

using namespace kestio;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr int kRounds = 20;

double residentMegabytes(const std::string& pid) {
    std::ifstream status("/proc/" + pid + "/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            double kb = 0;
            status >> kb;
            return kb / 1024.0;
        }
        status.ignore(1 << 16, '\n');
    }
    return 0;
}

int warmUpsEnded(const fs::path& package) {
    const std::string log = bench::readWholeFile(package / "app.log");
    int count = 0;
    for (auto at = log.find("ウォームアップ完了"); at != std::string::npos;
         at = log.find("ウォームアップ完了", at + 1)) {
        ++count;
    }
    return count;
}

void BM_ReopenShowResidentMemory(benchmark::State& state) {
    test::VirtualDesktop desktop;
    bench::AppSession session;
    if (bench::skipped(state, desktop.failure()) || bench::skipped(state, session.failure())) {
        return;
    }
    const auto package = session.writeShow("Show800.ktshow", 20);
    for (auto _ : state) {
        test::KestioProcess kestio(desktop, {"--midi", "jack", package.string()});
        std::optional<std::string> window;
        if (!test::pollUntil([&] { return (window = kestio.mainWindow()).has_value(); }, 60s) ||
            !test::pollUntil([&] { return warmUpsEnded(package) >= 1; }, 120s)) {
            state.SkipWithError(("the show did not open: " + kestio.output()).c_str());
            return;
        }
        const auto pid = desktop.xdotool({"getwindowpid", *window});
        const auto frame = kestio.geometry(*window);
        const auto canvas = frame ? test::findCanvas(desktop.grab(*frame)) : std::nullopt;
        if (!pid || !canvas) {
            state.SkipWithError("no process id or canvas of the main window");
            return;
        }
        const std::string process = pid->substr(0, pid->find('\n'));
        // The toolbar's command row: Open first, Close fifth, each about 64 points wide.
        const QRectF toolbar = app::placement(app::CanvasPanel::projectToolbar).rect();
        const double scale = canvas->width() / app::kDesignWidth;
        const auto click = [&](double onCanvasX) {
            const QPoint at = (QPointF(frame->topLeft()) + canvas->topLeft() +
                               QPointF(onCanvasX, toolbar.bottom() - 18) * scale)
                                  .toPoint();
            return desktop.xdotool({"windowfocus", "--sync", *window}) &&
                   desktop.xdotool({"mousemove", "--sync", std::to_string(at.x()),
                                    std::to_string(at.y()), "click", "1"});
        };
        const double first = residentMegabytes(process);
        double most = first;
        double last = first;
        for (int round = 1; round <= kRounds; ++round) {
            std::optional<std::string> panel;
            if (!click(toolbar.left() + 40) ||
                !test::pollUntil([&] { return (panel = kestio.dialogWindow()).has_value(); }) ||
                !desktop.xdotool({"windowfocus", "--sync", *panel}) ||
                !desktop.xdotool({"type", "--delay", "5", package.string()}) ||
                !desktop.xdotool({"key", "Return"}) ||
                !test::pollUntil([&] { return warmUpsEnded(package) >= round + 1; }, 120s)) {
                state.SkipWithError(("round " + std::to_string(round) +
                                     " did not open the show: " + kestio.output())
                                        .c_str());
                return;
            }
            for (const char* modifiers : {"ctrl+", "ctrl+alt+"}) {
                for (const char* digit : {"1", "2", "3", "4", "5", "6", "7", "8", "9", "0"}) {
                    kestio.press(*window, {std::string(modifiers) + digit});
                    std::this_thread::sleep_for(150ms);  // the bank's thumbnails drawn
                }
            }
            kestio.press(*window, {"ctrl+1"});
            std::this_thread::sleep_for(1s);
            last = residentMegabytes(process);
            most = std::max(most, last);
            state.counters["round_" + std::to_string(round) + "_mb"] = last;
        }
        state.counters["first_mb"] = first;
        state.counters["last_mb"] = last;
        state.counters["most_mb"] = most;
        state.counters["growth_mb"] = last - first;
        kestio.stop();
    }
}

}  // namespace

BENCHMARK(BM_ReopenShowResidentMemory)->Unit(benchmark::kSecond)->Iterations(1);
