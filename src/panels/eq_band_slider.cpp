#include "panels/eq_band_slider.h"

#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include "panels/eq_band_scale.h"
#include "ui/palette.h"

namespace kestio::panels {

EQBandSlider::EQBandSlider(ui::Binding<double> value, QWidget* parent)
    : QWidget(parent), value_(std::move(value)) {}

void EQBandSlider::paintEvent(QPaintEvent*) {
    namespace p = ui::palette;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const double w = width();
    const double h = height();
    const double value = value_.get();

    QPainterPath track;
    track.addRoundedRect(QRectF(w / 2 - 2, 0, 4, h), 2, 2);
    painter.fillPath(track, p::white(0.15));

    if (value != 0.0) {
        const double y = eqBandY(value, h);
        const QRectF bar(QPointF(w / 2 - 2, std::min(y, h / 2)),
                         QPointF(w / 2 + 2, std::max(y, h / 2)));
        painter.fillRect(
            bar, value > 0 ? p::withOpacity(p::yellow(), 0.6) : p::withOpacity(p::cyan(), 0.5));
    }

    QPen centre(p::white(0.55), 1.0, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
    painter.setPen(centre);
    painter.drawLine(QPointF(0, h / 2), QPointF(w, h / 2));

    const double knobY = eqBandKnobCentreY(value, h);
    const QRectF knob(0, knobY - kEqBandKnobHeight / 2, w, kEqBandKnobHeight);
    QPainterPath knobShape;
    knobShape.addRoundedRect(knob, 3, 3);
    QLinearGradient shade(QPointF(0, 0), QPointF(w, 0));
    shade.setColorAt(0, p::white(0.78));
    shade.setColorAt(1, p::white(0.55));
    painter.fillPath(knobShape, shade);
}

void EQBandSlider::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        writeAt(event->position().y());
    }
}

void EQBandSlider::mouseMoveEvent(QMouseEvent* event) {
    if (event->buttons() & Qt::LeftButton) {
        writeAt(event->position().y());
    }
}

void EQBandSlider::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        write(0.0);
    }
}

void EQBandSlider::writeAt(double y) {
    if (const auto value = eqBandValueAtPointer(y, height())) {
        write(*value);
    }
}

void EQBandSlider::write(double value) {
    value_.set(value);
    update();
}

}  // namespace kestio::panels
