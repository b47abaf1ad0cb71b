#include "platform/graphics/compositor.h"

#include <QPainter>
#include <algorithm>
#include <cmath>

#include "platform/graphics/picture_downscale.h"
#include "platform/graphics/yuv_picture.h"

namespace kestio::platform {

namespace {

constexpr double kCoordinateLimit = 1 << 24;  // far outside any image, safe to round to int

// First pixel whose centre lies at or after `edge`.
int snap(double edge) {
    const double clamped = std::clamp(edge, -kCoordinateLimit, kCoordinateLimit);
    return static_cast<int>(std::ceil(clamped - 0.5));
}

bool isFastFormat(QImage::Format f) {
    return f == QImage::Format_RGB32 || f == QImage::Format_ARGB32_Premultiplied;
}

constexpr int kBandsPerThread = 4;
constexpr int kMinBandRows = 64;

// True when `op` draws its whole picture at the picture's own size.
bool isPixelForPixel(const Composition::DrawOp& op) {
    return op.image.size() == op.target.size() &&
           op.source == QRectF(QPointF(0, 0), QSizeF(op.image.size()));
}

// True when nothing beneath `op` shows through it anywhere in `area`.
bool hidesBeneath(const Composition::DrawOp& op, QRect area) {
    if (op.opacity < 1.0f || !op.target.contains(area)) {
        return false;
    }
    if (op.image.isNull()) {
        return op.fill.isValid() && op.fill.alpha() == 255;
    }
    return !op.image.hasAlphaChannel();
}

}  // namespace

// Root-layer coordinates (y upward) to device pixels (y downward).
struct Compositor::Mapping {
    double sx = 1.0;
    double sy = 1.0;
    double rootHeight = 0.0;

