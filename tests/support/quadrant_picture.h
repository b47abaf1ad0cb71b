#pragma once

#include <QImage>

namespace kestio::test {

// A picture in four flat quadrants, red, green / blue, white, with `alpha` over all of it: which
// corner ends up where tells how a decoder turned or mirrored it.
inline QImage quadrantPicture(int width, int height, int alpha = 255) {
    QImage picture(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const bool right = x >= width / 2;
            const bool bottom = y >= height / 2;
            const QRgb colour = !bottom ? (right ? qRgb(0, 255, 0) : qRgb(255, 0, 0))
                                        : (right ? qRgb(255, 255, 255) : qRgb(0, 0, 255));
            picture.setPixel(x, y, qRgba(qRed(colour), qGreen(colour), qBlue(colour), alpha));
        }
    }
    return picture;
}

}  // namespace kestio::test
