#include "platform/graphics/gravity.h"

#include <algorithm>

namespace kestio::platform {

RectF placeContent(Gravity gravity, SizeF content, RectF bounds) {
    bounds = bounds.standardized();
    if (gravity == Gravity::Resize) {
        return bounds;
    }
    const double cx = bounds.x + bounds.width * 0.5;
    const double cy = bounds.y + bounds.height * 0.5;
    if (content.isEmpty()) {
        return {cx, cy, 0.0, 0.0};
    }
    const double scale = std::min(bounds.width / content.width, bounds.height / content.height);
    const double w = content.width * scale;
    const double h = content.height * scale;
    return {cx - w * 0.5, cy - h * 0.5, w, h};
}

}  // namespace kestio::platform
