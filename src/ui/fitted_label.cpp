#include "ui/fitted_label.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QPainter>
#include <cmath>

#include "ui/text_fit.h"

namespace kestio::ui {

FittedLabel::FittedLabel(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void FittedLabel::setText(const QString& text) {
    if (text == text_) {
        return;
    }
    text_ = text;
    updateGeometry();
    update();
}

void FittedLabel::setColor(const QColor& color) {
    color_ = color;
    update();
}

void FittedLabel::setAlignment(Qt::Alignment alignment) {
    alignment_ = alignment;
    update();
}

void FittedLabel::setMinimumScale(double scale) {
    minimumScale_ = scale;
    updateGeometry();
    update();
}

QSize FittedLabel::sizeHint() const {
    const QFontMetricsF metrics(font());
    return QSize(static_cast<int>(std::ceil(metrics.horizontalAdvance(text_))),
                 static_cast<int>(std::ceil(metrics.height())));
}

QSize FittedLabel::minimumSizeHint() const {
    const QSize natural = sizeHint();
    return QSize(0, natural.height());
}

void FittedLabel::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange) {
        updateGeometry();
        update();
    }
    QWidget::changeEvent(event);
}

void FittedLabel::paintEvent(QPaintEvent*) {
    const TextFit fit = fitText(text_, font(), width(), minimumScale_);
    if (fit.text.isEmpty()) {
        return;
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setFont(font());
    painter.setPen(color_);
    // Drawn at full size into the widget's box enlarged by the inverse of the scale, then
    // scaled down with the painter: the text keeps its alignment within the widget.
    const double s = fit.scale;
    painter.scale(s, s);
    painter.drawText(QRectF(0.0, 0.0, width() / s, height() / s),
                     static_cast<int>(alignment_) | Qt::TextSingleLine, fit.text);
}

}  // namespace kestio::ui
