#include "platform/ui/layer_view.h"

#include <QPainter>
#include <QResizeEvent>
#include <QScreen>
#include <cmath>

#include "platform/runloop/qt_hand_over.h"

namespace kestio::platform {

LayerView::LayerView(RunLoop& loop, QWidget* parent)
    : QWidget(parent), publisher_(loop), presenter_(loop.hostClock()) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    presenter_.setSource(publisher_.slot(), shared_);
    presenter_.setFrameReady([this] {
        if (repaintAsked_.exchange(true)) {
            return;  // the last request has not been served yet
        }
        postToThreadOf(this, [this] {
            repaintAsked_ = false;
            update();
        });
    });
}

LayerView::~LayerView() {
    presenter_.stop();
}

void LayerView::setRootLayer(std::shared_ptr<Layer> root) {
    root_ = std::move(root);
    if (root_) {
        root_->setFrame({0.0, 0.0, double(width()), double(height())});
    }
    publisher_.setRoot(root_);
    update();
}

void LayerView::showPublishedTree(std::shared_ptr<const SnapshotSlot> slot,
                                  std::shared_ptr<SharedCompositions> shared) {
    if (slot) {
        presenter_.setSource(std::move(slot), std::move(shared));
    } else {
        presenter_.setSource(publisher_.slot(), shared_);
    }
    update();
}

void LayerView::setSharedCompositions(std::shared_ptr<SharedCompositions> shared) {
    shared_ = shared ? std::move(shared) : std::make_shared<SharedCompositions>();
    presenter_.setSource(publisher_.slot(), shared_);
}

void LayerView::setFrameRate(double hz) {
    requestedRate_ = hz > 0.0 && std::isfinite(hz) ? hz : 0.0;
    presenter_.setRefreshRate(frameRate());
}

double LayerView::frameRate() const {
    if (requestedRate_ > 0.0) {
        return requestedRate_;
    }
    const QScreen* s = screen();
    const double rate = s ? s->refreshRate() : 0.0;
    return rate >= 1.0 && std::isfinite(rate) ? rate : 60.0;
}

QSize LayerView::devicePixels() const {
    const qreal ratio = devicePixelRatioF();
    return {qRound(width() * ratio), qRound(height() * ratio)};
}

void LayerView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    presenter_.setSize(devicePixels());
    presenter_.setRefreshRate(frameRate());
    presenter_.start();
}

void LayerView::hideEvent(QHideEvent* event) {
    presenter_.stop();
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
    // The new size and the layout for it reach the presenter together.
    publisher_.publish();
    presenter_.setSize(devicePixels());
}

void LayerView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    const QImage picture = presenter_.newestFrame().image;
    if (picture.isNull()) {
        return;
    }
    // Drawn to a rectangle in logical pixels rather than by setting the picture's pixel ratio,
    // which would copy the presenter's buffer.
    const QSizeF logical = QSizeF(picture.size()) / devicePixelRatioF();
    painter.drawImage(QRectF(QPointF(0, 0), logical), picture);
}

}  // namespace kestio::platform
