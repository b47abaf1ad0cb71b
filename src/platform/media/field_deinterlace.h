#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {
#include <libavutil/frame.h>
}

namespace kestio::platform::media {

// Pictures coded as two interlaced fields (1080i, 576i ...) are made whole before they are
// shown: the rows of the first field are kept, and a row of the second field is kept where it
// fits between its neighbours, and replaced by their average where it stands out of both in the
// same direction (the comb a moving edge leaves between two fields taken 1/50 s apart). A still
// part of the picture keeps its full detail; a moving part shows the first field alone.

// Whether `frame` says its picture is made of two interlaced fields.
bool isInterlaced(const AVFrame& frame);

// Whether deinterlace() handles frames of `format` (planar or packed 8-bit formats and native
// 16-bit ones; not paletted, bit-packed or hardware formats).
bool canDeinterlace(int format);

// One plane: `rows` rows of `samples` samples of `sampleBytes` (1 or 2, native order) each.
// Rows of the kept field (even rows when `keepEven`) are copied; the others as described above,
// a sample standing out of both neighbours by more than `threshold`.
void deinterlacePlane(const std::uint8_t* src, std::ptrdiff_t srcStride, std::uint8_t* dst,
                      std::ptrdiff_t dstStride, int samples, int rows, int sampleBytes,
                      bool keepEven, int threshold);

// `in`'s picture deinterlaced into `out`, which has buffers of the same format and size.
// False when the format is not handled (see canDeinterlace()).
bool deinterlace(const AVFrame& in, AVFrame& out);

}  // namespace kestio::platform::media
