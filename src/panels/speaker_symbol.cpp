#include "panels/speaker_symbol.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>

namespace kestio::panels {

void drawSpeaker(QPainter& painter, const QRectF& rect, const QColor& colour, bool muted) {
    const double side = std::min(rect.width(), rect.height());
    const QRectF box(rect.center().x() - side / 2, rect.center().y() - side / 2, side, side);
    const auto at = [&box, side](double x, double y) {
        return QPointF(box.left() + x * side, box.top() + y * side);
    };
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    // The body: a small box and the cone opening to the right.
    QPainterPath body;
    body.moveTo(at(0.05, 0.36));
    body.lineTo(at(0.25, 0.36));
    body.lineTo(at(0.50, 0.12));
    body.lineTo(at(0.50, 0.88));
    body.lineTo(at(0.25, 0.64));
    body.lineTo(at(0.05, 0.64));
    body.closeSubpath();
    painter.fillPath(body, colour);

    QPen pen(colour, std::max(1.0, side * 0.09), Qt::SolidLine, Qt::RoundCap);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    if (muted) {
        painter.drawLine(at(0.62, 0.34), at(0.94, 0.66));
        painter.drawLine(at(0.94, 0.34), at(0.62, 0.66));
    } else {
        for (double radius : {0.16, 0.32}) {
            const QRectF arc(at(0.5 - radius, 0.5 - radius), at(0.5 + radius, 0.5 + radius));
            painter.drawArc(arc.translated(side * 0.08, 0), -50 * 16, 100 * 16);
        }
    }
    painter.restore();
}

}  // namespace kestio::panels
