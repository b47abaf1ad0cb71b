#include "platform/graphics/color_lut.h"

#include <QColorSpace>
#include <algorithm>
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "platform/graphics/color_space.h"
#include "platform/graphics/pixel_rows.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace kestio::platform {

static_assert(std::endian::native == std::endian::little, "pixel layouts assume little endian");

namespace {

using Tables = ColorLut::Tables;
using OutputCurve = ColorLut::OutputCurve;
using Stage = ColorFilterChain::Stage;

// ---- building -----------------------------------------------------------------------------

// One step on one channel: a power, or v * scale + offset.
struct Op {
    bool isPower = false;
    float power = 1.0f;
    float scale = 1.0f;
    float offset = 0.0f;
    bool operator==(const Op&) const = default;
};
using Ops = std::vector<Op>;

bool mixes(const Stage& s) {
    const auto& m = s.m;
    return !s.isPower && (m[1] != 0.0f || m[2] != 0.0f || m[4] != 0.0f || m[6] != 0.0f ||
                          m[8] != 0.0f || m[9] != 0.0f);
}

Op opOf(const Stage& s, int channel) {
    if (s.isPower) {
        return {true, s.power, 1.0f, 0.0f};
    }
    const auto c = static_cast<std::size_t>(channel);
    return {false, 1.0f, s.m[c * 5], s.m[c * 4 + 3]};
}

float run(const Ops& ops, float v) {
    for (const Op& op : ops) {
        if (op.isPower) {
            v = v > 0.0f ? std::pow(v, op.power) : 0.0f;
        } else {
            v = v * op.scale + op.offset;
        }
    }
    return v;
}

// Linear light to the encoded value in 1/256 steps of a code; NaN and below 0 give 0.
std::uint16_t encodeFixed(float v) {
    if (!(v > 0.0f)) {
        return 0;
    }
    if (v >= 1.0f) {
        return 255 * 256;
    }
    const double e = linearToSrgb(v) * (255.0 * 256.0);
    return static_cast<std::uint16_t>(std::lround(std::min(e, 255.0 * 256.0)));
}

// True when every value at or below zero leaves `ops` and the clamp as the same value.
bool negativesAreConstant(const Ops& ops) {
    double lo = -std::numeric_limits<double>::infinity();
    double hi = 0.0;
    for (const Op& op : ops) {
        if (op.isPower) {
            if (hi <= 0.0) {
                lo = hi = 0.0;
            } else {
                lo = 0.0;
                hi = std::numeric_limits<double>::infinity();
            }
        } else if (op.scale == 0.0f) {
            lo = hi = op.offset;
        } else {
            const double a = lo * op.scale + op.offset;
            const double b = hi * op.scale + op.offset;
            lo = std::min(a, b);
            hi = std::max(a, b);
        }
        if (std::isnan(lo) || std::isnan(hi)) {
            return false;
        }
    }
    return lo == hi || hi <= 0.0 || lo >= 1.0;
}

constexpr int kFractionBits = 16;  // float bits below the entry index: 128 entries an octave

// The entry index at or above which magnitudes up to `bound` all lie.
std::uint32_t limitFor(double bound) {
    constexpr std::uint32_t kLargest = 0x7f7fu;  // the last octave below infinity
    if (!(bound <= static_cast<double>(FLT_MAX) / 4)) {
        return kLargest;
    }
    const int e = bound > 0.0 ? std::max(-126, std::ilogb(bound) + 1) : -126;
    return static_cast<std::uint32_t>(127 + e) << 7;
}

void fillCurve(std::uint16_t* out, std::uint32_t limit, float sign, const Ops& ops) {
    for (std::uint32_t i = 0; i <= limit + 1; ++i) {
        const float v = std::bit_cast<float>(i << kFractionBits);
        out[i] = encodeFixed(run(ops, sign * v));
    }
}

OutputCurve buildCurve(const Ops& ops, double bound) {
    OutputCurve c;
    const std::uint32_t positive = limitFor(bound);
    const bool constant = negativesAreConstant(ops);
    const std::uint32_t negative = constant ? 0 : positive;
    c.positiveLimit = positive << kFractionBits;
    c.negativeLimit = negative << kFractionBits;
    c.negativeBase = positive + 2;
    c.codes.resize(static_cast<std::size_t>(positive) + 2 + negative + 2);
    fillCurve(c.codes.data(), positive, 1.0f, ops);
    fillCurve(c.codes.data() + c.negativeBase, negative, -1.0f, ops);
    return c;
}

// ---- kernels ------------------------------------------------------------------------------

using pixel_rows::Alpha;
using pixel_rows::Layout;

inline std::uint32_t curveCode(const OutputCurve& c, float v) {
    const std::uint32_t bits = std::bit_cast<std::uint32_t>(v);
    const bool negative = (bits >> 31) != 0;
    const std::uint32_t magnitude =
        std::min(bits & 0x7fffffffu, negative ? c.negativeLimit : c.positiveLimit);
    const std::uint32_t index = (magnitude >> kFractionBits) + (negative ? c.negativeBase : 0u);
    const std::int32_t lo = c.codes[index];
    const std::int32_t hi = c.codes[index + 1];
    const auto fraction = static_cast<std::int32_t>((magnitude >> 1) & 0x7fffu);
    const std::int32_t fixed = lo + (((hi - lo) * fraction) >> 15);
    return static_cast<std::uint32_t>(fixed + 128) >> 8;
}

inline std::uint32_t premultiply(std::uint32_t c, std::uint32_t a) {
    const std::uint32_t t = c * a + 128;
    return (t + (t >> 8)) >> 8;
}

inline std::uint32_t unpremultiply(std::uint32_t c, std::uint32_t a) {
    return a == 0 ? 0 : std::min(255u, (c * 255 + a / 2) / a);
}

inline std::uint32_t pixel(std::uint32_t p, const Tables& t, const Layout layout) {
    std::uint32_t cr = (p >> layout.redShift) & 0xffu;
    std::uint32_t cg = (p >> 8) & 0xffu;
    std::uint32_t cb = (p >> layout.blueShift) & 0xffu;
    const std::uint32_t a = layout.alpha == Alpha::Opaque ? 0xffu : p >> 24;
    const bool translucent = layout.alpha == Alpha::Premultiplied && a != 0xffu;
    if (translucent) {
        cr = unpremultiply(cr, a);
        cg = unpremultiply(cg, a);
        cb = unpremultiply(cb, a);
    }
    const float r = t.input[0][cr];
    const float g = t.input[1][cg];
    const float b = t.input[2][cb];
    const float* m = t.matrix.data();
    cr = curveCode(t.output[0], m[0] * r + m[1] * g + m[2] * b + m[3]);
    cg = curveCode(t.output[1], m[4] * r + m[5] * g + m[6] * b + m[7]);
    cb = curveCode(t.output[2], m[8] * r + m[9] * g + m[10] * b + m[11]);
    if (translucent) {
        cr = premultiply(cr, a);
        cg = premultiply(cg, a);
        cb = premultiply(cb, a);
    }
    return (a << 24) | (cr << layout.redShift) | (cg << 8) | (cb << layout.blueShift);
}

using RowKernel = void (*)(const std::uint32_t*, std::uint32_t*, int, const Tables&, Layout);

void rowPortable(const std::uint32_t* src, std::uint32_t* dst, int width, const Tables& t,
                 Layout layout) {
    for (int x = 0; x < width; ++x) {
        dst[x] = pixel(src[x], t, layout);
    }
}

#if defined(__x86_64__)

#define KESTIO_AVX2 [[gnu::target("avx2,fma")]]

KESTIO_AVX2 inline __m256i curveCodes(const OutputCurve& c, __m256 v) {
    const __m256i bits = _mm256_castps_si256(v);
    const __m256i negative = _mm256_srai_epi32(bits, 31);
    const __m256i limit =
        _mm256_blendv_epi8(_mm256_set1_epi32(static_cast<int>(c.positiveLimit)),
                           _mm256_set1_epi32(static_cast<int>(c.negativeLimit)), negative);
    const __m256i magnitude =
        _mm256_min_epu32(_mm256_and_si256(bits, _mm256_set1_epi32(0x7fffffff)), limit);
    const __m256i index = _mm256_add_epi32(
        _mm256_srli_epi32(magnitude, kFractionBits),
        _mm256_and_si256(negative, _mm256_set1_epi32(static_cast<int>(c.negativeBase))));
    // Four bytes from entry `index`: that entry in the low half, the next in the high one.
    const __m256i pair =
        _mm256_i32gather_epi32(reinterpret_cast<const int*>(c.codes.data()), index, 2);
    const __m256i lo = _mm256_and_si256(pair, _mm256_set1_epi32(0xffff));
    const __m256i hi = _mm256_srli_epi32(pair, 16);
    const __m256i fraction =
        _mm256_and_si256(_mm256_srli_epi32(magnitude, 1), _mm256_set1_epi32(0x7fff));
    const __m256i step =
        _mm256_srai_epi32(_mm256_mullo_epi32(_mm256_sub_epi32(hi, lo), fraction), 15);
    return _mm256_srli_epi32(_mm256_add_epi32(_mm256_add_epi32(lo, step), _mm256_set1_epi32(128)),
                             8);
}

KESTIO_AVX2 inline __m256i unpremultiplied(__m256i c, __m256i a, __m256 alpha, __m256i clear) {
    // (c * 255 + a / 2) / a, below 255: the quotient of two exact floats truncates right
    // since the true one is never within 1/255 under an integer it does not reach.
    const __m256i num =
        _mm256_add_epi32(_mm256_sub_epi32(_mm256_slli_epi32(c, 8), c), _mm256_srli_epi32(a, 1));
    const __m256i q = _mm256_cvttps_epi32(_mm256_div_ps(_mm256_cvtepi32_ps(num), alpha));
    return _mm256_andnot_si256(clear, _mm256_min_epi32(q, _mm256_set1_epi32(255)));
}

KESTIO_AVX2 inline __m256i premultiplied(__m256i c, __m256i a) {
    const __m256i t = _mm256_add_epi32(_mm256_mullo_epi32(c, a), _mm256_set1_epi32(128));
    return _mm256_srli_epi32(_mm256_add_epi32(t, _mm256_srli_epi32(t, 8)), 8);
}

// Rounded as the reference's AVX2 build rounds m0 r + m1 g + m2 b + m3 (and the portable
// kernel as its baseline build): where a gamma far below 1 follows a mixing step, a channel
// that cancels to within 1e-7 of zero turns on the rounding of these sums.
KESTIO_AVX2 inline __m256 matrixRow(const float* m, __m256 r, __m256 g, __m256 b) {
    __m256 sum = _mm256_fmadd_ps(_mm256_set1_ps(m[0]), r, _mm256_mul_ps(_mm256_set1_ps(m[1]), g));
    sum = _mm256_fmadd_ps(_mm256_set1_ps(m[2]), b, sum);
    return _mm256_add_ps(sum, _mm256_set1_ps(m[3]));
}

KESTIO_AVX2 void rowAvx2(const std::uint32_t* src, std::uint32_t* dst, int width, const Tables& t,
                         Layout layout) {
    const float* m = t.matrix.data();
    const __m128i redShift = _mm_cvtsi32_si128(layout.redShift);
    const __m128i blueShift = _mm_cvtsi32_si128(layout.blueShift);
    const __m256i byte = _mm256_set1_epi32(0xff);
    const bool premultipliedLayout = layout.alpha == Alpha::Premultiplied;
    int x = 0;
    for (; x + 8 <= width; x += 8) {
        const __m256i p = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + x));
        __m256i cr = _mm256_and_si256(_mm256_srl_epi32(p, redShift), byte);
        __m256i cg = _mm256_and_si256(_mm256_srli_epi32(p, 8), byte);
        __m256i cb = _mm256_and_si256(_mm256_srl_epi32(p, blueShift), byte);
        const __m256i a = layout.alpha == Alpha::Opaque ? byte : _mm256_srli_epi32(p, 24);
        const bool translucent =
            premultipliedLayout &&
            _mm256_movemask_epi8(_mm256_cmpeq_epi32(a, byte)) != static_cast<int>(0xffffffffu);
        if (translucent) {
            const __m256 alpha = _mm256_cvtepi32_ps(a);
            const __m256i clear = _mm256_cmpeq_epi32(a, _mm256_setzero_si256());
            cr = unpremultiplied(cr, a, alpha, clear);
            cg = unpremultiplied(cg, a, alpha, clear);
            cb = unpremultiplied(cb, a, alpha, clear);
        }
        const __m256 r = _mm256_i32gather_ps(t.input[0].data(), cr, 4);
        const __m256 g = _mm256_i32gather_ps(t.input[1].data(), cg, 4);
        const __m256 b = _mm256_i32gather_ps(t.input[2].data(), cb, 4);
        cr = curveCodes(t.output[0], matrixRow(m, r, g, b));
        cg = curveCodes(t.output[1], matrixRow(m + 4, r, g, b));
        cb = curveCodes(t.output[2], matrixRow(m + 8, r, g, b));
        if (translucent) {
            cr = premultiplied(cr, a);
            cg = premultiplied(cg, a);
            cb = premultiplied(cb, a);
        }
        __m256i out = _mm256_or_si256(_mm256_slli_epi32(a, 24), _mm256_slli_epi32(cg, 8));
        out = _mm256_or_si256(out, _mm256_sll_epi32(cr, redShift));
        out = _mm256_or_si256(out, _mm256_sll_epi32(cb, blueShift));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + x), out);
    }
    rowPortable(src + x, dst + x, width - x, t, layout);
}

