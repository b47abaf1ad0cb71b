#pragma once

#include <QImage>
#include <QSize>
#include <memory>

#include "platform/graphics/worker_pool.h"
#include "platform/graphics/yuv_picture.h"

namespace kestio::platform {

// A picture to show: an image, or a decoded picture still in the decoder's Y'CbCr
// (YuvPicture), which is turned into RGB only where it is drawn. Cheap to copy (shared), and
// immutable, so any thread may read it.
//
// A picture's identity is key(): copies of one picture share it, and no other picture has it.
// For an image it is the image's QImage::cacheKey().
class Picture {
  public:
    Picture() = default;
    // An image as a picture (a null image makes a null picture).
    Picture(QImage image);  // NOLINT(google-explicit-constructor): images are pictures
    explicit Picture(YuvPicture yuv);

    bool isNull() const { return image_.isNull() && !yuv_; }
    QSize size() const;
    int width() const { return size().width(); }
    int height() const { return size().height(); }
    qint64 key() const;
    // Whether some pixels may be less than opaque (decoded Y'CbCr never is).
    bool hasAlphaChannel() const { return !yuv_ && image_.hasAlphaChannel(); }

    // The image, for a picture that is one; null otherwise.
    const QImage& image() const { return image_; }
    // The decoded planes, for a picture that is kept as decoded; null otherwise.
    const YuvPicture* yuv() const { return yuv_.get(); }

    // The picture as an image: the image itself, or the planes converted anew (rows spread
    // over `pool`) on every call.
    QImage toImage(WorkerPool& pool = WorkerPool::shared()) const;

  private:
    QImage image_;
    std::shared_ptr<const YuvPicture> yuv_;
    qint64 key_ = 0;
};

}  // namespace kestio::platform
