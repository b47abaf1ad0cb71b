#include "grid/grid_geometry.h"

#include <QUrl>
#include <algorithm>
#include <cmath>

namespace kestio::grid {

double rowHeight(double panelHeight, int rows) {
    if (rows < 1) {
        return 0;
    }
    const double h = (panelHeight - kToolbarHeight - kCellAreaPadding -
                      ((rows - 1) * kCellSpacing + 2 * kCellAreaPadding)) /
                     rows;
    return std::max(h, 0.0);
}

QRectF cellRect(QSizeF panelSize, int rows, int columns, int row, int column) {
    if (rows < 1 || columns < 1) {
        return {};
    }
    const double width =
        (panelSize.width() - 2 * kCellAreaPadding - (columns - 1) * kCellSpacing) / columns;
    const double height = rowHeight(panelSize.height(), rows);
    return QRectF(kCellAreaPadding + column * (width + kCellSpacing),
                  kToolbarHeight + kCellAreaPadding + row * (height + kCellSpacing),
                  std::max(width, 0.0), height);
}

QRectF slotBodyRect(const QRectF& panel, double scale) {
    const double padding = kCellAreaPadding * scale;
    const double toolbar = kToolbarHeight * scale;
    return QRectF(panel.x() + padding, panel.y() + toolbar + padding, panel.width() - 2 * padding,
                  panel.height() - toolbar - 2 * padding);
}

std::optional<int> slotAtPoint(QPointF p, const QRectF& body, int rows, int columns) {
    if (rows < 1 || columns < 1 || body.width() <= 0 || body.height() <= 0) {
        return std::nullopt;
    }
    if (p.x() < body.left() || p.x() >= body.right() || p.y() < body.top() ||
        p.y() >= body.bottom()) {
        return std::nullopt;
    }
    const int column = std::clamp(static_cast<int>((p.x() - body.left()) / body.width() * columns),
                                  0, columns - 1);
    const int row =
        std::clamp(static_cast<int>((p.y() - body.top()) / body.height() * rows), 0, rows - 1);
    return row * columns + column;
}

std::vector<std::filesystem::path> droppedFiles(const QMimeData& data) {
    std::vector<std::filesystem::path> files;
    if (!data.hasUrls()) {
        return files;
    }
    for (const QUrl& url : data.urls()) {
        if (url.isLocalFile()) {
            files.emplace_back(url.toLocalFile().toStdString());
        }
    }
    return files;
}

}  // namespace kestio::grid
