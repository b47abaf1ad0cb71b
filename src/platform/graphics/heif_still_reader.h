#pragma once

#include <QByteArray>

#include "platform/graphics/still_decoder.h"

namespace kestio::platform {

// True when the bytes start like a HEIF file (HEIC, HEIF, AVIF) that libheif can read.
bool looksLikeHeif(const QByteArray& bytes);

// Decodes the primary image of a HEIF file with libheif, its transformations applied. With a
// valid `fitInto` a larger picture is handed back reduced to fit it (libheif decodes only at
// full size, so the saving is in not converting the whole picture to RGB). The memory a
// decode takes is estimated from the declared size and the sizes the streams really code,
// and refused beyond the budget before anything is decoded.
// `stop` is asked before and after libheif's decode and between rows of the conversion.
DecodedStill readHeifStill(const QByteArray& bytes, const StillLimits& limits, QSize fitInto,
                           const StillStop& stop = {});

}  // namespace kestio::platform
