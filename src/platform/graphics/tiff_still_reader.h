#pragma once

#include <QByteArray>
#include <QSize>

#include "platform/graphics/still_decoder.h"

namespace kestio::platform {

// True when the bytes start like a TIFF file (classic or BigTIFF, either byte order).
bool looksLikeTiff(const QByteArray& bytes);

// Decodes the first picture of a TIFF file with libtiff, strip by strip or tile row by tile
// row, each band averaged into the reduced picture as it comes, so memory holds one band of
// the full width beside the reduced picture. Its orientation tag and colour profile are
// applied. The declared size is checked against the limits before anything is decoded.
DecodedStill readTiffStill(const QByteArray& bytes, const StillLimits& limits, QSize fitInto);

}  // namespace kestio::platform
