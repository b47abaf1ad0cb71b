#pragma once

#include <QByteArray>
#include <QSize>

#include "platform/graphics/still_decoder.h"

namespace kestio::platform {

// True when the bytes start like a WebP file holding one still picture (an animated one is
// left to Qt's reader, which gives its first frame).
bool looksLikeStillWebp(const QByteArray& bytes);

// Decodes a still WebP with libwebp, reduced while decoding to fit `fitInto` when valid, its
// colour profile applied. Its real size comes from the header; the memory a decode needs (a
// lossless picture or an alpha plane is kept whole by libwebp) is checked against the budget
// before anything is decoded. `stop` is asked before libwebp's decode, which runs in one call.
DecodedStill readWebpStill(const QByteArray& bytes, const StillLimits& limits, QSize fitInto,
                           const StillStop& stop = {});

}  // namespace kestio::platform
