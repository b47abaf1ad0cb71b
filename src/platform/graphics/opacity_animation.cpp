#include "platform/graphics/opacity_animation.h"

namespace kestio::platform {

float OpacityAnimation::valueAt(double elapsed) const {
    if (elapsed < 0.0) {
        return from;
    }
    if (runsInstantly() || elapsed >= duration) {
        return to;
    }
    const double progress = timing.valueAt(elapsed / duration);
    return static_cast<float>(from + (static_cast<double>(to) - from) * progress);
}

bool OpacityAnimation::hasEnded(double elapsed) const {
    return elapsed >= (runsInstantly() ? 0.0 : duration);
}

float presentedOpacity(float model, const OpacityAnimation* latest, HostTime beginTime,
                       HostTime time) {
    return latest ? latest->valueAt(time - beginTime) : model;
}

}  // namespace kestio::platform