    QRect toDevice(double x, double y, double w, double h) const {
        const int left = snap(x * sx);
        const int right = snap((x + w) * sx);
        const int top = snap((rootHeight - (y + h)) * sy);
        const int bottom = snap((rootHeight - y) * sy);
        if (right <= left || bottom <= top) {
            return {};
        }
        return QRect(QPoint(left, top), QPoint(right - 1, bottom - 1));
    }
};

Compositor::Compositor(WorkerPool& pool) : pool_(pool) {}

QImage Compositor::render(const Layer& root, HostTime time, QSize size) {
    QImage image;
    render(root, time, size, image);
    return image;
}

QImage Compositor::preparedStill(const QImage& still, QSize size) {
    const qint64 key = still.cacheKey();
    for (auto& entry : stills_) {
        if (entry.key == key && entry.size == size) {
            entry.used = true;
            return entry.image;
        }
    }
    QImage prepared = still;
    if (!isFastFormat(prepared.format())) {
        prepared = prepared.convertToFormat(prepared.hasAlphaChannel()
                                                ? QImage::Format_ARGB32_Premultiplied
                                                : QImage::Format_RGB32);
    }
    if (prepared.size() != size && needsDownscale(QSizeF(prepared.size()), size)) {
        // Halved or more (a large photo in a view): boxes averaged over the pool's threads,
        // rather than on this thread alone, opaque as it was.
        const bool opaque = !prepared.hasAlphaChannel();
        prepared =
            downscaled(prepared, QRectF(QPointF(0, 0), QSizeF(prepared.size())), size, pool_);
        if (opaque) {
            prepared.reinterpretAsFormat(QImage::Format_RGB32);
        }
    } else if (prepared.size() != size) {
        prepared = prepared.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    stills_.push_back({key, size, prepared, true});
    return prepared;
}

void Compositor::addPicture(const Picture& picture, QRect target, QRect clip, float opacity,
                            bool cache, std::vector<DrawOp>& ops) {
    const QRect visible = target.intersected(clip);
    if (visible.isEmpty()) {
        return;
    }
    if (visible == target) {
        // Wholly visible: a still is scaled once and kept; a frame is scaled while drawn.
        Picture image = cache ? Picture(preparedStill(picture.image(), target.size())) : picture;
        const QRectF source(QPointF(0, 0), QSizeF(image.size()));
        ops.push_back({target, opacity, {}, std::move(image), source});
        return;
    }
    // Partly visible: draw only the part of the picture that lands inside the clip.
    const double sx = picture.width() / double(target.width());
    const double sy = picture.height() / double(target.height());
    const QRectF source((visible.x() - target.x()) * sx, (visible.y() - target.y()) * sy,
                        visible.width() * sx, visible.height() * sy);
    ops.push_back({visible, opacity, {}, picture, source});
}

void Compositor::collect(const LayerSnapshot& layer, const Mapping& map, double x, double y,
                         float parentOpacity, QRect clip, HostTime time, Composition& out) {
    std::vector<DrawOp>& ops = out.ops;
    if (layer.hidden) {
        return;
    }
    float own = layer.presentationOpacity(time);
    own = own > 0.0f ? std::min(own, 1.0f) : 0.0f;  // NaN counts as 0
    const float opacity = parentOpacity * own;
    if (!(opacity > 0.0f)) {
        return;
    }
    const RectF bounds = layer.bounds();
    if (!bounds.isFinite() || !std::isfinite(x) || !std::isfinite(y)) {
        return;
    }
    const RectF area{x, y, bounds.width, bounds.height};
    const QRect device = map.toDevice(x, y, bounds.width, bounds.height);

    if (const auto& color = layer.background; color && color->alpha() > 0) {
        if (const QRect visible = device.intersected(clip); !visible.isEmpty()) {
            ops.push_back({visible, opacity, *color, {}, {}});
        }
    }
    if (!layer.contents.isNull()) {
        // A filtered still is made once per still and filter and then the same image, so the
        // scaled copy below is kept as for any still.
        bool provisional = false;
        const QImage still = layer.contentsFilter
                                 ? layer.contentsFilter->apply(layer.contents, &provisional)
                                 : layer.contents;
        out.provisional = out.provisional || provisional;
        const RectF placed = placeContent(layer.contentsGravity,
                                          {double(still.width()), double(still.height())}, area);
        addPicture(still, map.toDevice(placed.x, placed.y, placed.width, placed.height), clip,
                   opacity, true, ops);
    }
    if (const auto& source = layer.frameSource) {
        const Picture frame = source->pictureAt(time);
        if (!frame.isNull()) {
            const RectF placed = placeContent(
                layer.videoGravity, {double(frame.width()), double(frame.height())}, area);
            const std::size_t before = ops.size();
            addPicture(frame, map.toDevice(placed.x, placed.y, placed.width, placed.height), clip,
                       opacity, false, ops);
            if (ops.size() > before) {
                out.pictures.push_back({source.get(), frame.key()});
            }
        }
    }

    const QRect childClip = layer.masksToBounds ? clip.intersected(device) : clip;
    if (childClip.isEmpty()) {
        return;
    }
    for (const auto& sub : layer.sublayers) {  // already in z order
        const RectF f = sub->frame.standardized();
        collect(*sub, map, x + f.x, y + f.y, opacity, childClip, time, out);
    }
}

void Compositor::render(const Layer& root, HostTime time, QSize size, QImage& target) {
    render(*root.snapshot(), time, size, target);
}

void Compositor::render(const LayerSnapshot& root, HostTime time, QSize size, QImage& target) {
    draw(compose(root, time, size), target);
}

bool Composition::drawsTheSameAs(const Composition& other) const {
    const auto sameOp = [](const DrawOp& a, const DrawOp& b) {
        return a.target == b.target && a.opacity == b.opacity && a.fill == b.fill &&
               a.image.key() == b.image.key() && a.source == b.source;
    };
    return size == other.size &&
           std::equal(ops.begin(), ops.end(), other.ops.begin(), other.ops.end(), sameOp);
}

std::optional<std::size_t> Composition::coveringOp(QRect area) const {
    for (std::size_t i = ops.size(); i-- > 0;) {
        if (hidesBeneath(ops[i], area)) {
            return i;
        }
    }
    return std::nullopt;
}

int drawingBands(int height, int threads) {
    return std::clamp(height / kMinBandRows, 1, kBandsPerThread * std::max(threads, 1));
}

Composition Compositor::compose(const LayerSnapshot& root, HostTime time, QSize size) {
    Composition out;
    out.size = size;
    if (size.isEmpty()) {
        return out;
    }
    // Keep the still cache to what this render uses.
    for (auto& entry : stills_) {
        entry.used = false;
    }

    Mapping map;
    const RectF rootBounds = root.bounds();
    const bool usable = rootBounds.isFinite() && !rootBounds.size().isEmpty();
    const double rootW = usable ? rootBounds.width : size.width();
    const double rootH = usable ? rootBounds.height : size.height();
    map.sx = size.width() / rootW;
    map.sy = size.height() / rootH;
    map.rootHeight = rootH;

    const QRect whole(QPoint(0, 0), size);
    const QRect rootClip =
        root.masksToBounds ? whole.intersected(map.toDevice(0, 0, rootW, rootH)) : whole;
    collect(root, map, 0.0, 0.0, 1.0f, rootClip, time, out);
    std::erase_if(stills_, [](const ScaledStill& s) { return !s.used; });
    return out;
}

void Compositor::draw(const Composition& composition, QImage& target) {
    const QSize size = composition.size;
    if (size.isEmpty()) {
        target = QImage();
        return;
    }
    if (target.size() != size || target.format() != QImage::Format_ARGB32_Premultiplied) {
        target = QImage(size, QImage::Format_ARGB32_Premultiplied);
        if (target.isNull()) {
            return;
        }
    }
    // Pictures shrunk to half or less are shrunk first, with a filter that suits the ratio, and
    // then drawn pixel for pixel; the rest are filtered bilinearly as they are drawn. A picture
    // kept as decoded is converted where it lands when it is drawn pixel for pixel and opaque
    // (the program's own picture, on air), each band converting its own rows; otherwise it is
    // converted whole first and drawn as an image.
    const std::vector<DrawOp>& ops = composition.ops;
    std::vector<QImage> shrunk(ops.size());
    std::vector<QImage> converted(ops.size());
    for (std::size_t i = 0; i < ops.size(); ++i) {
        const DrawOp& op = ops[i];
        if (op.image.isNull()) {
            continue;
        }
        const YuvPicture* yuv = op.image.yuv();
        if (needsDownscale(op.source.size(), op.target.size())) {
            shrunk[i] = yuv ? downscaledYuv(*yuv, op.source, op.target.size(), pool_)
                            : downscaled(op.image.image(), op.source, op.target.size(), pool_);
        } else if (yuv && !(isPixelForPixel(op) && op.opacity >= 1.0f)) {
            converted[i] = convertedYuv(*yuv, pool_);
        }
    }
    const int height = size.height();
    const int bands = drawingBands(height, pool_.concurrency());
    uchar* bits = target.bits();
    const qsizetype stride = target.bytesPerLine();
    pool_.parallelFor(bands, [&](int band) {
        const int top = static_cast<int>(static_cast<qint64>(height) * band / bands);
        const int bottom = static_cast<int>(static_cast<qint64>(height) * (band + 1) / bands);
        QImage strip(bits + top * stride, size.width(), bottom - top, stride,
                     QImage::Format_ARGB32_Premultiplied);
        const auto cover = composition.coveringOp(QRect(0, top, size.width(), bottom - top));
        if (!cover) {
            strip.fill(Qt::transparent);
        }
        const std::size_t first = cover.value_or(0);
        QPainter painter(&strip);
        painter.translate(0, -top);
        painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
        for (std::size_t i = first; i < ops.size(); ++i) {
            const DrawOp& op = ops[i];
            if (op.target.bottom() < top || op.target.top() >= bottom) {
                continue;
            }
            painter.setOpacity(op.opacity);
            const YuvPicture* yuv = op.image.yuv();
            if (!shrunk[i].isNull()) {
                painter.drawImage(op.target.topLeft(), shrunk[i]);
            } else if (op.image.isNull()) {
                painter.fillRect(op.target, op.fill);
            } else if (yuv != nullptr && converted[i].isNull()) {
                // Opaque and pixel for pixel: this band's rows of it, converted in place (the
                // raster painter has drawn everything before it already).
                const int from = std::max(op.target.top(), top);
                const int to = std::min(op.target.bottom() + 1, bottom);
                convertYuvRows(*yuv, from - op.target.top(), to - from,
                               bits + from * stride + qsizetype(op.target.left()) * 4, stride);
            } else {
                const QImage& image = yuv != nullptr ? converted[i] : op.image.image();
                if (isPixelForPixel(op)) {
                    painter.drawImage(op.target.topLeft(), image);
                } else {
                    painter.drawImage(QRectF(op.target), image, op.source);
                }
            }
        }
    });
}

}  // namespace kestio::platform
