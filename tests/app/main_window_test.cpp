// The main window on screen: the design canvas scaled into windows of several sizes and probed at
// known points, the panels' cards, clicks reaching the panels at their scaled places, the loading
// overlay, and screenshots of the whole window in both languages.

#include <gtest/gtest.h>

#include <QApplication>
#include <QMenuBar>
#include <QProgressBar>
#include <QTest>

#include "app/canvas_view.h"
#include "app/design_canvas.h"
#include "app/loading_overlay.h"
#include "app/main_window.h"
#include "app/panel_frames.h"
#include "app_fixture.h"
#include "grid/slot_cell_view.h"
#include "grid/slot_grid_panel.h"
#include "ui/panel_card.h"
#include "ui/ui_test_support.h"

namespace kestio::test {
namespace {

using app::CanvasPanel;

class MainWindowTest : public AppFixture {
  protected:
    MainWindowTest() {
        frames = std::make_unique<app::PanelFrames>(window.canvas(), *show, playback);
        grid = new grid::SlotGridPanel(
            {.show = *show, .loop = loop, .midi = midi, .midiOut = midiOut});
        window.canvas().place(CanvasPanel::slotGrid, grid);
        overlay = new app::LoadingOverlay(loop, show->isLoading, playback.warmDone(),
                                          playback.warmTotal(), nullptr);
        window.addOverlay(overlay);
    }
    ~MainWindowTest() override { setLanguage(AppLanguage::ja); }

    // Shows the window with a content area of width × height and settles it.
    void showAt(int width, int height) {
        window.show();
        window.resize(width, height + window.menuBar()->sizeHint().height());
        QApplication::processEvents();
        loop.runPending();
        ASSERT_EQ(window.canvasView().size(), QSize(width, height));
    }
    QImage content() { return window.centralWidget()->grab().toImage(); }
    static QColor at(const QImage& image, int x, int y) { return image.pixelColor(x, y); }
    static QColor grey(int level) { return QColor(level, level, level); }

