#pragma once

#include <QByteArray>

#include "platform/graphics/still_decoder.h"

namespace kestio::platform {

// True when the bytes start like a HEIF file (HEIC, HEIF, AVIF) that libheif can read.
bool looksLikeHeif(const QByteArray& bytes);

// Decodes the primary image of a HEIF file with libheif, its transformations applied.
DecodedStill readHeifStill(const QByteArray& bytes, const StillLimits& limits);

}  // namespace kestio::platform
