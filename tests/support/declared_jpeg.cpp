#include "support/declared_jpeg.h"

#include <QBuffer>
#include <QImage>
#include <QImageWriter>

namespace kestio::test {

QByteArray jpegDeclaring(int width, int height, JpegSampling sampling, bool progressive) {
    QImage picture(64, 64, QImage::Format_RGB32);
    picture.fill(qRgb(200, 40, 90));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setProgressiveScanWrite(progressive);
    if (!writer.write(picture)) {
        return {};
    }
    // Walk the markers to the frame header (SOF0 or SOF2) and rewrite its size and sampling.
    qsizetype i = 2;
    while (i + 4 < bytes.size() && std::uint8_t(bytes[i]) == 0xff) {
        const int marker = std::uint8_t(bytes[i + 1]);
        const int length = std::uint8_t(bytes[i + 2]) << 8 | std::uint8_t(bytes[i + 3]);
        if (marker == 0xc0 || marker == 0xc2) {
            const qsizetype body = i + 4;
            bytes[body + 1] = char(height >> 8);
            bytes[body + 2] = char(height & 0xff);
            bytes[body + 3] = char(width >> 8);
            bytes[body + 4] = char(width & 0xff);
            const int components = std::uint8_t(bytes[body + 5]);
            for (int c = 0; c < components; ++c) {
                const bool luma = c == 0 && sampling == JpegSampling::s420;
                bytes[body + 6 + 3 * c + 1] = char(luma ? 0x22 : 0x11);
            }
            return bytes;
        }
        i += 2 + length;
    }
    return {};
}

}  // namespace kestio::test
