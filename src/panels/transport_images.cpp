#include "panels/transport_images.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>

namespace kestio::panels {

namespace {

// Everything is drawn on a 16 by 16 grid scaled to the square.
struct Grid {
    QPointF origin;
    double unit = 1.0;
    QPointF at(double x, double y) const { return origin + QPointF(x * unit, y * unit); }
    QRectF rect(double x, double y, double w, double h) const {
        return {at(x, y), QSizeF(w * unit, h * unit)};
    }
};

void triangle(QPainter& p, const Grid& g, double left, double right, bool pointsRight) {
    QPainterPath path;
    if (pointsRight) {
        path.moveTo(g.at(left, 2));
        path.lineTo(g.at(right, 8));
        path.lineTo(g.at(left, 14));
    } else {
        path.moveTo(g.at(right, 2));
        path.lineTo(g.at(left, 8));
        path.lineTo(g.at(right, 14));
    }
    path.closeSubpath();
    p.fillPath(path, p.brush());
}

// A square bracket, opening right ("[") or left ("]"), with its spine at x.
void bracket(QPainter& p, const Grid& g, double x, bool opensRight) {
    const double arm = opensRight ? 3.0 : -3.0;
    p.fillRect(g.rect(opensRight ? x : x - 2, 1, 2, 14), p.brush());
    p.fillRect(g.rect(opensRight ? x : x + arm, 1, 3, 2), p.brush());
    p.fillRect(g.rect(opensRight ? x : x + arm, 13, 3, 2), p.brush());
}

void dot(QPainter& p, const Grid& g, double cx) {
    QPainterPath path;
    path.addEllipse(g.at(cx, 8), 2.6 * g.unit, 2.6 * g.unit);
    p.fillPath(path, p.brush());
}

void cross(QPainter& p, const Grid& g, double cx, const QColor& colour) {
    QPen pen(colour, 2.0 * g.unit, Qt::SolidLine, Qt::RoundCap);
    p.setPen(pen);
    p.drawLine(g.at(cx - 3, 5), g.at(cx + 3, 11));
    p.drawLine(g.at(cx + 3, 5), g.at(cx - 3, 11));
    p.setPen(Qt::NoPen);
}

}  // namespace

void drawTransportImage(QPainter& painter, const QRectF& rect, TransportImage image,
                        const QColor& colour) {
    const double side = std::min(rect.width(), rect.height());
    if (side <= 0) {
        return;
    }
    Grid g{QPointF(rect.center().x() - side / 2, rect.center().y() - side / 2), side / 16.0};
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    switch (image) {
        case TransportImage::toInPoint:
            bracket(painter, g, 1, true);
            triangle(painter, g, 6, 15, false);
            break;
        case TransportImage::setIn:
            bracket(painter, g, 3, true);
            dot(painter, g, 11);
            break;
        case TransportImage::clearIn:
            bracket(painter, g, 2, true);
            cross(painter, g, 11, colour);
            break;
        case TransportImage::backFrame:
            triangle(painter, g, 2, 11, false);
            painter.fillRect(g.rect(12, 2, 2.5, 12), colour);
            break;
        case TransportImage::play:
            triangle(painter, g, 3, 14, true);
            break;
        case TransportImage::pause:
            painter.fillRect(g.rect(3, 2, 3.5, 12), colour);
            painter.fillRect(g.rect(9.5, 2, 3.5, 12), colour);
            break;
        case TransportImage::forwardFrame:
            painter.fillRect(g.rect(1.5, 2, 2.5, 12), colour);
            triangle(painter, g, 5, 14, true);
            break;
        case TransportImage::thumbnail: {
            QPen frame(colour, 1.5 * g.unit);
            painter.setPen(frame);
            painter.setBrush(Qt::NoBrush);
            painter.drawRoundedRect(g.rect(1, 3, 14, 10), g.unit, g.unit);
            painter.setPen(Qt::NoPen);
            painter.setBrush(colour);
            QPainterPath hills;
            hills.moveTo(g.at(2.5, 11.5));
            hills.lineTo(g.at(6.5, 7));
            hills.lineTo(g.at(9, 9.5));
            hills.lineTo(g.at(10.5, 8));
            hills.lineTo(g.at(13.5, 11.5));
            hills.closeSubpath();
            painter.fillPath(hills, colour);
            dot(painter, Grid{g.at(8.2, -2.5), g.unit * 0.5}, 8);
            break;
        }
        case TransportImage::clearOut:
            bracket(painter, g, 14, false);
            cross(painter, g, 5, colour);
            break;
        case TransportImage::setOut:
            bracket(painter, g, 13, false);
            dot(painter, g, 5);
            break;
        case TransportImage::toOutPoint:
            triangle(painter, g, 1, 10, true);
            bracket(painter, g, 15, false);
            break;
    }
    painter.restore();
}

}  // namespace kestio::panels
