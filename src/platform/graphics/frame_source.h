#pragma once

#include <QImage>

#include "platform/graphics/picture.h"
#include "platform/runloop/time_types.h"

namespace kestio::platform {

// Something that shows moving pictures: a layer asks it for the picture to show at a host time
// (the run loop's clock). A null image means "nothing to show yet".
//
// frameAt() is called from presenter threads, for the display refresh being composed, at the
// same time as the main thread and other presenters use the source: it must be thread-safe,
// and it should answer quickly (hand out a picture already decoded, never wait for one).
//
// A picture's identity is its Picture::key() (an image's QImage::cacheKey()): a source hands out
// the very same picture (a shared copy of it) for as long as its picture does not change, and a
// new one when it does. That is how a presenter tells that nothing changed since its last
// refresh and shows its last picture again instead of composing it anew.
class FrameSource {
  public:
    virtual ~FrameSource() = default;
    // The picture as an image.
    virtual QImage frameAt(HostTime hostTime) const = 0;
    // The picture as the compositor takes it: a source whose pictures are kept as decoded hands
    // them out so, to be converted where they are drawn. By default, frameAt()'s image.
    virtual Picture pictureAt(HostTime hostTime) const { return frameAt(hostTime); }
};

// Names one picture composed into a refresh: the source that gave it and which of its pictures
// it was (the picture's key()). The source is named for comparison only, never used.
struct PictureName {
    const FrameSource* source = nullptr;
    qint64 picture = 0;

    friend bool operator==(const PictureName&, const PictureName&) = default;
};

}  // namespace kestio::platform
