#include <gtest/gtest.h>

#include <QMimeData>
#include <QUrl>

#include "grid/grid_geometry.h"

namespace kestio::grid {
namespace {

TEST(GridGeometry, RowHeightAndCellsOfTheDesignPanel) {
    EXPECT_DOUBLE_EQ(rowHeight(528, 4), 117.75);
    EXPECT_DOUBLE_EQ(rowHeight(528, 0), 0);
    EXPECT_DOUBLE_EQ(rowHeight(10, 4), 0);  // too small a panel: no negative rows
    const QSizeF panel(1878, 528);
    const QRectF first = cellRect(panel, 4, 10, 0, 0);
    EXPECT_DOUBLE_EQ(first.x(), 4);
    EXPECT_DOUBLE_EQ(first.y(), 40);
    EXPECT_NEAR(first.width(), 184.3, 1e-9);
    const QRectF last = cellRect(panel, 4, 10, 3, 9);
    EXPECT_NEAR(last.right(), 1874, 1e-9);
    EXPECT_NEAR(last.y(), 40 + 3 * (117.75 + 3), 1e-9);
    EXPECT_TRUE(cellRect(panel, 0, 10, 0, 0).isEmpty());
    EXPECT_TRUE(cellRect(panel, 4, -2, 0, 0).isEmpty());
}

TEST(GridDrop, CellAreaOnTheCanvas) {
    EXPECT_EQ(slotBodyRect(kPanelOnCanvas), QRectF(25, 584, 1870, 484));
    const QRectF scaled(kPanelOnCanvas.x() * 0.5, kPanelOnCanvas.y() * 0.5,
                        kPanelOnCanvas.width() * 0.5, kPanelOnCanvas.height() * 0.5);
    EXPECT_EQ(slotBodyRect(scaled, 0.5), QRectF(12.5, 292, 935, 242));
}

TEST(GridDrop, PointToSlot) {
    const QRectF body(25, 584, 1870, 484);
    struct Case {
        QPointF point;
        std::optional<int> slot;
    };
    const Case cases[] = {
        {{25, 584}, 0},
        {{1894.99, 1067.99}, 39},
        {{1895, 700}, std::nullopt},  // the right edge is outside
        {{500, 1068}, std::nullopt},  // the bottom edge is outside
        {{500, 570}, std::nullopt},   // the toolbar strip
        {{23, 700}, std::nullopt},    // the padding
        {{25 + 187 * 2 + 1, 584 + 121 + 1}, 12},
        {{25 + 187 - 0.01, 584}, 0},  // a gap belongs to the even share that holds it
    };
    for (const auto& c : cases) {
        EXPECT_EQ(slotAtPoint(c.point, body, 4, 10), c.slot) << c.point.x() << "," << c.point.y();
    }
    EXPECT_EQ(slotAtPoint({100, 600}, body, 0, 10), std::nullopt);
    EXPECT_EQ(slotAtPoint({1894, 1067}, body, 1, 1), 0);
}

TEST(GridDrop, OnlyLocalFilesAreTaken) {
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile("/tmp/a.mp4"), QUrl("https://example.com/b.mp4"),
                  QUrl::fromLocalFile("/tmp/folder"), QUrl::fromLocalFile("/tmp/日本語 c.mov")});
    const auto files = droppedFiles(data);
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(files[0], "/tmp/a.mp4");
    EXPECT_EQ(files[2], "/tmp/日本語 c.mov");
    QMimeData text;
    text.setText("/tmp/a.mp4");
    EXPECT_TRUE(droppedFiles(text).empty());
}

}  // namespace
}  // namespace kestio::grid
