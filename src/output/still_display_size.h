#pragma once

#include <QSize>

#include "model/settings_records.h"
#include "platform/graphics/geometry.h"

namespace kestio::output {

// The box, in output pixels, a still is drawn into on a canvas of `canvas` with `geometry`: the
// canvas when fitted to the window, the scaled frame of a custom geometry, and nothing (not
// valid: the picture's own size) at its original size. A still decoded to fit this box loses
// nothing the output would show.
QSize stillDisplaySize(const GeometrySettings& geometry, platform::SizeF canvas);

// The size a still of `ownSize` pixels is decoded at to be drawn into a box of `shownAt` (not
// valid: at its own size): fitted into the box, keeping its shape, never above its own size.
QSize stillSizeNeeded(QSize ownSize, QSize shownAt);

}  // namespace kestio::output
