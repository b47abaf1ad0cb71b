#pragma once

#include <QColor>
#include <QImage>
#include <mutex>

#include "platform/graphics/frame_source.h"

namespace kestio::test {

// One picture handed out for every time asked, until the test shows another: pictures that
// change only when the test says so.
class HeldPicture final : public platform::FrameSource {
  public:
    void show(QColor colour) {
        QImage picture(16, 9, QImage::Format_RGB32);
        picture.fill(colour);
        std::lock_guard lock(mutex_);
        picture_ = std::move(picture);
    }
    QImage frameAt(platform::HostTime) const override {
        std::lock_guard lock(mutex_);
        return picture_;
    }

  private:
    mutable std::mutex mutex_;
    QImage picture_;
};

}  // namespace kestio::test
