#include "platform/graphics/yuv_picture.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/graphics/downscale_boxes.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#include <xmmintrin.h>
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
// The conversion's factors in every 16-bit lane, and the constants both vector paths use.
struct LaneFactors {
    explicit LaneFactors(const Coefficients& k)
        : opaque(_mm_set1_epi8(static_cast<char>(0xff))),
          centre(_mm_set1_epi16(static_cast<short>(0x8000))),
          lumaK(_mm_set1_epi16(static_cast<short>(k.luma))),
          redCr(_mm_set1_epi16(static_cast<short>(k.redCr))),
          greenCb(_mm_set1_epi16(static_cast<short>(k.greenCb))),
          greenCr(_mm_set1_epi16(static_cast<short>(k.greenCr))),
          blueCb(_mm_set1_epi16(static_cast<short>(k.blueCb))),
          offset(_mm_set1_epi16(static_cast<short>(k.offset))) {}
    __m128i opaque;
    __m128i centre;
    __m128i lumaK;
    __m128i redCr;
    __m128i greenCb;
    __m128i greenCr;
    __m128i blueCb;
    __m128i offset;
};

// Sixteen pixels a step: their eight chroma pairs' terms are worked out once and each used for
// two neighbouring pixels. Returns the first column left for scalarRow().
template <bool kStreaming>
int vectorRow(const Coefficients& k, const std::uint8_t* luma, const std::uint8_t* cb,
              const std::uint8_t* cr, int width, quint32* out) {
    const __m128i zero = _mm_setzero_si128();
    const LaneFactors lanes(k);
    const auto& [opaque, centre, lumaK, redCr, greenCb, greenCr, blueCb, offset] = lanes;
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
        const auto store = [](__m128i* to, __m128i v) {
            if constexpr (kStreaming) {
                _mm_stream_si128(to, v);
            } else {
                _mm_storeu_si128(to, v);
            }
        };
        store(o, _mm_unpacklo_epi16(bgLow, raLow));
        store(o + 1, _mm_unpackhi_epi16(bgLow, raLow));
        store(o + 2, _mm_unpacklo_epi16(bgHigh, raHigh));
        store(o + 3, _mm_unpackhi_epi16(bgHigh, raHigh));
    }
    return x;
}
#endif

// The rows the boxes of one output row read: each box's two luma rows and the chroma rows
// they take their chroma from (the same one twice for a box starting on an even row).
struct BoxRows {
    int count = 0;  // 2 per box along a column
    const std::uint8_t* luma[2 * downscale::kMaxBoxes];
    const std::uint8_t* cb[2 * downscale::kMaxBoxes];
    const std::uint8_t* cr[2 * downscale::kMaxBoxes];
};

// The sums down the rows of `rows` of the luma columns in [from, to), into `luma`, and of the
// chroma columns under them, into `chroma`: per luma column that of its chroma sample (as the
// conversion takes it), Cb in the low and Cr in the high 16 bits. At most 16 rows of 255: a
// sum, and those of 8 boxes' columns, fit in 16 bits. In a picture one pixel wide, column 1
// holds column 0 again, so that every box reads its two columns as neighbours. The vector
// steps write up to 31 columns either side of the range. kRows is rows.count, fixed so that
// the loops down the rows unroll.
template <int kRows>
void columnSums(const BoxRows& rows, const BoxRows& ahead, int from, int to, int width,
                std::uint16_t* luma, std::uint32_t* chroma) {
    const int chromaWidth = (width + 1) / 2;
    const int chromaTo = (to - 1) / 2 + 1;
    int x = from;
    int c = from / 2;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    // Sixteen columns of every row a step, from a multiple of 16, while the loads stay within
    // the rows; every 64 bytes, the same part of the rows of the output row after next is
    // asked for (one row ahead leaves too little time for memory to answer).
    const auto down = [&](const std::uint8_t* const* lines, const std::uint8_t* const* next,
                          int column, __m128i& low, __m128i& high) {
        low = zero;
        high = zero;
        __m128i lowPart = zero;
        __m128i highPart = zero;
        for (int r = 0; r < kRows; ++r) {
            // A box on an even row takes both its rows' chroma from the same row.
            if (r % 2 == 0 || lines[r] != lines[r - 1]) {
                const __m128i v =
                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(lines[r] + column));
                lowPart = _mm_unpacklo_epi8(v, zero);
                highPart = _mm_unpackhi_epi8(v, zero);
            }
            low = _mm_add_epi16(low, lowPart);
            high = _mm_add_epi16(high, highPart);
        }
        if (column % 64 == 0) {
            for (int r = 0; r < kRows; ++r) {
                _mm_prefetch(reinterpret_cast<const char*>(next[r] + column), _MM_HINT_T0);
            }
        }
    };
    for (x &= ~15; x < to && x + 16 <= width; x += 16) {
        __m128i low;
        __m128i high;
        down(rows.luma, ahead.luma, x, low, high);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(luma + x), low);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(luma + x + 8), high);
    }
    for (c &= ~15; c < chromaTo && c + 16 <= chromaWidth; c += 16) {
        __m128i cbLow;
        __m128i cbHigh;
        __m128i crLow;
        __m128i crHigh;
        down(rows.cb, ahead.cb, c, cbLow, cbHigh);
        down(rows.cr, ahead.cr, c, crLow, crHigh);
        // Cb and Cr paired, each pair twice: once for each of its two luma columns.
        auto* out = reinterpret_cast<__m128i*>(chroma + 2 * c);
        const __m128i pairs[4] = {
            _mm_unpacklo_epi16(cbLow, crLow), _mm_unpackhi_epi16(cbLow, crLow),
            _mm_unpacklo_epi16(cbHigh, crHigh), _mm_unpackhi_epi16(cbHigh, crHigh)};
        for (int i = 0; i < 4; ++i) {
            _mm_storeu_si128(out + 2 * i, _mm_unpacklo_epi32(pairs[i], pairs[i]));
            _mm_storeu_si128(out + 2 * i + 1, _mm_unpackhi_epi32(pairs[i], pairs[i]));
        }
    }
