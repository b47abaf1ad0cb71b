#pragma once

#include "platform/graphics/geometry.h"

namespace kestio::platform {

// How a picture is placed in a layer's bounds.
enum class Gravity {
    Resize,        // stretched to fill the bounds
    ResizeAspect,  // the whole picture, as large as fits, centred (bars around it)
};

// The rectangle the picture of size `content` occupies inside `bounds`. An empty content
// size gives an empty rectangle at the centre of the bounds.
RectF placeContent(Gravity gravity, SizeF content, RectF bounds);

}  // namespace kestio::platform