#undef KESTIO_AVX2

#endif

RowKernel rowKernel(ColorLut::Kernel kernel) {
#if defined(__x86_64__)
    // Chosen at run time here rather than through an ifunc, whose resolver runs before the
    // sanitizer runtimes are ready.
    static const bool avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    if (kernel == ColorLut::Kernel::Fastest && avx2) {
        return rowAvx2;
    }
#else
    (void)kernel;
#endif
    return rowPortable;
}

}  // namespace

ColorLut::ColorLut(const ColorFilterChain& chain) : identity_(chain.isIdentity()), chain_(chain) {
    if (identity_) {
        return;
    }
    const auto& stages = chain.stages();
    std::vector<std::size_t> mixing;
    for (std::size_t i = 0; i < stages.size(); ++i) {
        if (mixes(stages[i])) {
            mixing.push_back(i);
        }
    }
    if (mixing.size() > 1) {
        usesChain_ = true;
        return;
    }
    // Per-channel steps before and after the one mixing step (all before it when none).
    const std::size_t split = mixing.empty() ? stages.size() : mixing.front();
    tables_.matrix = mixing.empty() ? std::array<float, 12>{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0}
                                    : stages[split].m;
    std::array<Ops, 3> before;
    std::array<Ops, 3> after;
    for (int c = 0; c < 3; ++c) {
        auto& ops = before[static_cast<std::size_t>(c)];
        for (std::size_t i = 0; i < split; ++i) {
            ops.push_back(opOf(stages[i], c));
        }
        for (std::size_t i = split + 1; i < stages.size(); ++i) {
            after[static_cast<std::size_t>(c)].push_back(opOf(stages[i], c));
        }
    }

    std::array<double, 3> largest{};  // magnitude bound of each shaped channel
    for (std::size_t c = 0; c < 3; ++c) {
        auto& input = tables_.input[c];
        if (c > 0 && before[c] == before[0]) {
            input = tables_.input[0];
        } else {
            for (int i = 0; i < 256; ++i) {
                const auto decoded = static_cast<float>(srgbToLinear(i / 255.0));
                input[static_cast<std::size_t>(i)] = run(before[c], decoded);
            }
        }
        for (const float v : input) {
            largest[c] = std::max(largest[c], static_cast<double>(std::abs(v)));
            if (std::isnan(v)) {
                largest[c] = std::numeric_limits<double>::infinity();
            }
        }
    }
    std::array<double, 3> bounds{};
    for (std::size_t row = 0; row < 3; ++row) {
        const float* m = tables_.matrix.data() + row * 4;
        double bound = std::abs(static_cast<double>(m[3]));
        for (std::size_t k = 0; k < 3; ++k) {
            if (m[k] != 0.0f) {
                bound += std::abs(static_cast<double>(m[k])) * largest[k];
            }
        }
        // Room for the rounding of float arithmetic in the kernels.
        bounds[row] = bound * 1.001 + 1e-30;
    }
    for (std::size_t c = 0; c < 3; ++c) {
        bool shared = false;
        for (std::size_t o = 0; o < c && !shared; ++o) {
            if (after[c] == after[o] && bounds[c] == bounds[o]) {
                tables_.output[c] = tables_.output[o];
                shared = true;
            }
        }
        if (!shared) {
            tables_.output[c] = buildCurve(after[c], bounds[c]);
        }
    }
}