    app::MainWindow window{loop};
    std::unique_ptr<app::PanelFrames> frames;
    grid::SlotGridPanel* grid = nullptr;
    app::LoadingOverlay* overlay = nullptr;
};

TEST_F(MainWindowTest, TheCanvasIsScaledIntoEveryWindowAndPinnedTopLeft) {
    struct Probe {
        int x, y;
        QColor colour;
        const char* what;
    };
    struct Case {
        int width, height;
        double scale;
        std::vector<Probe> probes;
    };
    const QColor black(0, 0, 0);
    const Case cases[] = {
        {2560,
         1080,
         1.0,
         {{2200, 500, black, "the band on the right"},
          {463, 272, grey(107), "the strip between bank list and player"},
          {1114, 272, grey(107), "the strip between player and settings panel"},
          {24, 54, grey(41), "the toolbar card's padding"},
          {470, 272, grey(31), "the player card's padding"},
          {1122, 300, grey(41), "the audio card"},
          {1700, 100, grey(41), "the output monitor's place"},
          {1919, 1079, grey(107), "the canvas's last pixel"},
          {1920, 1079, black, "the band's first pixel"}}},
        {1920,
         1440,
         1.0,
         {{960, 1300, black, "the band at the bottom"}, {463, 272, grey(107), "a strip"}}},
        // The minimum window: the canvas fills it, no band at the right or the bottom.
        {1280,
         720,
         2.0 / 3.0,
         {{1279, 719, grey(107), "the last pixel"},
          {1279, 360, grey(107), "the right edge"},
          {16, 36, grey(41), "the toolbar card"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        showAt(c.width, c.height);
        EXPECT_DOUBLE_EQ(window.canvasView().scale(), c.scale);
        const QImage image = content();
        for (const auto& probe : c.probes) {
            EXPECT_TRUE(near(at(image, probe.x, probe.y), probe.colour, 3))
                << probe.what << ": " << at(image, probe.x, probe.y).name().toStdString();
        }
    }
}

TEST_F(MainWindowTest, CardsHaveTheirPlacesAndGreys) {
    showAt(1920, 1080);
    for (const auto& p : app::canvasPlacements()) {
        QWidget* panel = window.canvas().panel(p.panel);
        ASSERT_NE(panel, nullptr);
        EXPECT_EQ(QRectF(panel->geometry()), p.rect());
    }
    // The player's card is darker than every other card.
    EXPECT_DOUBLE_EQ(frames->card(CanvasPanel::player)->style().white, 0.12);
    for (const CanvasPanel other :
         {CanvasPanel::projectToolbar, CanvasPanel::bankList, CanvasPanel::clipSettingsPanel,
          CanvasPanel::audio, CanvasPanel::geometry, CanvasPanel::eqColor}) {
        EXPECT_DOUBLE_EQ(frames->card(other)->style().white, 0.16);
    }
    const QImage image = content();
    // Rounded corners: the very corner of a card shows the canvas grey.
    EXPECT_TRUE(near(at(image, 21, 8), grey(107), 12)) << at(image, 21, 8).name().toStdString();
}

TEST_F(MainWindowTest, AClickOnAScaledGridCellPlaysItsSlot) {
    slot(0, 12).videoURL = media("clip.mov");
    showAt(1280, 720);
    grid::SlotCellView* cell = grid->cell(12);
    ASSERT_NE(cell, nullptr);
    const QPoint onCanvas = cell->mapTo(&window.canvas(), cell->rect().center());
    const double scale = window.canvasView().scale();
    const QPoint inView(int(onCanvas.x() * scale), int(onCanvas.y() * scale));
    QTest::mouseClick(window.canvasView().viewport(), Qt::LeftButton, Qt::NoModifier, inView);
    loop.runPending();
    EXPECT_EQ(playback.callsStartingWith("play 0 12").size(), 1u);
}

TEST_F(MainWindowTest, TheLoadingOverlayDarkensTheWindowAndCounts) {
    setLanguage(AppLanguage::ja);
    showAt(1920, 1080);
    EXPECT_FALSE(overlay->isVisible());
    show->isLoading = true;
    EXPECT_TRUE(overlay->isVisible());
    EXPECT_TRUE(overlay->showsSpinner());
    EXPECT_TRUE(overlay->countText().isEmpty());

    playback.warmTotal() = 12;
    playback.warmDone() = 3;
    EXPECT_FALSE(overlay->showsSpinner());
    EXPECT_EQ(overlay->countText(), QString::fromUtf8("3 / 12 件"));
    EXPECT_EQ(overlay->titleText(), QString::fromUtf8("クリップを準備中..."));
    EXPECT_EQ(overlay->bar()->value(), 3);
    EXPECT_EQ(overlay->bar()->maximum(), 12);
    const QImage image = content();
    saveShot(image, "loading_3_of_12_ja");
    // The grey strip under black at 0.55.
    EXPECT_TRUE(near(at(image, 463, 272), grey(48), 3)) << at(image, 463, 272).name().toStdString();

    setLanguage(AppLanguage::en);
    EXPECT_EQ(overlay->countText(), "3 / 12");
    EXPECT_EQ(overlay->titleText(), "Preparing clips...");

    // Clicks do not reach the grid beneath.
    slot(0, 0).videoURL = media("clip.mov");
    QTest::mouseClick(overlay, Qt::LeftButton, Qt::NoModifier, QPoint(100, 700));
    loop.runPending();
    EXPECT_TRUE(playback.callsStartingWith("play").empty());

    show->isLoading = false;
    EXPECT_FALSE(overlay->isVisible());
}

TEST_F(MainWindowTest, TheTitleIsTheApplicationsNameWhateverTheProject) {
    showAt(1600, 900);
    EXPECT_EQ(window.windowTitle(), "Kestio");
    show->currentProjectURL = folder / "Show.ktshow";
    show->hasUnsavedChanges = true;
    window.hide();
    window.show();
    loop.runPending();
    EXPECT_EQ(window.windowTitle(), "Kestio");
}

TEST_F(MainWindowTest, ACloseRequestIsDecidedElsewhere) {
    int asked = 0;
    window.onCloseRequested = [&] { ++asked; };
    showAt(1600, 900);
    EXPECT_FALSE(window.close());
    loop.runPending();
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(window.isVisible());
    window.allowClose();
    EXPECT_TRUE(window.close());
}

TEST_F(MainWindowTest, ScreenshotsInBothLanguages) {
    const QSize sizes[] = {{1920, 1080}, {2560, 1080}, {1280, 720}};
    for (const AppLanguage language : {AppLanguage::ja, AppLanguage::en}) {
        setLanguage(language);
        for (const QSize& size : sizes) {
            showAt(size.width(), size.height());
            const QImage image = content();
            ASSERT_EQ(image.size(), size);
            saveShot(image, QStringLiteral("main_window_%1x%2_%3")
                                .arg(size.width())
                                .arg(size.height())
                                .arg(language == AppLanguage::ja ? "ja" : "en"));
        }
    }
}

}  // namespace
}  // namespace kestio::test