#endif
    for (; x < to; ++x) {
        unsigned sum = 0;
        for (int r = 0; r < kRows; ++r) {
            sum += rows.luma[r][x];
        }
        luma[x] = static_cast<std::uint16_t>(sum);
    }
    if (width == 1) {
        luma[1] = luma[0];
    }
    for (; c < chromaTo; ++c) {
        unsigned b = 0;
        unsigned r = 0;
        for (int i = 0; i < kRows; ++i) {
            b += rows.cb[i][c];
            r += rows.cr[i][c];
        }
        chroma[2 * c] = chroma[2 * c + 1] = b | (r << 16);
    }
}

// columnSums() for rows.count of 2 to 2 * downscale::kMaxBoxes.
template <int... kBoxes>
void columnSums(std::integer_sequence<int, kBoxes...>, const BoxRows& rows, const BoxRows& ahead,
                int from, int to, int width, std::uint16_t* luma, std::uint32_t* chroma) {
    ((rows.count == 2 * (kBoxes + 1)
          ? columnSums<2 * (kBoxes + 1)>(rows, ahead, from, to, width, luma, chroma)
          : void()),
     ...);
}

// Per output pixel of a row, the sums of its `kBoxes` boxes (their first columns at `starts`)
// from columnSums(). A box's two columns are neighbours: their luma sums are read at once as the
// halves of 32 bits, their chroma sums as those of 64, and the halves added at the end.
template <int kBoxes>
void gatherBoxes(const int* starts, int width, const std::uint16_t* luma,
                 const std::uint32_t* chroma, std::uint16_t* sumY, std::uint16_t* sumCb,
                 std::uint16_t* sumCr) {
    for (int x = 0; x < width; ++x, starts += kBoxes) {
        std::uint32_t lumaPairs = 0;
        std::uint64_t chromaPairs = 0;
        for (int c = 0; c < kBoxes; ++c) {
            std::uint32_t lumaPair;
            std::uint64_t chromaPair;
            std::memcpy(&lumaPair, luma + starts[c], sizeof lumaPair);
            std::memcpy(&chromaPair, chroma + starts[c], sizeof chromaPair);
            lumaPairs += lumaPair;
            chromaPairs += chromaPair;
        }
        const auto both = static_cast<std::uint32_t>(chromaPairs + (chromaPairs >> 32));
        sumY[x] = static_cast<std::uint16_t>(lumaPairs + (lumaPairs >> 16));
        sumCb[x] = static_cast<std::uint16_t>(both);
        sumCr[x] = static_cast<std::uint16_t>(both >> 16);
    }
}

// gatherBoxes() for 1 to downscale::kMaxBoxes boxes per pixel, each count unrolled.
template <int... kCounts>
void gatherBoxes(std::integer_sequence<int, kCounts...>, int boxes, const int* starts, int width,
                 const std::uint16_t* luma, const std::uint32_t* chroma, std::uint16_t* sumY,
                 std::uint16_t* sumCb, std::uint16_t* sumCr) {
    ((boxes == kCounts + 1
          ? gatherBoxes<kCounts + 1>(starts, width, luma, chroma, sumY, sumCb, sumCr)
          : void()),
     ...);
}

