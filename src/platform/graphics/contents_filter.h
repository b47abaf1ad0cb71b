#pragma once

#include <QImage>
#include <mutex>

#include "platform/graphics/frame_filter.h"

namespace kestio::platform {

// A picture step for a layer's still (its contents), applied where the still is composed, with
// the still it last made. One is made for each version of the step's settings, so the pointer
// names the version, and it is shared by every layer that shows the still through it (a mirror
// copies it with the still) and every compositor that draws those layers: a still is filtered
// once per still and version, on the first presenter thread that composes it, however many
// views show it; composed again, it is the very same image, so a presenter sees that nothing
// changed and shows its last picture again. Changing the settings makes a new filter, which
// costs its maker nothing but that.
class ContentsFilter {
  public:
    explicit ContentsFilter(FrameFilter step) : step_(std::move(step)) {}
    ContentsFilter(const ContentsFilter&) = delete;
    ContentsFilter& operator=(const ContentsFilter&) = delete;

    // `still` through the step: the image already made from the same still (by cacheKey) when
    // there is one, else made now; a caller at the same time waits for it rather than make it
    // again. A step that fails (throws, gives nothing or another size) shows the still as it
    // is. Any thread.
    QImage apply(const QImage& still) const;

  private:
    FrameFilter step_;
    mutable std::mutex mutex_;
    mutable qint64 stillKey_ = 0;
    mutable QImage made_;
};

}  // namespace kestio::platform
