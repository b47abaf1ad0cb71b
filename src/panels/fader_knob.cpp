#include "panels/fader_knob.h"

#include <QLinearGradient>
#include <QPainter>
#include <initializer_list>

#include "ui/palette.h"

namespace kestio::panels {

namespace {

using ui::palette::white;

// A horizontal gradient from x0 to x1 through evenly spaced greys.
QLinearGradient evenGradient(QPointF from, QPointF to, std::initializer_list<double> greys) {
    QLinearGradient gradient(from, to);
    const auto count = static_cast<double>(greys.size() - 1);
    int i = 0;
    for (double g : greys) {
        gradient.setColorAt(i / count, white(g));
        ++i;
    }
    return gradient;
}

QPen line(const QColor& color, double width) {
    QPen pen(color, width, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
    pen.setMiterLimit(10.0);
    return pen;
}

}  // namespace

FaderKnob::FaderKnob(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void FaderKnob::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    paint(painter, QRectF(rect()));
}

void FaderKnob::paint(QPainter& painter, const QRectF& rect) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(rect.topLeft());
    const double w = rect.width();
    const double h = rect.height();
    painter.setPen(Qt::NoPen);

    // Top cap, body, bottom cap and the darker centre band.
    painter.setBrush(evenGradient({0, 0}, {w, 0}, {0.45, 0.82, 0.72, 0.35}));
    painter.drawEllipse(QRectF(0, 0, w, 0.28 * h));
    painter.setBrush(evenGradient({0, 0.5 * h}, {w, 0.5 * h}, {0.3, 0.75, 0.88, 0.7, 0.28}));
    painter.drawRect(QRectF(0, 0.14 * h, w, 0.72 * h));
    painter.setBrush(evenGradient({0, 0}, {w, 0}, {0.35, 0.72, 0.62, 0.28}));
    painter.drawEllipse(QRectF(0, 0.72 * h, w, 0.28 * h));
    painter.setBrush(evenGradient({0, 0.43 * h}, {w, 0.43 * h}, {0.18, 0.55, 0.45, 0.15}));
    painter.drawRect(QRectF(0.04 * w, 0.43 * h, 0.92 * w, 0.14 * h));

    // The centre line that marks the level, and the grip lines.
    painter.setBrush(Qt::NoBrush);
    painter.setPen(line(white(1.0, 0.9), 1.2));
    painter.drawLine(QPointF(0.04 * w, 0.5 * h), QPointF(0.96 * w, 0.5 * h));
    painter.setPen(line(ui::palette::withOpacity(white(0.55), 0.6), 0.7));
    for (double y : {0.32, 0.40, 0.60, 0.68}) {
        painter.drawLine(QPointF(0.06 * w, y * h), QPointF(0.94 * w, y * h));
    }

    // Highlight and the two side edges.
    painter.setPen(Qt::NoPen);
    painter.setBrush(white(1.0, 0.18));
    painter.drawEllipse(QRectF(0.15 * w, 0.04 * h, 0.45 * w, 0.14 * h));
    painter.setBrush(Qt::NoBrush);
    painter.setPen(line(ui::palette::black(0.6), 1.5));
    painter.drawLine(QPointF(0, 0.14 * h), QPointF(0, 0.86 * h));
    painter.setPen(line(ui::palette::black(0.4), 1.5));
    painter.drawLine(QPointF(w, 0.14 * h), QPointF(w, 0.86 * h));
    painter.restore();
}

}  // namespace kestio::panels
