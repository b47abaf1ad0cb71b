#include "platform/ui/layer_view.h"

#include <QPainter>
#include <QResizeEvent>
#include <QScreen>
#include <cmath>

namespace kestio::platform {

LayerView::LayerView(RunLoop& loop, QWidget* parent) : QWidget(parent), loop_(loop) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
}

LayerView::~LayerView() = default;

void LayerView::setRootLayer(std::shared_ptr<Layer> root) {
    root_ = std::move(root);
    if (root_) {
        root_->setFrame({0.0, 0.0, double(width()), double(height())});
    }
    update();
}

void LayerView::setFrameRate(double hz) {
    requestedRate_ = hz > 0.0 && std::isfinite(hz) ? hz : 0.0;
    if (isVisible()) {
        startTicking();
    }
}

double LayerView::frameRate() const {
    if (requestedRate_ > 0.0) {
        return requestedRate_;
    }
    const QScreen* s = screen();
    const double rate = s ? s->refreshRate() : 0.0;
    return rate >= 1.0 && std::isfinite(rate) ? rate : 60.0;
}

void LayerView::startTicking() {
    ticker_ = loop_.every(1.0 / frameRate(), [this] { update(); });
}

void LayerView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    startTicking();
}

void LayerView::hideEvent(QHideEvent* event) {
    ticker_.cancel();
    QWidget::hideEvent(event);
}

void LayerView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    const SizeF size{double(event->size().width()), double(event->size().height())};
    if (root_) {
        root_->setFrame({0.0, 0.0, size.width, size.height});
    }
    if (onLayout) {
        onLayout(size);
    }
}

void LayerView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (!root_) {
        painter.fillRect(rect(), Qt::black);
        return;
    }
    const qreal ratio = devicePixelRatioF();
    const QSize pixels(qRound(width() * ratio), qRound(height() * ratio));
    compositor_.render(*root_, loop_.now(), pixels, picture_);
    picture_.setDevicePixelRatio(ratio);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(rect(), Qt::black);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.drawImage(QPointF(0, 0), picture_);
}

}  // namespace kestio::platform
