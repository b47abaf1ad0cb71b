#pragma once

// A moving picture for the output benchmarks: two noisy pictures shown in turn, one per
// refresh, so every refresh draws something new, as a playing clip's does.

#include <QImage>
#include <cmath>
#include <random>

#include "platform/graphics/frame_source.h"

namespace kestio::bench {

class ChangingPictures final : public platform::FrameSource {
  public:
    ChangingPictures(int width, int height, double refreshRate) : refreshRate_(refreshRate) {
        std::mt19937 random(7);
        for (QImage& picture : pictures_) {
            picture = QImage(width, height, QImage::Format_RGB32);
            for (int y = 0; y < height; ++y) {
                auto* line = reinterpret_cast<quint32*>(picture.scanLine(y));
                const quint32 base = random();
                for (int x = 0; x < width; ++x) {
                    line[x] = 0xff000000u | ((base + quint32(x) * 2654435761u) & 0x00ffffffu);
                }
            }
        }
    }
    QImage frameAt(platform::HostTime time) const override {
        return pictures_[std::llround(time.seconds() * refreshRate_) % 2];
    }

  private:
    double refreshRate_;
    QImage pictures_[2];
};

}  // namespace kestio::bench
