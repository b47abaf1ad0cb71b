#include "app/canvas_view.h"

#include <QGraphicsProxyWidget>
#include <QGraphicsScene>
#include <QGraphicsSceneMouseEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QResizeEvent>

#include "app/canvas_layout.h"
#include "app/design_canvas.h"
#include "app/field_editing.h"

namespace kestio::app {

namespace {

// The canvas's place in the scene. It takes every press, so that the release that follows
// reaches the widget pressed even when that widget acts on the release only (as in a window,
// where the pressed widget always gets its release).
class CanvasProxy : public QGraphicsProxyWidget {
  protected:
    void mousePressEvent(QGraphicsSceneMouseEvent* event) override {
        QGraphicsProxyWidget::mousePressEvent(event);
        event->accept();
    }
};

}  // namespace

CanvasView::CanvasView(DesignCanvas* canvas, QWidget* parent)
    : QGraphicsView(parent), canvas_(canvas), editing_(new FieldEditing(*this)) {
    auto* scene = new QGraphicsScene(this);
    scene->setSceneRect(0, 0, kDesignWidth, kDesignHeight);
    auto* proxy = new CanvasProxy;
    proxy->setWidget(canvas_);
    scene->addItem(proxy);
    proxy->setPos(0, 0);
    setScene(scene);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFrameShape(QFrame::NoFrame);
    setBackgroundBrush(Qt::black);
    setRenderHints(QPainter::SmoothPixmapTransform | QPainter::TextAntialiasing);
    setMinimumSize(kMinimumWindowSize);
    applyScale();
}

void CanvasView::resizeEvent(QResizeEvent* event) {
    QGraphicsView::resizeEvent(event);
    applyScale();
}

void CanvasView::keyPressEvent(QKeyEvent* event) {
    editing_->beforeKey();
    QGraphicsView::keyPressEvent(event);
    if (editing_->afterKey(*event)) {
        event->accept();
    }
}

void CanvasView::mousePressEvent(QMouseEvent* event) {
    editing_->beforePress(event->position().toPoint());
    QGraphicsView::mousePressEvent(event);
}

void CanvasView::applyScale() {
    const QSize area = viewport()->size();
    scale_ = canvasScale(area.width(), area.height());
    setTransform(QTransform::fromScale(scale_, scale_));
}

}  // namespace kestio::app
