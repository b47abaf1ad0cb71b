#include "app/design_canvas.h"

#include <QPaintEvent>
#include <QPainter>

#include "ui/palette.h"

namespace kestio::app {

DesignCanvas::DesignCanvas(QWidget* parent) : QWidget(parent) {
    setFixedSize(int(kDesignWidth), int(kDesignHeight));
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void DesignCanvas::place(CanvasPanel panel, QWidget* widget) {
    const QRectF rect = placement(panel).rect();
    widget->setParent(this);
    // Half-point centres (the utility column, the right-hand panels) land on whole points: the
    // rectangle's left edge is rounded, its size kept.
    widget->setGeometry(QRect(QPoint(qRound(rect.left()), qRound(rect.top())),
                              QSize(qRound(rect.width()), qRound(rect.height()))));
    widget->show();
    panels_[panel] = widget;
}

QWidget* DesignCanvas::panel(CanvasPanel panel) const {
    const auto found = panels_.find(panel);
    return found == panels_.end() ? nullptr : found->second;
}

void DesignCanvas::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.fillRect(event->rect(), ui::palette::windowBackground());
    painter.fillRect(QRectF(0, 0, kDesignWidth, kDesignHeight).intersected(event->rect()),
                     ui::palette::white(kCanvasGrey));
}

}  // namespace kestio::app
