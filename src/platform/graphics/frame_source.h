#pragma once

#include <QImage>

namespace kestio::platform {

// Something that shows moving pictures: a layer asks it for the picture to show at a time of
// the run-loop clock (the host's monotonic clock, in seconds). A null image means "nothing to
// show yet".
//
// frameAt() is called from presenter threads, for the display refresh being composed, at the
// same time as the main thread and other presenters use the source: it must be thread-safe,
// and it should answer quickly (hand out a picture already decoded, never wait for one).
class FrameSource {
  public:
    virtual ~FrameSource() = default;
    virtual QImage frameAt(double runLoopTime) const = 0;
};

}  // namespace kestio::platform
