#include "panels/painted_row.h"

#include <QPainter>

#include "ui/palette.h"

namespace kestio::panels {

PaintedRow::PaintedRow(Painter paint, QWidget* parent)
    : QWidget(parent), paint_(std::move(paint)) {}

void PaintedRow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    paint_(painter, QRectF(rect()));
}

void paintFramedRow(QPainter& painter, const QRectF& bounds) {
    painter.fillRect(bounds, ui::palette::windowBackground());
    painter.setPen(QPen(ui::palette::withOpacity(ui::palette::gray(), 0.3), 1.0));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(bounds.adjusted(0.5, 0.5, -0.5, -0.5));
}

}  // namespace kestio::panels
