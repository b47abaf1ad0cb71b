#pragma once

#include <QByteArray>
#include <cstdint>
#include <optional>
#include <vector>

namespace kestio::platform {

// What a JPEG file's frame header and first scan header say about the memory its decoding
// takes, read by walking the markers before the first scan's data (no decoding).
struct JpegFrameHeader {
    struct Component {
        int horizontalSampling = 1;
        int verticalSampling = 1;
    };

    int width = 0;
    int height = 0;
    bool progressive = false;
    std::vector<Component> components;
    int componentsInFirstScan = 0;

    // A progressive file, or a sequential one whose first scan leaves components for later
    // scans: the decoder then keeps the quantised coefficients of the whole picture, at its
    // full size, whatever size it is asked to output.
    bool keepsWholeCoefficients() const;
    // Bytes of those coefficients: 64 two-byte values per 8x8 block of every component, the
    // blocks counted as the decoder lays them out (rounded up to whole sampling units).
    std::int64_t wholeCoefficientBytes() const;
};

// The header of `bytes` when it is a JPEG whose frame header precedes its first scan; nothing
// for other data or a damaged header.
std::optional<JpegFrameHeader> readJpegFrameHeader(const QByteArray& bytes);

}  // namespace kestio::platform
