#include "platform/graphics/bitmap_context.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace kestio::platform {

namespace {

std::uint32_t component(float v) {
    const float clamped = v > 0.0f ? std::min(v, 1.0f) : 0.0f;
    return static_cast<std::uint32_t>(std::lround(clamped * 255.0f));
}

// First pixel index whose centre is at or after `edge`, within [0, limit].
int firstCovered(double edge, int limit) {
    if (!(edge > -1.0)) {
        return 0;
    }
    if (edge > limit) {
        return limit;
    }
    return std::clamp(static_cast<int>(std::ceil(edge - 0.5)), 0, limit);
}

}  // namespace

BitmapContext::BitmapContext(int width, int height) {
    if (width <= 0 || height <= 0 || qint64(width) * height > kMaxPixels) {
        return;
    }
    image_ = QImage(width, height, QImage::Format_RGBA8888_Premultiplied);
    if (!image_.isNull()) {
        image_.fill(Qt::transparent);
    }
}

void BitmapContext::fillRect(const QRectF& rect, float red, float green, float blue, float alpha) {
    if (image_.isNull()) {
        return;
    }
    const QRectF r = rect.normalized();
    const int x0 = firstCovered(r.left(), image_.width());
    const int x1 = firstCovered(r.right(), image_.width());
    const int y0 = firstCovered(r.top(), image_.height());
    const int y1 = firstCovered(r.bottom(), image_.height());
    if (x1 <= x0 || y1 <= y0) {
        return;
    }
    const std::uint32_t a = component(alpha);
    auto premul = [a](std::uint32_t c) { return (c * a + 127) / 255; };
    const std::uint32_t pixel = premul(component(red)) | premul(component(green)) << 8 |
                                premul(component(blue)) << 16 | a << 24;
    for (int y = y0; y < y1; ++y) {
        auto* line = reinterpret_cast<std::uint32_t*>(image_.scanLine(y));
        std::fill(line + x0, line + x1, pixel);
    }
}

}  // namespace kestio::platform
