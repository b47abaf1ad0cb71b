#pragma once

#include <QImage>
#include <concepts>
#include <functional>
#include <type_traits>

#include "platform/graphics/picture.h"

namespace kestio::platform {

// A picture step (colour correction) applied when a picture is composed for display: it takes
// the decoded picture and returns the picture to show, of the same size. It is pure and
// thread-safe: it may run on any thread (each output view composes on a thread of its own),
// at the same time on several, and must not touch main-thread state. A filter is immutable:
// new settings make a new filter (std::shared_ptr<const FrameFilter>), so the pointer
// identifies the settings version, and a picture once filtered is kept per filter.
//
// A filter steps images; it may also step a picture kept as decoded straight from its planes
// (converting and correcting in one pass, without an image of the converted picture in
// between). Without that step, such a picture is converted first.
class FrameFilter {
  public:
    using ImageStep = std::function<QImage(const QImage& picture)>;
    using DecodedStep = std::function<QImage(const YuvPicture& picture)>;

    FrameFilter() = default;
    template <typename Step>
    requires(!std::same_as<std::remove_cvref_t<Step>, FrameFilter> &&
             std::is_invocable_r_v<QImage, Step, const QImage&>)
        FrameFilter(Step step)  // NOLINT(google-explicit-constructor): a step is a filter
        : image_(std::move(step)) {}
    FrameFilter(ImageStep image, DecodedStep decoded)
        : image_(std::move(image)), decoded_(std::move(decoded)) {}

    explicit operator bool() const { return static_cast<bool>(image_); }
    QImage operator()(const QImage& picture) const { return image_(picture); }
    QImage operator()(const Picture& picture) const {
        if (const YuvPicture* yuv = picture.yuv(); yuv != nullptr && decoded_) {
            return decoded_(*yuv);
        }
        return image_(picture.toImage());
    }

  private:
    ImageStep image_;
    DecodedStep decoded_;
};

}  // namespace kestio::platform
