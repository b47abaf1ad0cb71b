#include "platform/graphics/picture.h"

#include <atomic>

namespace kestio::platform {

namespace {

// Keys of pictures kept as decoded: negative, so never an image's cacheKey() (which is not).
qint64 nextYuvKey() {
    static std::atomic<qint64> last{0};
    return -(last.fetch_add(1, std::memory_order_relaxed) + 1);
}

}  // namespace

Picture::Picture(QImage image) : image_(std::move(image)) {}

Picture::Picture(YuvPicture yuv) {
    if (yuv.width > 0 && yuv.height > 0 && yuv.planes[0] != nullptr) {
        yuv_ = std::make_shared<const YuvPicture>(std::move(yuv));
        key_ = nextYuvKey();
    }
}

QSize Picture::size() const {
    return yuv_ ? QSize(yuv_->width, yuv_->height) : image_.size();
}

qint64 Picture::key() const {
    return yuv_ ? key_ : image_.cacheKey();
}

QImage Picture::toImage(WorkerPool& pool) const {
    return yuv_ ? convertedYuv(*yuv_, pool) : image_;
}

}  // namespace kestio::platform
