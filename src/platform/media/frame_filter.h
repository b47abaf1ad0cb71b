#pragma once

#include <QImage>
#include <functional>

namespace kestio::platform::media {

// A per-frame picture step (colour correction), run on the decode thread on every picture
// before it is queued for display. It changes the picture in place and must keep its size.
// It must not touch main-thread state: read settings through a value handed over safely.
using FrameFilter = std::function<void(QImage& frame)>;

}  // namespace kestio::platform::media
