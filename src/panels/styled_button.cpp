#include "panels/styled_button.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

namespace kestio::panels {

StyledButton::StyledButton(QWidget* parent) : QAbstractButton(parent) {
    setFocusPolicy(Qt::NoFocus);
    connect(this, &QAbstractButton::clicked, this, [this] {
        if (onClicked) {
            onClicked();
        }
    });
}

void StyledButton::setLook(Look look) {
    look_ = std::move(look);
    update();
}

void StyledButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // The stroke lies inside the bounds: the shape is inset by half its width.
    const double inset = look_.strokeWidth / 2.0;
    const QRectF shapeRect = QRectF(rect()).adjusted(inset, inset, -inset, -inset);
    QPainterPath shape;
    shape.addRoundedRect(shapeRect, look_.radius, look_.radius);
    painter.fillPath(shape, look_.fill);
    if (look_.strokeWidth > 0.0) {
        painter.strokePath(shape, QPen(look_.stroke, look_.strokeWidth));
    }

    painter.setFont(look_.font);
    const QFontMetricsF metrics(look_.font);
    const double textWidth = metrics.horizontalAdvance(text());
    const double iconWidth = look_.icon ? look_.iconSize + look_.iconSpacing : 0.0;
    const double left = (width() - textWidth - iconWidth) / 2.0;
    if (look_.icon) {
        const QRectF iconRect(left, (height() - look_.iconSize) / 2.0, look_.iconSize,
                              look_.iconSize);
        look_.icon(painter, iconRect, look_.textColor);
    }
    painter.setPen(look_.textColor);
    painter.drawText(QRectF(left + iconWidth, 0, textWidth + 1, height()),
                     Qt::AlignLeft | Qt::AlignVCenter, text());
}

}  // namespace kestio::panels
