#pragma once

// A slot thumbnail as a project stores it: a 320 × 180 PNG.

#include <QBuffer>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <cstdint>
#include <vector>

namespace kestio::bench {

// A gradient whose hue follows `seed`, so neighbouring slots differ.
inline std::vector<std::uint8_t> slotThumbnailPNG(int seed) {
    QImage image(320, 180, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, 320, 180);
    gradient.setColorAt(0, QColor::fromHsv((seed * 37) % 360, 160, 200));
    gradient.setColorAt(1, QColor(20, 20, 20));
    painter.fillRect(image.rect(), gradient);
    painter.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

}  // namespace kestio::bench
