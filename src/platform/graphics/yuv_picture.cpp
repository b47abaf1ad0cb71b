#include "platform/graphics/yuv_picture.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "platform/graphics/downscale_boxes.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kestio::platform {

namespace {

// Y'CbCr to R'G'B' in 16-bit fixed point, so that eight samples are worked on at once. A sample
// is widened to 16 bits with it in the high byte (Y' * 256, and (C - 128) * 256 for chroma) and
// multiplied by its coefficient keeping the product's high 16 bits; the coefficients are scaled
// so that every term comes out in 1/32 of an output level. Each truncation costs under 1/32 of a
// level, so the rounded result stays within 0.65 of the exact one. Five fractional bits are as
// many as keep every sum within 16 bits for any input (blue under BT.601 reaches 536 levels).
constexpr int kFractionBits = 5;
constexpr double kUnit = 1 << kFractionBits;
// A coefficient times a sample shifted left by 8, keeping the high 16 bits, is the coefficient
// times the sample in output levels scaled by kUnit.
constexpr double kCoefficientScale = kUnit * 65536.0 / 256.0;

struct Coefficients {
    int luma = 0;  // unsigned: Y' * 256 * luma >> 16
    int redCr = 0;
    int greenCb = 0;
    int greenCr = 0;
    int blueCb = 0;
    // The black level's share taken off, and half a level to round the final shift.
    int offset = 0;
};

Coefficients coefficients(const YuvPicture& picture) {
    double kr = picture.kr;
    double kb = picture.kb;
    // Every delivery matrix gives green the largest weight; one that does not is not a matrix a
    // picture is coded with, and its coefficients would not fit the fixed point: BT.709 instead.
    if (!(kr > 0.0 && kb > 0.0 && 1.0 - kr - kb >= 0.5)) {
        kr = 0.2126;
        kb = 0.0722;
    }
    const double kg = 1.0 - kr - kb;
    const double lumaGain = picture.fullRange ? 1.0 : 255.0 / 219.0;
    const double chromaGain = picture.fullRange ? 1.0 : 255.0 / 224.0;
    const double black = picture.fullRange ? 0.0 : 16.0;
    const auto fixed = [](double c) {
        return static_cast<int>(std::lround(c * kCoefficientScale));
    };
    Coefficients k;
    k.luma = fixed(lumaGain);
    k.redCr = fixed(2.0 * (1.0 - kr) * chromaGain);
    k.greenCb = fixed(-2.0 * kb * (1.0 - kb) / kg * chromaGain);
    k.greenCr = fixed(-2.0 * kr * (1.0 - kr) / kg * chromaGain);
    k.blueCb = fixed(2.0 * (1.0 - kb) * chromaGain);
    k.offset = (1 << (kFractionBits - 1)) - static_cast<int>(std::lround(lumaGain * black * kUnit));
    return k;
}

// The high 16 bits of a product, as the SSE2 multiplications keep them (an arithmetic shift for
// signed operands).
inline int high(int a, int b) {
    return (a * b) >> 16;
}

// A chroma sample pair's share of each channel, the offset included. The samples come with
// eight fractional bits (a sample times 256), as the vector steps widen them; an average of
// several samples keeps its fraction there.
struct ChromaTerms {
    int red;
    int green;
    int blue;
};

inline ChromaTerms chromaTerms(const Coefficients& k, int cb256, int cr256) {
    const int b = cb256 - 128 * 256;
    const int r = cr256 - 128 * 256;
    return {high(r, k.redCr) + k.offset, high(b, k.greenCb) + high(r, k.greenCr) + k.offset,
            high(b, k.blueCb) + k.offset};
}

// The pixel of a luma sample (times 256, as chroma) and its chroma's terms.
inline quint32 toPixel(const Coefficients& k, int y256, const ChromaTerms& c) {
    const int luma = static_cast<int>((static_cast<unsigned>(y256) * unsigned(k.luma)) >> 16);
    const auto level = [](int sum) {
        return static_cast<quint32>(std::clamp(sum >> kFractionBits, 0, 255));
    };
    return 0xff000000u | (level(luma + c.red) << 16) | (level(luma + c.green) << 8) |
           level(luma + c.blue);
}

// Columns [from, to) of one row.
void scalarRow(const Coefficients& k, const std::uint8_t* luma, const std::uint8_t* cb,
               const std::uint8_t* cr, int from, int to, quint32* out) {
    for (int x = from; x < to; ++x) {
        out[x] = toPixel(k, luma[x] * 256, chromaTerms(k, cb[x / 2] * 256, cr[x / 2] * 256));
    }
}

#if defined(__SSE2__)
// Sixteen pixels a step: their eight chroma pairs' terms are worked out once and each used for
// two neighbouring pixels. Returns the first column left for scalarRow().
int vectorRow(const Coefficients& k, const std::uint8_t* luma, const std::uint8_t* cb,
              const std::uint8_t* cr, int width, quint32* out) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i opaque = _mm_set1_epi8(static_cast<char>(0xff));
    const __m128i centre = _mm_set1_epi16(static_cast<short>(0x8000));
    const __m128i lumaK = _mm_set1_epi16(static_cast<short>(k.luma));
    const __m128i redCr = _mm_set1_epi16(static_cast<short>(k.redCr));
    const __m128i greenCb = _mm_set1_epi16(static_cast<short>(k.greenCb));
    const __m128i greenCr = _mm_set1_epi16(static_cast<short>(k.greenCr));
    const __m128i blueCb = _mm_set1_epi16(static_cast<short>(k.blueCb));
    const __m128i offset = _mm_set1_epi16(static_cast<short>(k.offset));
    int x = 0;
    for (; x + 16 <= width; x += 16) {
        // (C - 128) * 256: the sample in the high byte, its top bit flipped.
        const __m128i b = _mm_xor_si128(
            _mm_unpacklo_epi8(zero, _mm_loadl_epi64(reinterpret_cast<const __m128i*>(cb + x / 2))),
            centre);
        const __m128i r = _mm_xor_si128(
            _mm_unpacklo_epi8(zero, _mm_loadl_epi64(reinterpret_cast<const __m128i*>(cr + x / 2))),
            centre);
        const __m128i red = _mm_add_epi16(_mm_mulhi_epi16(r, redCr), offset);
        const __m128i green = _mm_add_epi16(
            _mm_add_epi16(_mm_mulhi_epi16(b, greenCb), _mm_mulhi_epi16(r, greenCr)), offset);
        const __m128i blue = _mm_add_epi16(_mm_mulhi_epi16(b, blueCb), offset);

        const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(luma + x));
        const __m128i yLow = _mm_mulhi_epu16(_mm_unpacklo_epi8(zero, y), lumaK);
        const __m128i yHigh = _mm_mulhi_epu16(_mm_unpackhi_epi8(zero, y), lumaK);
        // A channel of the sixteen pixels as bytes, clamped by the saturating pack.
        const auto channel = [&](__m128i terms) {
            const __m128i low = _mm_srai_epi16(
                _mm_add_epi16(yLow, _mm_unpacklo_epi16(terms, terms)), kFractionBits);
            const __m128i high = _mm_srai_epi16(
                _mm_add_epi16(yHigh, _mm_unpackhi_epi16(terms, terms)), kFractionBits);
            return _mm_packus_epi16(low, high);
        };
        const __m128i bytesR = channel(red);
        const __m128i bytesG = channel(green);
        const __m128i bytesB = channel(blue);
        const __m128i bgLow = _mm_unpacklo_epi8(bytesB, bytesG);
        const __m128i bgHigh = _mm_unpackhi_epi8(bytesB, bytesG);
        const __m128i raLow = _mm_unpacklo_epi8(bytesR, opaque);
        const __m128i raHigh = _mm_unpackhi_epi8(bytesR, opaque);
        auto* o = reinterpret_cast<__m128i*>(out + x);
        _mm_storeu_si128(o, _mm_unpacklo_epi16(bgLow, raLow));
        _mm_storeu_si128(o + 1, _mm_unpackhi_epi16(bgLow, raLow));
        _mm_storeu_si128(o + 2, _mm_unpacklo_epi16(bgHigh, raHigh));
        _mm_storeu_si128(o + 3, _mm_unpackhi_epi16(bgHigh, raHigh));
    }
    return x;
}
#endif

