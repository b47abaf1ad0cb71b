#include "panels/compact_slider.h"

#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <cmath>

#include "panels/compact_slider_scale.h"
#include "ui/palette.h"

namespace kestio::panels {

CompactSlider::CompactSlider(ui::Binding<double> value, ui::ValueRange range, QColor accent,
                             double trackHeight, double thumbDiameter, QWidget* parent)
    : QWidget(parent),
      value_(std::move(value)),
      range_(range),
      accent_(accent),
      trackHeight_(trackHeight),
      thumbDiameter_(thumbDiameter) {
    setFixedHeight(static_cast<int>(std::ceil(std::max(trackHeight_, thumbDiameter_))));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize CompactSlider::sizeHint() const {
    return QSize(120, height());
}

void CompactSlider::paintEvent(QPaintEvent*) {
    namespace p = ui::palette;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const auto layout =
        compactSliderLayout(value_.get(), range_, width(), trackHeight_, thumbDiameter_);
    const double mid = layout.height / 2.0;
    const double r = trackHeight_ / 2.0;
    const bool enabled = isEnabled();

    QPainterPath track;
    track.addRoundedRect(QRectF(0, mid - r, width(), trackHeight_), r, r);
    painter.fillPath(track, p::white(0.1));
    QPainterPath fill;
    fill.addRoundedRect(QRectF(0, mid - r, layout.fillWidth, trackHeight_), r, r);
    painter.fillPath(fill, p::withOpacity(accent_, enabled ? 0.85 : 0.3));

    const double d = thumbDiameter_;
    const QRectF thumb(layout.thumbX - d / 2, mid - d / 2, d, d);
    // A soft shadow a little below the thumb.
    painter.setPen(Qt::NoPen);
    painter.setBrush(p::black(0.4 * 0.5));
    painter.drawEllipse(thumb.translated(0, 0.5).adjusted(-0.75, -0.75, 0.75, 0.75));
    QLinearGradient shade(thumb.topLeft(), thumb.bottomLeft());
    shade.setColorAt(0, p::white(1.0, 0.95));
    shade.setColorAt(1, p::withOpacity(accent_, enabled ? 1.0 : 0.4));
    painter.setBrush(shade);
    painter.setPen(QPen(p::black(0.35), 0.5));
    painter.drawEllipse(thumb);
}

void CompactSlider::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        writeAt(event->position().x());
    }
}

void CompactSlider::mouseMoveEvent(QMouseEvent* event) {
    if (event->buttons() & Qt::LeftButton) {
        writeAt(event->position().x());
    }
}

void CompactSlider::writeAt(double x) {
    if (!isEnabled()) {
        return;
    }
    if (const auto value = compactSliderValueAtPointer(x, range_, width(), thumbDiameter_)) {
        value_.set(*value);
        update();
    }
}

}  // namespace kestio::panels
