#pragma once

#include <QImage>
#include <array>
#include <vector>

#include "platform/graphics/color_filters.h"
#include "platform/graphics/worker_pool.h"

namespace kestio::platform {

// A sequence of colour filters applied to whole pictures. The picture is decoded to the
// working space (color_space.h), run through the filters in order without clamping
// between them, clamped to [0, 1] and encoded back; alpha is kept (colour is filtered
// unpremultiplied). Rows are spread over a worker pool. The result matches the per-colour
// functions of color_filters.h to within one 8-bit step.
//
// An identity chain (no filter, or only neutral ones) returns the very same image: same
// data, no copy, nothing run.
class ColorFilterChain {
  public:
    ColorFilterChain() = default;
    explicit ColorFilterChain(std::vector<ColorFilter> filters);

    const std::vector<ColorFilter>& filters() const { return filters_; }
    bool isIdentity() const { return stages_.empty(); }

    // Filters a picture. Images in Format_RGB32, ARGB32, ARGB32_Premultiplied, RGBX8888,
    // RGBA8888 and RGBA8888_Premultiplied keep their format; any other is converted to
    // ARGB32_Premultiplied (RGB32 without alpha) first. A null image is returned as is.
    QImage apply(const QImage& image, WorkerPool& pool = WorkerPool::shared()) const;

    // One linear-light colour, through the same compiled steps as pictures (unclamped).
    Rgb apply(Rgb linear) const;

    // Consecutive affine filters are folded into one matrix; gamma stands alone.
    struct Stage {
        bool isPower = false;
        float power = 1.0f;
        std::array<float, 12> m{};  // rows of [r g b offset]
    };
    // The compiled steps, in order (empty for an identity chain).
    const std::vector<Stage>& stages() const { return stages_; }

  private:
    std::vector<ColorFilter> filters_;
    std::vector<Stage> stages_;
};

}  // namespace kestio::platform