void gatherBoxes(int boxes, const int* starts, int width, const std::uint16_t* luma,
                 const std::uint32_t* chroma, std::uint16_t* sumY, std::uint16_t* sumCb,
                 std::uint16_t* sumCr) {
    gatherBoxes(std::make_integer_sequence<int, downscale::kMaxBoxes>(), boxes, starts, width, luma,
                chroma, sumY, sumCb, sumCr);
}

// Sums of `count` samples (at most 256 of 255) to their average times 256, as the conversion
// takes samples: (sum * multiplier + half) >> shift, the multiplier 256 / count with as many
// fractional bits as keep it within 16 bits (the product within 32). The averages keep eight
// fractional bits: rounding them to whole codes would cost up to half a code, and round ties
// (frequent, as a chroma sample counts two or four times in a sum) one way.
struct Averaging {
    explicit Averaging(int count) {
        shift = 24;
        while (std::lround(std::ldexp(256.0 / count, shift)) > 65535) {
            --shift;
        }
        multiplier = static_cast<unsigned>(std::lround(std::ldexp(256.0 / count, shift)));
    }
    int operator()(unsigned sum) const {
        return static_cast<int>((sum * multiplier + (1u << (shift - 1))) >> shift);
    }
    unsigned multiplier = 0;
    int shift = 0;
};

// The averages of box sums converted to pixels, as convertYuvRows() converts samples.
struct Shrink {
    Coefficients k;
    Averaging average;

    quint32 pixel(unsigned y, unsigned cb, unsigned cr) const {
        return toPixel(k, average(y), chromaTerms(k, average(cb), average(cr)));
    }

#if defined(__SSE2__)
    // Eight pixels a step; returns the first column left for pixel().
    int vectorRow(const std::uint16_t* sumY, const std::uint16_t* sumCb, const std::uint16_t* sumCr,
                  int width, quint32* out) const {
        const __m128i multiplier = _mm_set1_epi16(static_cast<short>(average.multiplier));
        const __m128i half = _mm_set1_epi32(1 << (average.shift - 1));
        const __m128i shift = _mm_cvtsi32_si128(average.shift);
        const __m128i centre32 = _mm_set1_epi32(0x8000);
        const LaneFactors lanes(k);
        const auto& [opaque, centre, lumaK, redCr, greenCb, greenCr, blueCb, offset] = lanes;
        // The average times 256, less 128 * 256 so that it packs into signed 16 bits.
        const auto centred = [&](const std::uint16_t* sums) {
            const __m128i sum = _mm_loadu_si128(reinterpret_cast<const __m128i*>(sums));
            const __m128i low = _mm_mullo_epi16(sum, multiplier);
            const __m128i high = _mm_mulhi_epu16(sum, multiplier);
            const auto part = [&](__m128i product) {
                return _mm_sub_epi32(_mm_srl_epi32(_mm_add_epi32(product, half), shift), centre32);
            };
            return _mm_packs_epi32(part(_mm_unpacklo_epi16(low, high)),
                                   part(_mm_unpackhi_epi16(low, high)));
        };
        int x = 0;
        for (; x + 8 <= width; x += 8) {
            const __m128i y = _mm_mulhi_epu16(_mm_xor_si128(centred(sumY + x), centre), lumaK);
            const __m128i b = centred(sumCb + x);
            const __m128i r = centred(sumCr + x);
            const auto level = [&](__m128i terms) {
                return _mm_srai_epi16(_mm_add_epi16(y, _mm_add_epi16(terms, offset)),
                                      kFractionBits);
            };
            const __m128i red = level(_mm_mulhi_epi16(r, redCr));
            const __m128i green =
                level(_mm_add_epi16(_mm_mulhi_epi16(b, greenCb), _mm_mulhi_epi16(r, greenCr)));
            const __m128i blue = level(_mm_mulhi_epi16(b, blueCb));
            const __m128i bg =
                _mm_unpacklo_epi8(_mm_packus_epi16(blue, blue), _mm_packus_epi16(green, green));
            const __m128i ra = _mm_unpacklo_epi8(_mm_packus_epi16(red, red), opaque);
            auto* o = reinterpret_cast<__m128i*>(out + x);
            _mm_storeu_si128(o, _mm_unpacklo_epi16(bg, ra));
            _mm_storeu_si128(o + 1, _mm_unpackhi_epi16(bg, ra));
        }
        return x;
    }
#endif
};

