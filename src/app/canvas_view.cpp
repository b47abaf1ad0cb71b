#include "app/canvas_view.h"

#include <QGraphicsProxyWidget>
#include <QGraphicsScene>
#include <QResizeEvent>

#include "app/canvas_layout.h"
#include "app/design_canvas.h"

namespace kestio::app {

CanvasView::CanvasView(DesignCanvas* canvas, QWidget* parent)
    : QGraphicsView(parent), canvas_(canvas) {
    auto* scene = new QGraphicsScene(this);
    scene->setSceneRect(0, 0, kDesignWidth, kDesignHeight);
    scene->addWidget(canvas_)->setPos(0, 0);
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

void CanvasView::applyScale() {
    const QSize area = viewport()->size();
    scale_ = canvasScale(area.width(), area.height());
    setTransform(QTransform::fromScale(scale_, scale_));
}

}  // namespace kestio::app
