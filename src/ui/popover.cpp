#include "ui/popover.h"

#include <QGuiApplication>
#include <QLayout>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <algorithm>

#include "ui/palette.h"

namespace kestio::ui {

QPoint popoverOrigin(const QRect& anchor, const QSize& size, const QRect& screen, int gap) {
    int x = anchor.right() + 1 + gap;
    if (x + size.width() > screen.right() + 1 &&
        anchor.left() - gap - size.width() >= screen.left()) {
        x = anchor.left() - gap - size.width();
    }
    int y = anchor.top() + (anchor.height() - size.height()) / 2;
    y = std::min(y, screen.bottom() + 1 - size.height());
    y = std::max(y, screen.top());
    return QPoint(x, y);
}

Popover::Popover(QWidget* anchor)
    : QFrame(anchor, Qt::Popup | Qt::FramelessWindowHint), anchor_(anchor) {
    setAttribute(Qt::WA_TranslucentBackground);
}

void Popover::setContentLayout(QLayout* layout) {
    delete QFrame::layout();
    setLayout(layout);
}

void Popover::open() {
    adjustSize();
    QRect screen(0, 0, 1 << 20, 1 << 20);
    if (anchor_ != nullptr) {
        if (const QScreen* s = anchor_->screen()) {
            screen = s->availableGeometry();
        }
        const QRect anchorRect(anchor_->mapToGlobal(QPoint(0, 0)), anchor_->size());
        move(popoverOrigin(anchorRect, size(), screen));
    }
    finishing_ = false;
    show();
    activateWindow();
}

void Popover::finish() {
    finishing_ = true;
    hide();
    finishing_ = false;
}

void Popover::hideEvent(QHideEvent* event) {
    QFrame::hideEvent(event);
    if (!finishing_ && onDismissed) {
        onDismissed();
    }
}

void Popover::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 10, 10);
    painter.fillPath(shape, palette::white(0.17));
    painter.setPen(QPen(palette::white(0.28), 1.0));
    painter.drawPath(shape);
}

}  // namespace kestio::ui