QImage ColorLut::apply(const QImage& image, WorkerPool& pool, Kernel kernel) const {
    QImage out;
    applyInto(image, out, pool, kernel);
    return out;
}

QImage ColorLut::apply(const YuvPicture& picture, WorkerPool& pool, Kernel kernel) const {
    if (identity_ || usesChain_) {
        return apply(convertedYuv(picture, pool), pool, kernel);
    }
    QImage out(picture.width, picture.height, QImage::Format_RGB32);
    if (out.isNull()) {
        return out;
    }
    Layout layout{};
    pixel_rows::layoutOf(out.format(), layout);
    const int width = picture.width;
    uchar* dstBits = out.bits();
    const qsizetype dstStride = out.bytesPerLine();
    const RowKernel row = rowKernel(kernel);
    const Tables& tables = tables_;
    auto rows = [&](int from, int to) {
        std::vector<std::uint32_t> converted(static_cast<std::size_t>(width));
        for (int y = from; y < to; ++y) {
            convertYuvRows(picture, y, 1, reinterpret_cast<std::uint8_t*>(converted.data()), 0,
                           true);
            row(converted.data(), reinterpret_cast<std::uint32_t*>(dstBits + y * dstStride), width,
                tables, layout);
        }
    };
    pixel_rows::forEachRowBand(width, picture.height, pool, rows);
    return out;
}

