#pragma once

#include <QImage>
#include <functional>

namespace kestio::platform::media {

// A picture step (colour correction) applied when a picture is composed for display: it takes
// the decoded picture and returns the picture to show, of the same size. It is pure and
// thread-safe: it may run on any thread (each output view composes on a thread of its own),
// at the same time on several, and must not touch main-thread state. A filter is immutable:
// new settings make a new filter (std::shared_ptr<const FrameFilter>), so the pointer
// identifies the settings version, and a picture once filtered is kept per filter.
using FrameFilter = std::function<QImage(const QImage& picture)>;

}  // namespace kestio::platform::media
