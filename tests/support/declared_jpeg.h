#pragma once

// JPEG files whose frame header declares a size the data never fills: what a hostile file
// costs a decoder is decided by its header alone.

#include <QByteArray>

namespace kestio::test {

enum class JpegSampling { s420, s444 };

// A small JPEG (made by Qt's writer, progressive or sequential) whose frame header is then
// rewritten to declare `width` x `height` with the given chroma sampling.
QByteArray jpegDeclaring(int width, int height, JpegSampling sampling, bool progressive);

}  // namespace kestio::test