bool usable(const YuvPicture& p) {
    const qsizetype chromaWidth = (p.width + 1) / 2;
    return p.width > 0 && p.height > 0 && p.planes[0] != nullptr && p.planes[1] != nullptr &&
           p.planes[2] != nullptr && std::abs(p.strides[0]) >= p.width &&
           std::abs(p.strides[1]) >= chromaWidth && std::abs(p.strides[2]) >= chromaWidth;
}

// A band of rows is worth converting on another thread from this many pixels on; threads take
// the next band as they finish one (up to this many bands per thread), so that a thread the
// system holds up a while (the cores are shared) delays its band only.
constexpr qint64 kMinBandPixels = 256 * 256;
constexpr int kBandsPerThread = 4;

}  // namespace

void convertYuvRows(const YuvPicture& picture, int top, int rows, std::uint8_t* out,
                    qsizetype stride) {
    const Coefficients k = coefficients(picture);
    for (int y = top; y < top + rows; ++y, out += stride) {
        const std::uint8_t* luma = picture.planes[0] + qsizetype(y) * picture.strides[0];
        const std::uint8_t* cb = picture.planes[1] + qsizetype(y / 2) * picture.strides[1];
        const std::uint8_t* cr = picture.planes[2] + qsizetype(y / 2) * picture.strides[2];
        auto* pixels = reinterpret_cast<quint32*>(out);
        int x = 0;
#if defined(__SSE2__)
        x = vectorRow(k, luma, cb, cr, picture.width, pixels);
#endif
        scalarRow(k, luma, cb, cr, x, picture.width, pixels);
    }
}

