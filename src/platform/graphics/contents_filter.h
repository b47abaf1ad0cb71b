#pragma once

#include <QImage>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/graphics/frame_filter.h"

namespace kestio::platform {

// A picture step for a layer's still (its contents), applied where the still is composed, with
// the still it last made. One is made for each version of the step's settings, so the pointer
// names the version, and it is shared by every layer that shows the still through it (a mirror
// copies it with the still) and every compositor that draws those layers: a still is filtered
// once per still and version, however many views show it; composed again, it is the very same
// image, so a presenter sees that nothing changed and shows its last picture again. Changing
// the settings makes a new filter, which costs its maker nothing but that.
//
// A filter that follows another one on a layer (a slider moved on a still on air) makes its
// picture in the background when the one before it has a picture of that still: until it is
// ready, composing shows that picture (and says so, see apply()), so a large still costs the
// composing thread no refresh. The first picture of a still is made where it is first composed,
// so that the still is never shown uncorrected.
class ContentsFilter : public std::enable_shared_from_this<ContentsFilter> {
  public:
    // Runs a job on another thread; the job may run after its filter is gone.
    using Runner = std::function<void(std::function<void()>)>;

    explicit ContentsFilter(FrameFilter step) : step_(std::move(step)) {}
    // A filter that takes over from `before` on a layer, making its pictures with `runner`,
    // which runs every job it is given.
    ContentsFilter(FrameFilter step, std::shared_ptr<const ContentsFilter> before, Runner runner);
    // Stands for a layer that shows `still` as it is, for a filter that takes over from it.
    static std::shared_ptr<const ContentsFilter> asIs(const QImage& still);
    ContentsFilter(const ContentsFilter&) = delete;
    ContentsFilter& operator=(const ContentsFilter&) = delete;

    // `still` through the step: the image already made from the same still (by cacheKey) when
    // there is one, else made now; a caller at the same time waits for it rather than make it
    // again. A step that fails (throws, gives nothing or another size) shows the still as it
    // is. Any thread. A filter that follows another one (see above) gives, while its own picture
    // is being made, the picture the one before it showed, and sets `provisional`: whoever
    // composed it composes again a moment later.
    QImage apply(const QImage& still, bool* provisional = nullptr) const;

  private:
    // The picture this filter shows of `still` now without making one (null: none yet).
    QImage showing(qint64 stillKey) const;
    QImage make(const QImage& still) const;
    void prepare(const QImage& still) const;

    FrameFilter step_;
    Runner runner_;
    mutable std::mutex mutex_;
    mutable qint64 stillKey_ = 0;
    mutable QImage made_;
    // Until its first still: the filter it follows; then what that filter showed of the still,
    // shown until this filter's own picture is made.
    mutable std::shared_ptr<const ContentsFilter> before_;
    mutable qint64 meanwhileKey_ = 0;
    mutable QImage meanwhile_;
    mutable bool preparing_ = false;
};

}  // namespace kestio::platform