void ColorLut::applyInto(const QImage& image, QImage& out, WorkerPool& pool, Kernel kernel) const {
    if (identity_ || image.isNull()) {
        out = image;
        return;
    }
    if (usesChain_) {
        out = chain_.apply(image, pool);
        return;
    }
    Layout layout{};
    const QImage source = pixel_rows::inKernelLayout(image, layout);
    if (out.size() != source.size() || out.format() != source.format() || !out.isDetached() ||
        out.constBits() == source.constBits()) {
        out = QImage(source.size(), source.format());
        if (out.isNull()) {
            out = image;  // could not allocate: show the picture uncorrected
            return;
        }
    }
    out.setColorSpace(source.colorSpace());
    out.setDevicePixelRatio(source.devicePixelRatio());

    const int height = source.height();
    const int width = source.width();
    const uchar* srcBits = source.constBits();
    uchar* dstBits = out.bits();
    const qsizetype srcStride = source.bytesPerLine();
    const qsizetype dstStride = out.bytesPerLine();
    const RowKernel row = rowKernel(kernel);
    const Tables& tables = tables_;
    auto rows = [&](int from, int to) {
        for (int y = from; y < to; ++y) {
            row(reinterpret_cast<const std::uint32_t*>(srcBits + y * srcStride),
                reinterpret_cast<std::uint32_t*>(dstBits + y * dstStride), width, tables, layout);
        }
    };
    pixel_rows::forEachRowBand(width, height, pool, rows);
}

}  // namespace kestio::platform
