#pragma once

#include <cmath>

namespace kestio::platform {

struct SizeF {
    double width = 0.0;
    double height = 0.0;

    bool operator==(const SizeF&) const = default;
    bool isEmpty() const { return !(width > 0.0) || !(height > 0.0); }
};

// A rectangle in layer coordinates: origin at the lower-left, y upward. A negative width or
// height extends the rectangle to the left or downward; standardized() turns it into the
// same area with a positive size.
struct RectF {
    double x = 0.0;
    double y = 0.0;
    double width = 0.0;
    double height = 0.0;

    bool operator==(const RectF&) const = default;
    SizeF size() const { return {width, height}; }
    bool isFinite() const {
        return std::isfinite(x) && std::isfinite(y) && std::isfinite(width) &&
               std::isfinite(height);
    }
    RectF standardized() const {
        RectF r = *this;
        if (r.width < 0.0) {
            r.x += r.width;
            r.width = -r.width;
        }
        if (r.height < 0.0) {
            r.y += r.height;
            r.height = -r.height;
        }
        return r;
    }
};

}  // namespace kestio::platform
