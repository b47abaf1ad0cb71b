#include "platform/ui/layer_presentation.h"

#include <QScreen>
#include <cmath>

namespace kestio::platform {

LayerPresentation::LayerPresentation(RunLoop& loop)
    : publisher_(loop), presenter_(loop.hostClock()) {
    presenter_.setSource(publisher_.slot(), shared_);
}

void LayerPresentation::setRootLayer(std::shared_ptr<Layer> root, SizeF viewSize) {
    root_ = std::move(root);
    if (root_) {
        root_->setFrame({0.0, 0.0, viewSize.width, viewSize.height});
    }
    publisher_.setRoot(root_);
}

void LayerPresentation::showOwnTree() {
    presenter_.setSource(publisher_.slot(), shared_);
}

void LayerPresentation::setSharedCompositions(std::shared_ptr<SharedCompositions> shared) {
    shared_ = shared ? std::move(shared) : std::make_shared<SharedCompositions>();
    presenter_.setSource(publisher_.slot(), shared_);
}

void LayerPresentation::setFrameRate(double hz, const QScreen* screen) {
    requestedRate_ = hz > 0.0 && std::isfinite(hz) ? hz : 0.0;
    presenter_.setRefreshRate(frameRate(screen));
}

double LayerPresentation::frameRate(const QScreen* screen) const {
    if (requestedRate_ > 0.0) {
        return requestedRate_;
    }
    const double rate = screen ? screen->refreshRate() : 0.0;
    return rate >= 1.0 && std::isfinite(rate) ? rate : 60.0;
}

void LayerPresentation::resize(SizeF size, QSize pixels, const std::function<void(SizeF)>& layout) {
    if (root_) {
        root_->setFrame({0.0, 0.0, size.width, size.height});
    }
    if (layout) {
        layout(size);
    }
    // The new size and the layout for it reach the presenter together.
    publisher_.publish();
    presenter_.setSize(pixels);
}

void LayerPresentation::start(QSize pixels, const QScreen* screen) {
    presenter_.setSize(pixels);
    presenter_.setRefreshRate(frameRate(screen));
    presenter_.start();
}

QSize devicePixels(QSize size, double ratio) {
    return {qRound(size.width() * ratio), qRound(size.height() * ratio)};
}

}  // namespace kestio::platform
