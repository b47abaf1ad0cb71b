#pragma once

#include <QByteArray>
#include <QSize>
#include <vector>

namespace kestio::platform {

// The picture sizes the HEVC streams of a HEIF file really code, read from the parameter sets
// stored in its item properties ("hvcC"), whatever the files' declared sizes ("ispe") say.
// Empty when the file has none (AVIF, or a damaged file): nothing to check then.
std::vector<QSize> heifCodedSizes(const QByteArray& bytes);

}  // namespace kestio::platform
