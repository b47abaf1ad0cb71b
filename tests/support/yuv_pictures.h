#pragma once

#include <QSize>
#include <cstdint>
#include <functional>

#include "platform/graphics/yuv_picture.h"

namespace kestio::test {

// A 4:2:0 picture of `size` that owns its planes, each sample given by `sample(plane, x, y)`
// (plane 0 is Y', 1 Cb, 2 Cr; chroma coordinates are the chroma plane's own). Rows are padded
// past the picture's width, as a decoder's are.
platform::YuvPicture yuvPicture(QSize size,
                                const std::function<std::uint8_t(int plane, int x, int y)>& sample,
                                bool fullRange = false);

// A studio-range picture of smooth random colour (seeded), with every level of each plane
// within reach: the kind of picture a camera gives.
platform::YuvPicture smoothYuvPicture(QSize size, unsigned seed);

}  // namespace kestio::test
