#pragma once

#include <QImage>
#include <QSize>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/graphics/layer.h"
#include "platform/graphics/layer_snapshot.h"
#include "platform/graphics/picture.h"
#include "platform/graphics/worker_pool.h"

namespace kestio::platform {

// Renders a layer tree on the CPU into an image, as it looks at a given time of the run
// loop's clock (presentation opacities, the frame sources' pictures for that time). It draws
// from an immutable snapshot of the tree, so it may run on any thread; rendering a Layer takes
// its snapshot first (on the layer's thread).
//
// The root layer's bounds fill the whole image (scaled when the sizes differ) with the
// lower-left of the bounds at the image's bottom-left corner. Each layer draws, beneath its
// sublayers: its background colour, its contents (through its contents filter, with the contents
// gravity) and its frame source's picture (with the video gravity); a layer's opacity multiplies
// into its sublayers; hidden layers and layers at opacity 0 draw nothing. Edges fall on pixel
// boundaries by the pixel-centre rule: a pixel belongs to a rectangle when its centre lies inside
// it, so letterbox bars are exact. Areas nothing draws on stay transparent.
//
// Rendering is two steps: compose() works out what to draw (a Composition, cheap), draw() fills
// the pixels. The image is drawn in horizontal bands spread over the worker pool. Stills scaled for
// a layer are kept between renders while in use, so a still on air is scaled once. A picture is
// scaled once, as it is drawn at the image's size: bilinearly when it shrinks to no less than
// half, with the box filter of picture_downscale.h when it shrinks further (a small view of a
// large frame), so a small view never composes at the picture's size. A picture kept as decoded
// (YuvPicture) is converted to RGB in the same pass: where it is drawn opaque and pixel for
// pixel, each band converts its own rows straight into the image; a small view averages its
// planes; other draws convert it whole first. One compositor
// renders on one thread at a time; several compositors may share one pool. Everything one render
// draws, worked out before any pixel is touched: the fills and pictures in drawing order, each
// already placed, cut to what is visible and given its opacity. Two renders with the same drawing
// give the same pixels, which is how a presenter knows it can show its last picture again.
struct Composition {
    struct DrawOp {
        QRect target;  // device pixels
        float opacity = 1.0f;
        QColor fill;    // used when image is null
        Picture image;  // its `source` part drawn into target, scaled when the sizes differ
        QRectF source;  // in image pixels
    };

    QSize size;
    std::vector<DrawOp> ops;
    // The frame sources' pictures it shows, in drawing order.
    std::vector<PictureName> pictures;
    // A still is shown as it was before its contents filter changed, while the new filter's
    // picture is being made (ContentsFilter::apply()): composing again soon shows that picture.
    bool provisional = false;

    // Same size and the same operations on the same pictures (by Picture::key()).
    bool drawsTheSameAs(const Composition& other) const;
    // The topmost op that hides everything beneath it in `area` (a fill of an opaque colour, or
    // a picture without an alpha channel, at full opacity over all of `area`); none when no op
    // does. Drawing `area` starts at that op, without clearing it first: over a program's black
    // background, the clearing is left out, and under an opaque picture the black too.
    std::optional<std::size_t> coveringOp(QRect area) const;
};

// How many horizontal bands a picture `height` rows tall is drawn in by `threads` threads:
// several for each thread, so that a thread held up by other work (a decoder's, another
// program's) delays only a small part of the picture while the others take the rest; none
// under 64 rows, so that setting up a band stays cheap beside drawing it.
int drawingBands(int height, int threads);

class Compositor {
  public:
    explicit Compositor(WorkerPool& pool = WorkerPool::shared());

    QImage render(const Layer& root, HostTime time, QSize size);
    // Renders into `target`, reusing its memory when it already has the size and format
    // (Format_ARGB32_Premultiplied).
    void render(const Layer& root, HostTime time, QSize size, QImage& target);
    void render(const LayerSnapshot& root, HostTime time, QSize size, QImage& target);

    // The two steps of a render: what the tree at `time` draws (the frame sources are asked for
    // their pictures here), then drawing it.
    Composition compose(const LayerSnapshot& root, HostTime time, QSize size);
    void draw(const Composition& composition, QImage& target);

  private:
    using DrawOp = Composition::DrawOp;
    void addPicture(const Picture& picture, QRect target, QRect clip, float opacity, bool cache,
                    std::vector<DrawOp>& ops);
    struct ScaledStill {
        qint64 key = 0;
        QSize size;
        QImage image;
        bool used = false;
    };
    struct Mapping;

    void collect(const LayerSnapshot& layer, const Mapping& map, double x, double y,
                 float parentOpacity, QRect clip, HostTime time, Composition& out);
    QImage preparedStill(const QImage& still, QSize size);

    WorkerPool& pool_;
    std::vector<ScaledStill> stills_;
};

}  // namespace kestio::platform
