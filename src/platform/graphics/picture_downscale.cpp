#include "platform/graphics/picture_downscale.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "platform/graphics/downscale_boxes.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#include <xmmintrin.h>
#endif

namespace kestio::platform {

namespace {

using namespace downscale;

// The four channels of a premultiplied ARGB32 pixel in the 16-bit lanes of one word, so sums of
// up to 256 pixels add without carrying between channels.
inline std::uint64_t lanes(quint32 pixel) {
    return (pixel & 0x00ff00ffu) | (std::uint64_t(pixel & 0xff00ff00u) << 24);
}

}  // namespace

bool needsDownscale(QSizeF source, QSize target) {
    return !target.isEmpty() && source.width() >= 2.0 * target.width() &&
           source.height() >= 2.0 * target.height();
}

QImage downscaled(const QImage& picture, QRectF source, QSize size, WorkerPool& pool) {
    if (picture.isNull() || size.isEmpty() || source.isEmpty()) {
        return {};
    }
    QImage input = picture;
    if (input.format() != QImage::Format_RGB32 &&
        input.format() != QImage::Format_ARGB32_Premultiplied) {
        input = input.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    }
    QImage output(size, QImage::Format_ARGB32_Premultiplied);
    if (output.isNull()) {
        return {};
    }
    int columnsPer = 1;
    int rowsPer = 1;
    const std::vector<int> columns = boxStarts(source.x(), source.width(), size.width(),
                                               input.width(), kColumnSpacing, columnsPer);
    const std::vector<int> rows =
        boxStarts(source.y(), source.height(), size.height(), input.height(), kRowSpacing, rowsPer);
    // A box's second column or row is its first again in a picture one pixel wide or high.
    const int nextColumn = input.width() > 1 ? 1 : 0;
    const qsizetype nextRow = input.height() > 1 ? input.bytesPerLine() : 0;
    const int count = 4 * columnsPer * rowsPer;  // at most 256
    const uchar* bits = input.constBits();
    const qsizetype stride = input.bytesPerLine();

    const auto scalarRow = [&](const uchar* const* lines, const int* starts, quint32* out) {
        const std::uint64_t reciprocal = ((std::uint64_t(1) << 24) + count - 1) / count;
        const auto average = [&](std::uint64_t sum, int lane) {
            const std::uint64_t total = (sum >> (16 * lane)) & 0xffffu;
            return static_cast<quint32>(((total + count / 2) * reciprocal) >> 24);
        };
        for (int x = 0; x < size.width(); ++x, starts += columnsPer) {
            std::uint64_t sum = 0;
            for (int r = 0; r < rowsPer; ++r) {
                const auto* upper = reinterpret_cast<const quint32*>(lines[r]);
                const auto* lower = reinterpret_cast<const quint32*>(lines[r] + nextRow);
                for (int c = 0; c < columnsPer; ++c) {
                    const int left = starts[c];
                    sum += lanes(upper[left]) + lanes(upper[left + nextColumn]) +
                           lanes(lower[left]) + lanes(lower[left + nextColumn]);
                }
            }
            // Lanes from the lowest: blue, red, green, alpha.
            out[x] = (average(sum, 3) << 24) | (average(sum, 1) << 16) | (average(sum, 2) << 8) |
                     average(sum, 0);
        }
    };
#if defined(__SSE2__)
    // Two neighbouring pixels of a row in one load, their channels widened to 16 bits and summed
    // in eight lanes; the averages by a multiplication with the count's reciprocal.
    const auto vectorRow = [&](const uchar* const* lines, const uchar* const* linesAhead,
                               const int* starts, quint32* out) {
        const __m128i zero = _mm_setzero_si128();
        const __m128i half = _mm_set1_epi16(static_cast<short>(count / 2));
        const __m128i reciprocal = _mm_set1_epi16(static_cast<short>((65536 + count - 1) / count));
        for (int x = 0; x < size.width(); ++x, starts += columnsPer) {
            for (int r = 0; r < rowsPer; ++r) {
                const uchar* ahead = linesAhead[r] + qsizetype(starts[0]) * 4;
                _mm_prefetch(reinterpret_cast<const char*>(ahead), _MM_HINT_T0);
                _mm_prefetch(reinterpret_cast<const char*>(ahead + nextRow), _MM_HINT_T0);
            }
            __m128i sum = zero;
            for (int r = 0; r < rowsPer; ++r) {
                const uchar* upper = lines[r];
                const uchar* lower = lines[r] + nextRow;
                for (int c = 0; c < columnsPer; ++c) {
                    const qsizetype offset = qsizetype(starts[c]) * 4;
                    const __m128i a =
                        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(upper + offset));
                    const __m128i b =
                        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(lower + offset));
                    sum = _mm_add_epi16(sum, _mm_unpacklo_epi8(a, zero));
                    sum = _mm_add_epi16(sum, _mm_unpacklo_epi8(b, zero));
                }
            }
            sum = _mm_add_epi16(sum, _mm_srli_si128(sum, 8));
            const __m128i mean = _mm_mulhi_epu16(_mm_add_epi16(sum, half), reciprocal);
            out[x] = static_cast<quint32>(_mm_cvtsi128_si32(_mm_packus_epi16(mean, mean)));
        }
    };
    const bool vector = nextColumn == 1;
#endif

    const int partCount = parts(size, pool.concurrency());
    pool.parallelFor(partCount, [&](int part) {
        const int top = partRow(size.height(), part, partCount);
        const int bottom = partRow(size.height(), part + 1, partCount);
        const uchar* lines[kMaxBoxes];
        const uchar* linesAhead[kMaxBoxes];
        for (int y = top; y < bottom; ++y) {
            // The rows the output row after next reads, fetched ahead while this one is summed
            // (one row ahead leaves too little time for memory to answer).
            const std::size_t ahead = std::size_t(std::min(y + 2, bottom - 1));
            for (int r = 0; r < rowsPer; ++r) {
                lines[r] = bits + rows[std::size_t(y) * rowsPer + r] * stride;
                linesAhead[r] = bits + rows[ahead * rowsPer + r] * stride;
            }
            auto* out = reinterpret_cast<quint32*>(output.scanLine(y));
#if defined(__SSE2__)
            if (vector) {
                vectorRow(lines, linesAhead, columns.data(), out);
                continue;
            }
#endif
            scalarRow(lines, columns.data(), out);
        }
    });
    return output;
}

}  // namespace kestio::platform