QImage convertedYuv(const YuvPicture& picture, WorkerPool& pool) {
    if (!usable(picture)) {
        return {};
    }
    QImage image(picture.width, picture.height, QImage::Format_RGB32);
    if (image.isNull()) {
        return {};
    }
    const qint64 pixels = qint64(picture.width) * picture.height;
    const int bands = static_cast<int>(
        std::clamp<qint64>(pixels / kMinBandPixels, 1,
                           std::min<qint64>(picture.height, pool.concurrency() * kBandsPerThread)));
    std::uint8_t* bits = image.bits();
    const qsizetype stride = image.bytesPerLine();
    pool.parallelFor(bands, [&](int band) {
        const int top = static_cast<int>(qint64(picture.height) * band / bands);
        const int bottom = static_cast<int>(qint64(picture.height) * (band + 1) / bands);
        convertYuvRows(picture, top, bottom - top, bits + qsizetype(top) * stride, stride);
    });
    return image;
}

QImage downscaledYuv(const YuvPicture& picture, QRectF source, QSize size, WorkerPool& pool) {
    if (!usable(picture) || size.isEmpty() || source.isEmpty()) {
        return {};
    }
    QImage output(size, QImage::Format_ARGB32_Premultiplied);
    if (output.isNull()) {
        return {};
    }
    using namespace downscale;
    int columnsPer = 1;
    int rowsPer = 1;
    const std::vector<int> columns = boxStarts(source.x(), source.width(), size.width(),
                                               picture.width, kColumnSpacing, columnsPer);
    const std::vector<int> rows =
        boxStarts(source.y(), source.height(), size.height(), picture.height, kRowSpacing, rowsPer);
    // A box's second column or row is its first again in a picture one pixel wide or high.
    const int nextColumn = picture.width > 1 ? 1 : 0;
    const int nextRow = picture.height > 1 ? 1 : 0;
    const int count = 4 * columnsPer * rowsPer;  // at most 256: sums stay within 16 bits
    // Averages with eight fractional bits (times 256, rounded), which the conversion takes as
    // it takes single samples: rounding them to whole codes first would cost up to half a code,
    // and round ties (frequent, as chroma samples count two or four times in a sum) up. The
    // division as a multiplication by a reciprocal with 40 fractional bits, exact for every
    // sum of up to 256 samples.
    const std::uint64_t reciprocal = ((std::uint64_t(1) << 40) + count - 1) / count;
    const auto average = [&](std::uint32_t sum) {
        return static_cast<int>(
            (((std::uint64_t(sum) << 8) + std::uint64_t(count / 2)) * reciprocal) >> 40);
    };
    const Coefficients k = coefficients(picture);

    // The two luma rows of a box and the chroma rows they take their chroma from.
    struct BoxRows {
        const std::uint8_t* luma[2];
        const std::uint8_t* cb[2];
        const std::uint8_t* cr[2];
    };
    const auto boxRows = [&](int row) {
        BoxRows b{};
        for (int i = 0; i < 2; ++i) {
            const int y = row + i * nextRow;
            b.luma[i] = picture.planes[0] + qsizetype(y) * picture.strides[0];
            b.cb[i] = picture.planes[1] + qsizetype(y / 2) * picture.strides[1];
            b.cr[i] = picture.planes[2] + qsizetype(y / 2) * picture.strides[2];
        }
        return b;
    };

    const int partCount = parts(size, pool.concurrency());
    pool.parallelFor(partCount, [&](int part) {
        const int top = partRow(size.height(), part, partCount);
        const int bottom = partRow(size.height(), part + 1, partCount);
        BoxRows lines[kMaxBoxes];
        for (int y = top; y < bottom; ++y) {
            for (int r = 0; r < rowsPer; ++r) {
                lines[r] = boxRows(rows[std::size_t(y) * rowsPer + r]);
            }
            auto* out = reinterpret_cast<quint32*>(output.scanLine(y));
            const int* starts = columns.data();
            for (int x = 0; x < size.width(); ++x, starts += columnsPer) {
                std::uint32_t sumY = 0;
                std::uint32_t sumCb = 0;
                std::uint32_t sumCr = 0;
                for (int r = 0; r < rowsPer; ++r) {
                    const BoxRows& b = lines[r];
                    for (int c = 0; c < columnsPer; ++c) {
                        const int left = starts[c];
                        const int right = left + nextColumn;
                        const int chromaLeft = left / 2;
                        const int chromaRight = right / 2;
                        sumY +=
                            b.luma[0][left] + b.luma[0][right] + b.luma[1][left] + b.luma[1][right];
                        sumCb += b.cb[0][chromaLeft] + b.cb[0][chromaRight] + b.cb[1][chromaLeft] +
                                 b.cb[1][chromaRight];
                        sumCr += b.cr[0][chromaLeft] + b.cr[0][chromaRight] + b.cr[1][chromaLeft] +
                                 b.cr[1][chromaRight];
                    }
                }
                out[x] = toPixel(k, average(sumY), chromaTerms(k, average(sumCb), average(sumCr)));
            }
        }
    });
    return output;
}

}  // namespace kestio::platform
