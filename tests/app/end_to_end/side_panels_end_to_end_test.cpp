// The main window's side panels on the real program, reached through the X server as an
// operator would: the output monitor panel puts the program on the second screen, the 1 kHz
// utility button sounds its tone at the level picked from its menu, and a tile of the bank list
// switches the grid to its bank.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "app/canvas_layout.h"
#include "end_to_end_fixture.h"
#include "support/signal_analysis.h"
#include "ui/panel_card.h"

namespace kestio::test {
namespace {

namespace fs = std::filesystem;

QRectF placed(app::CanvasPanel panel) {
    return app::placement(panel).rect();
}

TEST_F(EndToEnd, TheOutputMonitorPanelPutsTheProgramOnTheSecondScreen) {
    const fs::path package = writeShow();
    KestioProcess kestio(*desktop_, {"--midi", "jack", package.string()});
    const std::string window = awaitShow(kestio, package);
    ASSERT_FALSE(window.empty());
    ASSERT_TRUE(kestio.press(window, {"1"}));
    ASSERT_TRUE(played(package, "KeyCue"));
    EXPECT_FALSE(kestio.outputWindow().has_value()) << "the output is on before it was asked";
    EXPECT_EQ(outputFrame(), -1);

    // The second screen is the only one the panel lists (the main window's is never offered):
    // its row's SELECT badge sits at the right end of the first row, under the 21-point header.
    const QRectF monitor = placed(app::CanvasPanel::outputMonitor);
    ASSERT_TRUE(clickCanvas(kestio, window, {monitor.right() - 20, monitor.top() + 37}));
    EXPECT_TRUE(pollUntil([&] { return kestio.outputWindow().has_value(); })) << kestio.output();
    EXPECT_TRUE(outputPlays()) << "no frame of the clip on the second screen";
    EXPECT_TRUE(programPlays(kestio, window)) << "the main window's picture stopped";
}

TEST_F(EndToEnd, TheTestToneSoundsAt1kHzAtTheLevelPickedFromItsMenu) {
    const fs::path package = writeShow();
    KestioProcess kestio(*desktop_, {"--midi", "jack", package.string()});
    const std::string window = awaitShow(kestio, package);
    ASSERT_FALSE(window.empty());

    // The 1 kHz button is the right half of the utility column's lower row. Its context menu
    // lists the levels from -12 down to -24 dBFS: the last, at the menu's bottom, is clicked.
    const QRectF utility = placed(app::CanvasPanel::utilityButtons);
    const QPointF tone(utility.left() + utility.width() * 0.75,
                       utility.top() + utility.height() * 0.75);
    ASSERT_TRUE(clickCanvas(kestio, window, tone, 3));
    std::string menu;
    ASSERT_TRUE(pollUntil([&] {
        menu = kestio.dialogWindow().value_or("");
        return !menu.empty();
    })) << "no level menu";
    const auto entries = kestio.geometry(menu);
    ASSERT_TRUE(entries.has_value());
    ASSERT_TRUE(desktop_->xdotool({"mousemove", "--sync", std::to_string(entries->center().x()),
                                   std::to_string(entries->bottom() - 10), "click", "1"}));
    ASSERT_TRUE(pollUntil([&] { return !kestio.dialogWindow().has_value(); }));
    constexpr double kPickedLevel = -24.0;

    auto recording = pulse_->record("null.monitor");
    ASSERT_TRUE(clickCanvas(kestio, window, tone));
    const double amplitude = std::pow(10.0, kPickedLevel / 20.0);
    ASSERT_TRUE(recording->waitForSound(96000, float(amplitude / 2), 20.0))
        << "no tone on the sound server" << kestio.output();

    // Measured over the last second in tenths: the median of the pieces leaves out one that a
    // late buffer of the sound server cut into.
    const std::vector<float> left = recording->left();
    ASSERT_GE(left.size(), 48000u);
    std::vector<double> levels;
    std::vector<double> frequencies;
    for (std::size_t piece = 0; piece < 10; ++piece) {
        const std::span<const float> samples(left.data() + left.size() - (piece + 1) * 4800, 4800);
        levels.push_back(20.0 * std::log10(toneAmplitude(samples, 48000.0, 1000.0)));
        frequencies.push_back(medianCrossingFrequency(samples, 48000.0));
    }
    std::nth_element(levels.begin(), levels.begin() + 5, levels.end());
    std::nth_element(frequencies.begin(), frequencies.begin() + 5, frequencies.end());
    EXPECT_NEAR(levels[5], kPickedLevel, 0.5);
    EXPECT_NEAR(frequencies[5], 1000.0, 1.0);
}

TEST_F(EndToEnd, ABankTileClickedSwitchesTheGridToItsBank) {
    // The second bank has a cue of its own in the cell where the first bank has ClickCue.
    std::vector<Cue> cues = standardCues();
    cues.push_back({1, kClickSlot, "SecondBankCue"});
    const fs::path package = writeShow(cues);
    KestioProcess kestio(*desktop_, {"--midi", "jack", package.string()});
    const std::string window = awaitShow(kestio, package);
    ASSERT_FALSE(window.empty());

    // The bank list's tiles fill its card inside the padding, ten rows of two above a footer
    // of about 20 points: bank 2 is the second tile of the left column.
    const QRectF card = placed(app::CanvasPanel::bankList);
    const double padding = ui::PanelCardStyle::bankList().padding;
    const QRectF tiles = card.adjusted(padding, padding, -padding, -padding - 20);
    ASSERT_TRUE(clickCanvas(
        kestio, window, {tiles.left() + tiles.width() / 4, tiles.top() + tiles.height() * 0.15}));
    // The same cell now plays the second bank's cue.
    ASSERT_TRUE(clickCell(kestio, window, kClickSlot));
    EXPECT_TRUE(played(package, "SecondBankCue")) << readFile(package / "app.log");
    EXPECT_FALSE(played(package, "ClickCue", 1, std::chrono::milliseconds(0)));
}

}  // namespace
}  // namespace kestio::test