// Converted pictures larger than this (a 2160p one, not a 1080p one) are written around the
// cache.
constexpr qint64 kStreamingBytes = 16 * 1024 * 1024;

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
                    qsizetype stride, bool readSoon) {
    const Coefficients k = coefficients(picture);
#if defined(__SSE2__)
    // The rows of a large picture are written around the cache, when aligned for it: such a
    // picture does not stay there until it is drawn anyway, and this saves reading each line
    // of the image from memory before writing it.
    const bool streaming = !readSoon &&
                           qint64(picture.width) * picture.height * 4 > kStreamingBytes &&
                           reinterpret_cast<std::uintptr_t>(out) % 16 == 0 && stride % 16 == 0;
#endif
    for (int y = top; y < top + rows; ++y, out += stride) {
        const std::uint8_t* luma = picture.planes[0] + qsizetype(y) * picture.strides[0];
        const std::uint8_t* cb = picture.planes[1] + qsizetype(y / 2) * picture.strides[1];
        const std::uint8_t* cr = picture.planes[2] + qsizetype(y / 2) * picture.strides[2];
        auto* pixels = reinterpret_cast<quint32*>(out);
        int x = 0;
#if defined(__SSE2__)
        x = streaming ? vectorRow<true>(k, luma, cb, cr, picture.width, pixels)
                      : vectorRow<false>(k, luma, cb, cr, picture.width, pixels);
#endif
        scalarRow(k, luma, cb, cr, x, picture.width, pixels);
    }
#if defined(__SSE2__)
    if (streaming) {
        _mm_sfence();
    }
#endif
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
    const Shrink shrink{coefficients(picture), Averaging(4 * columnsPer * rowsPer)};
    // The luma columns the boxes read (boxStarts() gives them in order).
    const int lumaFirst = columns.front();
    const int lumaEnd = columns.back() + nextColumn + 1;

    // The image's memory taken once, here: the parts only write their own rows of it.
    std::uint8_t* const outputBits = output.bits();
    const qsizetype outputStride = output.bytesPerLine();
    const int partCount = parts(size, pool.concurrency());
    pool.parallelFor(partCount, [&](int part) {
        const int top = partRow(size.height(), part, partCount);
        const int bottom = partRow(size.height(), part + 1, partCount);
        // Per luma column, the sums down the boxes' rows of its luma and its chroma; then
        // per output pixel those of its boxes' columns.
        const std::size_t span = std::size_t(lumaEnd) + 48;
        std::vector<std::uint16_t> lumaDown(span);
        std::vector<std::uint32_t> chromaDown(span);
        std::vector<std::uint16_t> pixelSums(3 * std::size_t(size.width()));
        std::uint16_t* sumY = pixelSums.data();
        std::uint16_t* sumCb = sumY + size.width();
        std::uint16_t* sumCr = sumCb + size.width();
        const auto boxRows = [&](int y) {
            BoxRows lines;
            lines.count = 2 * rowsPer;
            for (int r = 0; r < rowsPer; ++r) {
                const int first = rows[std::size_t(y) * rowsPer + r];
                for (int i = 0; i < 2; ++i) {
                    const int row = first + i * nextRow;
                    lines.luma[2 * r + i] = picture.planes[0] + qsizetype(row) * picture.strides[0];
                    lines.cb[2 * r + i] =
                        picture.planes[1] + qsizetype(row / 2) * picture.strides[1];
                    lines.cr[2 * r + i] =
                        picture.planes[2] + qsizetype(row / 2) * picture.strides[2];
                }
            }
            return lines;
        };
        for (int y = top; y < bottom; ++y) {
            columnSums(std::make_integer_sequence<int, kMaxBoxes>(), boxRows(y),
                       boxRows(std::min(y + 2, bottom - 1)), lumaFirst, lumaEnd, picture.width,
                       lumaDown.data(), chromaDown.data());
            gatherBoxes(columnsPer, columns.data(), size.width(), lumaDown.data(),
                        chromaDown.data(), sumY, sumCb, sumCr);
            auto* out = reinterpret_cast<quint32*>(outputBits + qsizetype(y) * outputStride);
            int x = 0;
#if defined(__SSE2__)
            x = shrink.vectorRow(sumY, sumCb, sumCr, size.width(), out);
#endif
            for (; x < size.width(); ++x) {
                out[x] = shrink.pixel(sumY[x], sumCb[x], sumCr[x]);
            }
        }
    });
    return output;
}

}  // namespace kestio::platform
