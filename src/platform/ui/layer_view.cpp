#include "platform/ui/layer_view.h"

#include <QPainter>
#include <QResizeEvent>
#include <QScreen>

#include "platform/runloop/qt_hand_over.h"

namespace kestio::platform {

LayerView::LayerView(RunLoop& loop, QWidget* parent) : QWidget(parent), presentation_(loop) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    presentation_.presenter().setFrameReady([this] {
        // A refresh that shows the last picture again leaves the screen as it is.
        const qint64 picture = presentation_.presenter().newestFrame().image.cacheKey();
        if (lastPicture_.exchange(picture) == picture) {
            return;
        }
        if (repaintAsked_.exchange(true)) {
            return;  // the last request has not been served yet; it paints the newest picture
        }
        postToThreadOf(this, [this] {
            repaintAsked_ = false;
            update();
        });
    });
}

LayerView::~LayerView() {
    presentation_.presenter().stop();
}

void LayerView::setRootLayer(std::shared_ptr<Layer> root) {
    presentation_.setRootLayer(std::move(root), {double(width()), double(height())});
    update();
}

void LayerView::showPublishedTree(std::shared_ptr<const SnapshotSlot> slot,
                                  std::shared_ptr<SharedCompositions> shared) {
    if (slot) {
        presentation_.presenter().setSource(std::move(slot), std::move(shared));
    } else {
        presentation_.showOwnTree();
    }
    update();
}

void LayerView::setSharedCompositions(std::shared_ptr<SharedCompositions> shared) {
    presentation_.setSharedCompositions(std::move(shared));
}

void LayerView::setFrameRate(double hz) {
    presentation_.setFrameRate(hz, screen());
}

double LayerView::frameRate() const {
    return presentation_.frameRate(screen());
}

QSize LayerView::devicePixels() const {
    return platform::devicePixels(size(), devicePixelRatioF());
}

void LayerView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    presentation_.start(devicePixels(), screen());
}

void LayerView::hideEvent(QHideEvent* event) {
    presentation_.presenter().stop();
    QWidget::hideEvent(event);
}

void LayerView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    const SizeF size{double(event->size().width()), double(event->size().height())};
    presentation_.resize(size, devicePixels(), onLayout);
}

void LayerView::afterNextPicture(std::function<void()> then) {
    if (!isVisible()) {
        then();
        return;
    }
    afterPicture_ = {presentation_.presenter().compositionsBegun() + 1, std::move(then)};
}

void LayerView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    const PresentedFrame frame = presentation_.presenter().newestFrame();
    if (frame.image.isNull()) {
        return;
    }
    // Drawn to a rectangle in logical pixels rather than by setting the picture's pixel ratio,
    // which would copy the presenter's buffer.
    const QSizeF logical = QSizeF(frame.image.size()) / devicePixelRatioF();
    painter.drawImage(QRectF(QPointF(0, 0), logical), frame.image);
    if (afterPicture_.second && afterPicture_.first <= frame.composition) {
        const auto then = std::exchange(afterPicture_.second, nullptr);
        then();
    }
}

}  // namespace kestio::platform
