#include "app/panel_painting.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

namespace kestio::app {

void fillRounded(QPainter& p, const QRectF& rect, double radius, const QColor& color) {
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.fillPath(path, color);
    p.restore();
}

void strokeRounded(QPainter& p, const QRectF& rect, double radius, const QColor& color,
                   double width) {
    QPen pen(color, width);
    pen.setCapStyle(Qt::FlatCap);
    pen.setJoinStyle(Qt::MiterJoin);
    pen.setMiterLimit(10);
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(rect, radius, radius);
    p.restore();
}

void fillDot(QPainter& p, QPointF centre, double diameter, const QColor& color) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    p.drawEllipse(centre, diameter / 2.0, diameter / 2.0);
    p.restore();
}

void drawLine(QPainter& p, const QRectF& rect, const QString& text, const QFont& font,
              const QColor& color, Qt::Alignment alignment) {
    const QFontMetricsF metrics(font);
    p.save();
    p.setFont(font);
    p.setPen(color);
    p.drawText(rect, int(alignment) | Qt::TextSingleLine,
               metrics.elidedText(text, Qt::ElideRight, rect.width()));
    p.restore();
}

double textWidth(const QString& text, const QFont& font) {
    return QFontMetricsF(font).horizontalAdvance(text);
}

}  // namespace kestio::app
