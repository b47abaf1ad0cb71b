#include "platform/graphics/layer_snapshot.h"

#include <algorithm>
#include <cmath>

#include "platform/graphics/layer.h"

namespace kestio::platform {

RectF LayerSnapshot::bounds() const {
    return {0.0, 0.0, std::fabs(frame.width), std::fabs(frame.height)};
}

float LayerSnapshot::presentationOpacity(HostTime time) const {
    if (!animation) {
        return presentedOpacity(opacity, nullptr, HostTime(), time);
    }
    return presentedOpacity(opacity, &animation->animation, animation->beginTime, time);
}

bool LayerSnapshot::movesAfter(HostTime time) const {
    if (hidden) {
        return false;
    }
    if (animation && !animation->animation.hasEnded(time - animation->beginTime)) {
        return true;
    }
    if (!(presentationOpacity(time) > 0.0f)) {
        return false;  // not drawn, and stays so without an animation
    }
    if (frameSource) {
        return true;
    }
    return std::any_of(sublayers.begin(), sublayers.end(),
                       [time](const auto& sublayer) { return sublayer->movesAfter(time); });
}

SnapshotPublisher::SnapshotPublisher(RunLoop& loop) : loop_(loop) {}

SnapshotPublisher::~SnapshotPublisher() {
    *alive_ = false;
}

void SnapshotPublisher::setRoot(std::shared_ptr<Layer> root) {
    treeObserver_.reset();
    root_ = std::move(root);
    if (root_) {
        treeObserver_ = root_->observeTree([this] {
            if (pending_) {
                return;
            }
            pending_ = true;
            loop_.post([this, alive = alive_] {
                if (*alive) {
                    publish();
                }
            });
        });
    }
    pending_ = true;
    publish();
}

void SnapshotPublisher::publish() {
    if (!pending_) {
        return;
    }
    pending_ = false;
    slot_->store(root_ ? root_->snapshot() : nullptr);
}

}  // namespace kestio::platform
