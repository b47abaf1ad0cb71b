#pragma once

#include <QImage>

#include "platform/runloop/time_types.h"

namespace kestio::platform {

// Something that shows moving pictures: a layer asks it for the picture to show at a host time
// (the run loop's clock). A null image means "nothing to show yet".
//
// frameAt() is called from presenter threads, for the display refresh being composed, at the
// same time as the main thread and other presenters use the source: it must be thread-safe,
// and it should answer quickly (hand out a picture already decoded, never wait for one).
//
// A picture's identity is its QImage::cacheKey(): a source hands out the very same image (a
// shared copy of it) for as long as its picture does not change, and a new image when it does.
// That is how a presenter tells that nothing changed since its last refresh and shows its last
// picture again instead of composing it anew.
class FrameSource {
  public:
    virtual ~FrameSource() = default;
    virtual QImage frameAt(HostTime hostTime) const = 0;
};

// Names one picture composed into a refresh: the source that gave it and which of its pictures
// it was (the picture's cacheKey()). The source is named for comparison only, never used.
struct PictureName {
    const FrameSource* source = nullptr;
    qint64 picture = 0;

    friend bool operator==(const PictureName&, const PictureName&) = default;
};

}  // namespace kestio::platform
