#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QtGlobal>
#include <filesystem>
#include <string>

namespace kestio::platform {

// Bounds that keep a hostile or broken file from taking the machine's memory: checked from
// the file's header, before any pixel memory is allocated.
struct StillLimits {
    // 64 Mi pixels: 256 MiB at 4 bytes a pixel, which is also Qt's own image reading limit.
    // It bounds the decoded picture: a larger JPEG asked for at a reduced size is read at that
    // size; other formats are decoded whole and must fit it themselves.
    qint64 maxPixels = qint64(64) * 1024 * 1024;
    int maxSide = 32768;
    qint64 maxFileBytes = qint64(512) * 1024 * 1024;
};

struct DecodedStill {
    // Upright (orientation metadata applied), in sRGB, Format_RGB32 when opaque and
    // Format_ARGB32_Premultiplied when the file has alpha. Null on failure.
    QImage image;
    std::string error;  // why it failed; empty on success
    // The picture's own size, upright, also when `image` was decoded smaller.
    QSize fullSize;

    bool ok() const { return !image.isNull(); }
};

// Decodes the first picture of a still image file, whatever its extension says: PNG, JPEG,
// TIFF, BMP, GIF (first frame), WebP through Qt's readers, HEIC/HEIF through libheif (its
// rotation, mirroring and cropping applied). Empty, truncated, unreadable, non-image and
// oversized files fail with a reason. Blocks on disk and decoding: call it off the main
// thread. Safe from any thread.
//
// With a valid `fitInto`, a picture larger than that is decoded at a reduced size that fits
// it, keeping its shape (never enlarged); the reduction is done while decoding where the
// format allows it, so a very large photo needs memory only for the reduced picture.
DecodedStill decodeStill(const std::filesystem::path& file, const StillLimits& limits = {},
                         QSize fitInto = {});
DecodedStill decodeStill(const QByteArray& bytes, const StillLimits& limits = {},
                         QSize fitInto = {});

}  // namespace kestio::platform
