#include "platform/graphics/jpeg_frame_header.h"

#include <algorithm>

namespace kestio::platform {

namespace {

int byteAt(const QByteArray& b, qsizetype at) {
    return static_cast<std::uint8_t>(b[at]);
}

std::int64_t ceilDiv(std::int64_t a, std::int64_t b) {
    return (a + b - 1) / b;
}

// Start-of-frame markers: 0xc0-0xcf less DHT (c4), JPG (c8) and DAC (cc).
bool isStartOfFrame(int marker) {
    return marker >= 0xc0 && marker <= 0xcf && marker != 0xc4 && marker != 0xc8 && marker != 0xcc;
}

bool isProgressiveFrame(int marker) {
    return marker == 0xc2 || marker == 0xc6 || marker == 0xca || marker == 0xce;
}

}  // namespace

bool JpegFrameHeader::keepsWholeCoefficients() const {
    return progressive || componentsInFirstScan < static_cast<int>(components.size());
}

std::int64_t JpegFrameHeader::wholeCoefficientBytes() const {
    int maxH = 1;
    int maxV = 1;
    for (const Component& c : components) {
        maxH = std::max(maxH, c.horizontalSampling);
        maxV = std::max(maxV, c.verticalSampling);
    }
    std::int64_t bytes = 0;
    for (const Component& c : components) {
        const std::int64_t blocksWide =
            ceilDiv(std::int64_t(width) * c.horizontalSampling, std::int64_t(maxH) * 8);
        const std::int64_t blocksHigh =
            ceilDiv(std::int64_t(height) * c.verticalSampling, std::int64_t(maxV) * 8);
        const std::int64_t wide = ceilDiv(blocksWide, c.horizontalSampling) * c.horizontalSampling;
        const std::int64_t high = ceilDiv(blocksHigh, c.verticalSampling) * c.verticalSampling;
        bytes += wide * high * 64 * 2;
    }
    return bytes;
}

std::optional<JpegFrameHeader> readJpegFrameHeader(const QByteArray& b) {
    const qsizetype n = b.size();
    if (n < 4 || byteAt(b, 0) != 0xff || byteAt(b, 1) != 0xd8) {
        return std::nullopt;
    }
    JpegFrameHeader header;
    bool haveFrame = false;
    qsizetype i = 2;
    while (i < n) {
        if (byteAt(b, i) != 0xff) {
            return std::nullopt;
        }
        while (i < n && byteAt(b, i) == 0xff) {
            ++i;
        }
        if (i >= n) {
            return std::nullopt;
        }
        const int marker = byteAt(b, i++);
        if (marker == 0x01 || (marker >= 0xd0 && marker <= 0xd8)) {
            continue;  // markers without a segment
        }
        if (marker == 0xd9 || i + 2 > n) {
            return std::nullopt;
        }
        const qsizetype length = qsizetype(byteAt(b, i)) << 8 | byteAt(b, i + 1);
        if (length < 2 || i + length > n) {
            return std::nullopt;
        }
        const qsizetype body = i + 2;
        if (isStartOfFrame(marker)) {
            // precision, height, width, component count, then three bytes a component
            if (haveFrame || length < 8) {
                return std::nullopt;
            }
            const int count = byteAt(b, body + 5);
            if (count < 1 || length < 8 + 3 * count) {
                return std::nullopt;
            }
            header.height = byteAt(b, body + 1) << 8 | byteAt(b, body + 2);
            header.width = byteAt(b, body + 3) << 8 | byteAt(b, body + 4);
            header.progressive = isProgressiveFrame(marker);
            for (int c = 0; c < count; ++c) {
                const int sampling = byteAt(b, body + 6 + 3 * c + 1);
                JpegFrameHeader::Component component;
                component.horizontalSampling = std::max(1, sampling >> 4);
                component.verticalSampling = std::max(1, sampling & 0x0f);
                header.components.push_back(component);
            }
            haveFrame = true;
        } else if (marker == 0xda) {
            if (!haveFrame || length < 3) {
                return std::nullopt;
            }
            header.componentsInFirstScan = byteAt(b, body);
            return header;
        }
        i += length;
    }
    return std::nullopt;
}

}  // namespace kestio::platform
