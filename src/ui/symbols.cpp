#include "ui/symbols.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>

namespace kestio::ui {

namespace {

// Draws in a 16 × 16 box mapped onto the square centred in `rect`.
class Box {
  public:
    Box(QPainter& p, const QRectF& rect) : p_(p) {
        const double side = std::min(rect.width(), rect.height());
        p_.save();
        p_.translate(rect.center().x() - side / 2, rect.center().y() - side / 2);
        p_.scale(side / 16.0, side / 16.0);
        p_.setRenderHint(QPainter::Antialiasing);
    }
    ~Box() { p_.restore(); }
    Box(const Box&) = delete;
    Box& operator=(const Box&) = delete;

  private:
    QPainter& p_;
};

QPen pen(const QColor& color, double width) {
    QPen p(color, width);
    p.setCapStyle(Qt::RoundCap);
    p.setJoinStyle(Qt::RoundJoin);
    return p;
}

void checkStroke(QPainter& p, const QColor& color, double width) {
    p.setPen(pen(color, width));
    p.setBrush(Qt::NoBrush);
    QPainterPath tick;
    tick.moveTo(4.6, 8.3);
    tick.lineTo(7, 10.7);
    tick.lineTo(11.4, 5.6);
    p.drawPath(tick);
}

}  // namespace

void drawSymbol(QPainter& p, const QRectF& rect, Symbol symbol, const QColor& color) {
    if (symbol == Symbol::none || rect.isEmpty()) {
        return;
    }
    Box box(p, rect);
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    switch (symbol) {
        case Symbol::none:
            break;
        case Symbol::nextGo: {  // a play triangle against a bar
            QPainterPath path;
            path.moveTo(2, 2);
            path.lineTo(11, 8);
            path.lineTo(2, 14);
            path.closeSubpath();
            p.drawPath(path);
            p.drawRect(QRectF(12, 2, 2.5, 12));
            break;
        }
        case Symbol::freeze:  // pause bars: the picture holds
            p.drawRect(QRectF(3, 2, 3.5, 12));
            p.drawRect(QRectF(9.5, 2, 3.5, 12));
            break;
        case Symbol::loop: {  // a circular arrow
            p.setPen(pen(color, 2));
            p.setBrush(Qt::NoBrush);
            p.drawArc(QRectF(2.5, 2.5, 11, 11), 60 * 16, 280 * 16);
            p.setPen(Qt::NoPen);
            p.setBrush(color);
            QPainterPath head;
            head.moveTo(10.2, 0.6);
            head.lineTo(13.8, 3.8);
            head.lineTo(9.2, 5.4);
            head.closeSubpath();
            p.drawPath(head);
            break;
        }
        case Symbol::black:  // a filled screen
            p.setPen(pen(color, 1.5));
            p.setBrush(Qt::NoBrush);
            p.drawRoundedRect(QRectF(1.5, 3, 13, 10), 1.5, 1.5);
            p.setPen(Qt::NoPen);
            p.setBrush(color);
            p.drawRect(QRectF(4, 5.5, 8, 5));
            break;
        case Symbol::jump:
        case Symbol::turnRight: {  // an arrow turning up and right
            p.setPen(pen(color, 2));
            p.setBrush(Qt::NoBrush);
            QPainterPath stem;
            stem.moveTo(3, 14);
            stem.lineTo(3, 9);
            stem.quadTo(3, 6, 6, 6);
            stem.lineTo(11, 6);
            p.drawPath(stem);
            p.setPen(Qt::NoPen);
            p.setBrush(color);
            QPainterPath head;
            head.moveTo(10, 2);
            head.lineTo(15, 6);
            head.lineTo(10, 10);
            head.closeSubpath();
            p.drawPath(head);
            break;
        }
        case Symbol::cut: {  // two blocks meeting edge to edge
            p.drawRect(QRectF(1, 4, 6.5, 8));
            p.setBrush(Qt::NoBrush);
            p.setPen(pen(color, 1.4));
            p.drawRect(QRectF(8.5, 4.7, 6.3, 6.6));
            break;
        }
        case Symbol::dissolve: {  // two overlapping discs
            QColor half = color;
            half.setAlphaF(color.alphaF() * 0.55);
            p.setBrush(half);
            p.drawEllipse(QRectF(1, 3, 9, 9));
            p.setBrush(color);
            p.drawEllipse(QRectF(6, 4, 9, 9));
            break;
        }
        case Symbol::warningTriangleFill: {
            QPainterPath path;
            path.moveTo(8, 1);
            path.lineTo(15.5, 14.5);
            path.lineTo(0.5, 14.5);
            path.closeSubpath();
            p.drawPath(path);
            p.setBrush(Qt::black);
            p.drawRect(QRectF(7.1, 5, 1.8, 5.2));
            p.drawEllipse(QRectF(7, 11.2, 2, 2));
            break;
        }
        case Symbol::checkmarkCircleFill:
            p.drawEllipse(QRectF(1, 1, 14, 14));
            checkStroke(p, Qt::black, 1.8);
            break;
        case Symbol::checkmarkCircle:
            p.setPen(pen(color, 1.4));
            p.setBrush(Qt::NoBrush);
            p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
            checkStroke(p, color, 1.6);
            break;
        case Symbol::pianoKeys:
            p.setPen(pen(color, 1.2));
            p.setBrush(Qt::NoBrush);
            p.drawRoundedRect(QRectF(1.5, 2.5, 13, 11), 1.5, 1.5);
            for (double x : {5.8, 10.2}) {
                p.drawLine(QPointF(x, 8.5), QPointF(x, 13.5));
            }
            p.setPen(Qt::NoPen);
            p.setBrush(color);
            for (double x : {4.6, 9.0, 11.4}) {
                p.drawRect(QRectF(x, 2.5, 1.8, 6));
            }
            break;
        case Symbol::listBullet:
            for (double y : {3.0, 7.0, 11.0}) {
                p.drawEllipse(QRectF(1.5, y, 2.5, 2.5));
                p.drawRoundedRect(QRectF(5.5, y + 0.4, 9, 1.7), 0.8, 0.8);
            }
            break;
        case Symbol::eye:
        case Symbol::eyeSlash: {
            p.setPen(pen(color, 1.3));
            p.setBrush(Qt::NoBrush);
            QPainterPath lid;
            lid.moveTo(1, 8);
            lid.quadTo(8, 1, 15, 8);
            lid.quadTo(8, 15, 1, 8);
            p.drawPath(lid);
            p.setPen(Qt::NoPen);
            p.setBrush(color);
            p.drawEllipse(QRectF(5.6, 5.6, 4.8, 4.8));
            if (symbol == Symbol::eyeSlash) {
                p.setPen(pen(color, 1.5));
                p.drawLine(QPointF(2.5, 1.5), QPointF(13.5, 14.5));
            }
            break;
        }
        case Symbol::docOnDoc:
            p.setPen(pen(color, 1.2));
            p.setBrush(Qt::NoBrush);
            p.drawRoundedRect(QRectF(2, 1.5, 8.5, 10.5), 1.2, 1.2);
            p.drawRoundedRect(QRectF(5.5, 4.5, 8.5, 10.5), 1.2, 1.2);
            break;
        case Symbol::trash:
            p.setPen(pen(color, 1.2));
            p.setBrush(Qt::NoBrush);
            p.drawLine(QPointF(2, 3.5), QPointF(14, 3.5));
            p.drawLine(QPointF(6, 3.5), QPointF(6.5, 1.5));
            p.drawLine(QPointF(6.5, 1.5), QPointF(9.5, 1.5));
            p.drawLine(QPointF(9.5, 1.5), QPointF(10, 3.5));
            p.drawRoundedRect(QRectF(3.5, 3.5, 9, 11), 1, 1);
            p.drawLine(QPointF(6.5, 6), QPointF(6.5, 12));
            p.drawLine(QPointF(9.5, 6), QPointF(9.5, 12));
            break;
        case Symbol::link:  // two chain links on a diagonal
            p.setPen(pen(color, 1.6));
            p.setBrush(Qt::NoBrush);
            p.save();
            p.translate(8, 8);
            p.rotate(-45);
            p.drawRoundedRect(QRectF(-7, -2.5, 8, 5), 2.5, 2.5);
            p.drawRoundedRect(QRectF(-1, -2.5, 8, 5), 2.5, 2.5);
            p.restore();
            break;
        case Symbol::clockArrowCirclepath: {  // a clock inside an arrow turning back
            p.setPen(pen(color, 1.3));
            p.setBrush(Qt::NoBrush);
            p.drawArc(QRectF(2, 2, 12, 12), 200 * 16, -300 * 16);
            QPainterPath head;
            head.moveTo(0.6, 6.4);
            head.lineTo(2.6, 9.4);
            head.lineTo(4.9, 6.6);
            p.drawPath(head);
            p.drawLine(QPointF(8, 8), QPointF(8, 4.8));
            p.drawLine(QPointF(8, 8), QPointF(10.4, 9.6));
            break;
        }
        case Symbol::arrowClockwise: {  // an open circle with an arrow head at its top
            p.setPen(pen(color, 1.6));
            p.setBrush(Qt::NoBrush);
            p.drawArc(QRectF(2.5, 2.5, 11, 11), 60 * 16, 300 * 16);
            p.setPen(Qt::NoPen);
            p.setBrush(color);
            QPainterPath head;
            head.moveTo(9.2, 0.6);
            head.lineTo(13.6, 3.4);
            head.lineTo(9.0, 6.0);
            head.closeSubpath();
            p.drawPath(head);
            break;
        }
        case Symbol::checkmark:
            checkStroke(p, color, 1.8);
            break;
    }
}

}  // namespace kestio::ui
