#pragma once

#include <QByteArray>
#include <QImage>
#include <QtGlobal>
#include <filesystem>
#include <string>

namespace kestio::platform {

// Bounds that keep a hostile or broken file from taking the machine's memory: checked from
// the file's header, before any pixel memory is allocated.
struct StillLimits {
    // 64 Mi pixels: 256 MiB at 4 bytes a pixel, which is also Qt's own image reading limit.
    qint64 maxPixels = qint64(64) * 1024 * 1024;
    int maxSide = 32768;
    qint64 maxFileBytes = qint64(512) * 1024 * 1024;
};

struct DecodedStill {
    // Upright (orientation metadata applied), in sRGB, Format_RGB32 when opaque and
    // Format_ARGB32_Premultiplied when the file has alpha. Null on failure.
    QImage image;
    std::string error;  // why it failed; empty on success

    bool ok() const { return !image.isNull(); }
};

// Decodes the first picture of a still image file, whatever its extension says: PNG, JPEG,
// TIFF, BMP, GIF (first frame), WebP through Qt's readers, HEIC/HEIF through libheif (its
// rotation, mirroring and cropping applied). Empty, truncated, unreadable, non-image and
// oversized files fail with a reason. Blocks on disk and decoding: call it off the main
// thread. Safe from any thread.
DecodedStill decodeStill(const std::filesystem::path& file, const StillLimits& limits = {});
DecodedStill decodeStill(const QByteArray& bytes, const StillLimits& limits = {});

}  // namespace kestio::platform
