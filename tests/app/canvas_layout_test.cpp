// The scale rule of the design canvas and the panels' places on it.

#include <gtest/gtest.h>

#include "app/canvas_layout.h"

namespace kestio::app {
namespace {

struct ScaleCase {
    double width;
    double height;
    double scale;
};

TEST(ScaleRule, FitsTheCanvasKeepingItsProportions) {
    const ScaleCase cases[] = {
        {1280, 720, 2.0 / 3.0},  // the minimum window: the canvas fills it
        {1920, 1080, 1.0},
        {2560, 1080, 1.0},  // wider: a band on the right
        {1920, 1440, 1.0},  // taller: a band at the bottom
        {3840, 2160, 2.0},  // scaled up as well as down
        {1600, 900, 1600.0 / 1920.0},
        {1000, 2000, 1000.0 / 1920.0},
        {0, 0, 0.0001},  // not yet laid out
        {-10, 500, 0.0001},
    };
    for (const auto& c : cases) {
        EXPECT_DOUBLE_EQ(canvasScale(c.width, c.height), c.scale) << c.width << "x" << c.height;
    }
}

// The rectangles as left, top, right, bottom on the design canvas.
TEST(CanvasLayout, EveryPanelHasItsFixedRectangle) {
    struct Expected {
        CanvasPanel panel;
        double left, top, right, bottom;
    };
    const Expected expected[] = {
        {CanvasPanel::projectToolbar, 21, 8, 459, 100},
        {CanvasPanel::bankList, 21, 108, 459, 536},
        {CanvasPanel::player, 467, 8, 1110, 536},
        {CanvasPanel::clipSettingsPanel, 1119, 8, 1495, 204},
        {CanvasPanel::audio, 1119, 204, 1495, 536},
        {CanvasPanel::outputMonitor, 1503, 8, 1733, 138},
        {CanvasPanel::utilityButtons, 1736, 8, 1899, 128},
        {CanvasPanel::midiStatus, 1503, 144, 1900, 214},
        {CanvasPanel::geometry, 1503, 220, 1900, 336},
        {CanvasPanel::eqColor, 1503, 342, 1900, 536},
        {CanvasPanel::slotGrid, 21, 544, 1899, 1072},
    };
    ASSERT_EQ(canvasPlacements().size(), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        const auto& e = expected[i];
        SCOPED_TRACE(i);
        // Drawn in the table's order.
        EXPECT_EQ(canvasPlacements()[i].panel, e.panel);
        const QRectF rect = placement(e.panel).rect();
        EXPECT_DOUBLE_EQ(rect.left(), e.left);
        EXPECT_DOUBLE_EQ(rect.top(), e.top);
        EXPECT_DOUBLE_EQ(rect.right(), e.right);
        EXPECT_DOUBLE_EQ(rect.bottom(), e.bottom);
    }
}

TEST(CanvasLayout, PanelsLieOnTheCanvasWithoutOverlapping) {
    const QRectF canvas(0, 0, kDesignWidth, kDesignHeight);
    const auto& all = canvasPlacements();
    for (std::size_t i = 0; i < all.size(); ++i) {
        EXPECT_TRUE(canvas.contains(all[i].rect())) << i;
        for (std::size_t j = i + 1; j < all.size(); ++j) {
            // Touching edges (the clip settings panel over the audio section) are no overlap.
            const QRectF common = all[i].rect().intersected(all[j].rect());
            EXPECT_TRUE(common.width() <= 0.5 || common.height() <= 0.5) << i << " and " << j;
        }
    }
}

}  // namespace
}  // namespace kestio::app
