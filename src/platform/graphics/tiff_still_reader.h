#pragma once

#include <QByteArray>
#include <QSize>
#include <filesystem>

#include "platform/graphics/still_decoder.h"

namespace kestio::platform {

// True when the bytes start like a TIFF file (classic or BigTIFF, either byte order).
bool looksLikeTiff(const QByteArray& bytes);

// Decodes the first picture of a TIFF file with libtiff, strip by strip or tile row by tile
// row, each band averaged into the reduced picture as it comes, so memory holds one band of
// the full width beside the reduced picture. Its orientation tag and colour profile are
// applied. The declared size is checked against the limits before anything is decoded.
// The file is read from disk as it is decoded, so its size is bounded by the declared picture
// and not by what memory holds. `stop` is asked between bands.
DecodedStill readTiffStill(const QByteArray& bytes, const StillLimits& limits, QSize fitInto,
                           const StillStop& stop = {});
DecodedStill readTiffStill(const std::filesystem::path& file, const StillLimits& limits,
                           QSize fitInto, const StillStop& stop = {});

}  // namespace kestio::platform
