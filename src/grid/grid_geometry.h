#pragma once

// Where the slot grid panel puts its toolbar and cells, and which cell a drop point falls on.
// All lengths are points of the panel's design size (1878 × 528 on the 1920 × 1080 canvas);
// the panel is scaled as a whole.

#include <QMimeData>
#include <QPointF>
#include <QRectF>
#include <filesystem>
#include <optional>
#include <vector>

namespace kestio::grid {

inline constexpr double kPanelWidth = 1878;
inline constexpr double kPanelHeight = 528;
inline constexpr double kToolbarHeight = 36;
inline constexpr double kCellAreaPadding = 4;
inline constexpr double kCellSpacing = 3;  // between rows and between the cells of a row
inline constexpr double kPanelCornerRadius = 6;
// The panel's place on the design canvas.
inline constexpr QRectF kPanelOnCanvas{21, 544, kPanelWidth, kPanelHeight};

// The height of every row for a panel of height `panelHeight`; 0 without rows.
double rowHeight(double panelHeight, int rows);
// The cell of row `row` and column `column` in a panel of the given size; empty without rows
// or columns.
QRectF cellRect(QSizeF panelSize, int rows, int columns, int row, int column);

// The area of the cells: the panel without its toolbar strip and without the padding around
// the cells, for a panel drawn at `scale` times its design size at `panel`.
QRectF slotBodyRect(const QRectF& panel, double scale = 1.0);
// The slot index of a point of the cell area, which is split evenly into rows × columns parts
// (the gaps between cells belong to a neighbour); none outside the area (its right and bottom
// edges are outside) or when the grid has no rows or columns.
std::optional<int> slotAtPoint(QPointF point, const QRectF& body, int rows, int columns);

// The local files a drop carries, in order; links to anything but a local file are left out.
std::vector<std::filesystem::path> droppedFiles(const QMimeData& data);

}  // namespace kestio::grid
