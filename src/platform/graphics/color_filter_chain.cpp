#include "platform/graphics/color_filter_chain.h"

#include <QColorSpace>
#include <algorithm>
#include <array>
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>

#include "platform/graphics/color_space.h"
#include "platform/graphics/pixel_rows.h"

namespace kestio::platform {

static_assert(std::endian::native == std::endian::little, "pixel layouts assume little endian");

namespace {

using Stage = ColorFilterChain::Stage;
using Affine = std::array<double, 12>;

constexpr Affine kIdentity = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0};

// b after a.
Affine compose(const Affine& b, const Affine& a) {
    Affine out{};
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 4; ++col) {
            double v = col == 3 ? b[row * 4 + 3] : 0.0;
            for (int k = 0; k < 3; ++k) {
                v += b[row * 4 + k] * a[k * 4 + col];
            }
            out[row * 4 + col] = v;
        }
    }
    return out;
}

Affine affineOf(const ColorControls& f) {
    // saturation: c' = s c + (1 - s) L;  contrast: k c + 0.5 (1 - k);  brightness: + b
    const double s = f.saturation;
    const double k = f.contrast;
    const double w[3] = {0.2125f, 0.7154f, 0.0721f};
    Affine m{};
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) {
            m[row * 4 + col] = k * ((1.0 - s) * w[col] + (row == col ? s : 0.0));
        }
        m[row * 4 + 3] = 0.5 * (1.0 - k) + static_cast<double>(f.brightness);
    }
    return m;
}

Affine affineOf(const HueAdjust& f) {
    // The coefficients as the per-colour function computes them (single precision).
    const Rgb r = applyHueAdjust(f, {1.0f, 0.0f, 0.0f});
    const Rgb g = applyHueAdjust(f, {0.0f, 1.0f, 0.0f});
    const Rgb b = applyHueAdjust(f, {0.0f, 0.0f, 1.0f});
    return {r.r, g.r, b.r, 0, r.g, g.g, b.g, 0, r.b, g.b, b.b, 0};
}

Affine affineOf(const ColorMatrix& f) {
    return {f.redGain, 0, 0, 0, 0, f.greenGain, 0, 0, 0, 0, f.blueGain, 0};
}

Stage toStage(const Affine& a) {
    Stage s;
    for (int i = 0; i < 12; ++i) {
        s.m[static_cast<std::size_t>(i)] = static_cast<float>(a[static_cast<std::size_t>(i)]);
    }
    return s;
}

// ---- tables -------------------------------------------------------------------------------

constexpr int kEncodeSteps = 65535;

struct Tables {
    std::array<float, 256> decode{};
    std::array<std::uint8_t, kEncodeSteps + 1> encode{};
    Tables() {
        for (int i = 0; i < 256; ++i) {
            decode[static_cast<std::size_t>(i)] = static_cast<float>(srgbToLinear(i / 255.0));
        }
        for (int i = 0; i <= kEncodeSteps; ++i) {
            const double v = linearToSrgb(static_cast<double>(i) / kEncodeSteps) * 255.0;
            encode[static_cast<std::size_t>(i)] =
                static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L));
        }
    }
};

const Tables& tables() {
    static const Tables t;
    return t;
}

// ---- kernel -------------------------------------------------------------------------------

using pixel_rows::Alpha;
using pixel_rows::Layout;

constexpr int kBlock = 64;

[[gnu::always_inline]] inline float fastLog2(float x) {
    // x > 0 and normal. Exponent plus log2 of the mantissa in [1, 2) by the atanh series
    // (error below 1e-6; measured faster than the division-free polynomials here).
    const std::uint32_t bits = std::bit_cast<std::uint32_t>(x);
    const float e = static_cast<float>(static_cast<int>(bits >> 23) - 127);
    const float m = std::bit_cast<float>((bits & 0x007fffffu) | 0x3f800000u);
    const float t = (m - 1.0f) / (m + 1.0f);
    const float t2 = t * t;
    const float series =
        1.0f +
        t2 * (1.0f / 3 + t2 * (1.0f / 5 + t2 * (1.0f / 7 + t2 * (1.0f / 9 + t2 * (1.0f / 11)))));
    return e + 2.0f * t * series * 1.44269504088896341f;
}

[[gnu::always_inline]] inline float fastExp2(float y) {
    y = std::min(std::max(-126.0f, y), 126.0f);
    const int truncated = static_cast<int>(y);
    const int n = truncated - static_cast<int>(y < static_cast<float>(truncated));
    // 2^f for f in [0, 1), as sqrt 2 * 2^(f - 0.5) by a Taylor series around 0.
    const float g = (y - static_cast<float>(n) - 0.5f) * 0.693147180559945309f;
    const float p =
        1.0f +
        g * (1.0f + g * (0.5f + g * (1.0f / 6 + g * (1.0f / 24 + g * (1.0f / 120 + g / 720)))));
    const float scale = std::bit_cast<float>(static_cast<std::uint32_t>(n + 127) << 23);
    return p * 1.41421356237309505f * scale;
}

[[gnu::always_inline]] inline void affineBlock(const float* m, float* r, float* g, float* b) {
    for (int i = 0; i < kBlock; ++i) {
        const float r0 = r[i], g0 = g[i], b0 = b[i];
        r[i] = m[0] * r0 + m[1] * g0 + m[2] * b0 + m[3];
        g[i] = m[4] * r0 + m[5] * g0 + m[6] * b0 + m[7];
        b[i] = m[8] * r0 + m[9] * g0 + m[10] * b0 + m[11];
    }
}

[[gnu::always_inline]] inline void powerBlock(float power, float* c) {
    for (int i = 0; i < kBlock; ++i) {
        // Channels at or below 0 (and NaN) give 0: computed on the smallest normal float
        // (the result stays finite, see fastExp2) and masked.
        const float x = c[i];
        const float v = fastExp2(power * fastLog2(std::max(FLT_MIN, x)));
        c[i] = v * static_cast<float>(x > 0.0f);
    }
}

[[gnu::always_inline]] inline void toIndexBlock(const float* c, std::int32_t* idx) {
    for (int i = 0; i < kBlock; ++i) {
        const float v = std::min(std::max(0.0f, c[i]), 1.0f);  // NaN goes to 0
        idx[i] = static_cast<std::int32_t>(v * static_cast<float>(kEncodeSteps) + 0.5f);
    }
}

[[gnu::always_inline]] inline std::uint32_t premultiply(std::uint32_t c, std::uint32_t a) {
    const std::uint32_t t = c * a + 128;
    return (t + (t >> 8)) >> 8;
}

[[gnu::always_inline]] inline void filterRowBody(const std::uint32_t* src, std::uint32_t* dst,
                                                 int width, const Layout layout,
                                                 const Stage* stages, int stageCount) {
    const Tables& t = tables();
    alignas(32) float r[kBlock];
    alignas(32) float g[kBlock];
    alignas(32) float b[kBlock];
    alignas(32) std::int32_t ir[kBlock];
    alignas(32) std::int32_t ig[kBlock];
    alignas(32) std::int32_t ib[kBlock];
    std::uint32_t alpha[kBlock];

    for (int x0 = 0; x0 < width; x0 += kBlock) {
        const int n = std::min(kBlock, width - x0);
        for (int i = 0; i < n; ++i) {
            const std::uint32_t p = src[x0 + i];
            std::uint32_t cr = (p >> layout.redShift) & 0xffu;
            std::uint32_t cg = (p >> 8) & 0xffu;
            std::uint32_t cb = (p >> layout.blueShift) & 0xffu;
            const std::uint32_t a = layout.alpha == Alpha::Opaque ? 0xffu : p >> 24;
            if (layout.alpha == Alpha::Premultiplied && a != 0xffu) {
                if (a == 0) {
                    cr = cg = cb = 0;
                } else {
                    cr = std::min(255u, (cr * 255 + a / 2) / a);
                    cg = std::min(255u, (cg * 255 + a / 2) / a);
                    cb = std::min(255u, (cb * 255 + a / 2) / a);
                }
            }
            alpha[i] = a;
            r[i] = t.decode[cr];
            g[i] = t.decode[cg];
            b[i] = t.decode[cb];
        }
        for (int i = n; i < kBlock; ++i) {
            r[i] = g[i] = b[i] = 0.0f;
        }
        for (int s = 0; s < stageCount; ++s) {
            if (stages[s].isPower) {
                powerBlock(stages[s].power, r);
                powerBlock(stages[s].power, g);
                powerBlock(stages[s].power, b);
            } else {
                affineBlock(stages[s].m.data(), r, g, b);
            }
        }
        toIndexBlock(r, ir);
        toIndexBlock(g, ig);
        toIndexBlock(b, ib);
        for (int i = 0; i < n; ++i) {
            std::uint32_t cr = t.encode[static_cast<std::size_t>(ir[i])];
            std::uint32_t cg = t.encode[static_cast<std::size_t>(ig[i])];
            std::uint32_t cb = t.encode[static_cast<std::size_t>(ib[i])];
            const std::uint32_t a = alpha[i];
            if (layout.alpha == Alpha::Premultiplied && a != 0xffu) {
                cr = premultiply(cr, a);
                cg = premultiply(cg, a);
                cb = premultiply(cb, a);
            }
            dst[x0 + i] =
                (a << 24) | (cr << layout.redShift) | (cg << 8) | (cb << layout.blueShift);
        }
    }
}

using RowFilter = void (*)(const std::uint32_t*, std::uint32_t*, int, Layout, const Stage*, int);

// The row filter compiled twice: for AVX2 with FMA (8 floats a step) and for the baseline.
// Chosen at run time here rather than through an ifunc, whose resolver runs before the
// sanitizer runtimes are ready.
[[gnu::target("arch=x86-64-v3")]] void filterRowV3(const std::uint32_t* src, std::uint32_t* dst,
                                                   int width, Layout layout, const Stage* stages,
                                                   int stageCount) {
    filterRowBody(src, dst, width, layout, stages, stageCount);
}

void filterRowBaseline(const std::uint32_t* src, std::uint32_t* dst, int width, Layout layout,
                       const Stage* stages, int stageCount) {
    filterRowBody(src, dst, width, layout, stages, stageCount);
}

RowFilter rowFilter() {
    static const RowFilter chosen = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")
                                        ? filterRowV3
                                        : filterRowBaseline;
    return chosen;
}

}  // namespace

ColorFilterChain::ColorFilterChain(std::vector<ColorFilter> filters)
    : filters_(std::move(filters)) {
    if (platform::isIdentity(filters_)) {
        return;
    }
    std::optional<Affine> pending;
    auto flush = [&] {
        if (pending) {
            stages_.push_back(toStage(*pending));
            pending.reset();
        }
    };
    for (const auto& filter : filters_) {
        if (const auto* gamma = std::get_if<GammaAdjust>(&filter)) {
            if (gamma->isNeutral()) {
                continue;
            }
            flush();
            Stage s;
            s.isPower = true;
            s.power = gamma->power;
            stages_.push_back(s);
            continue;
        }
        const Affine a = std::visit(
            [](const auto& f) -> Affine {
                if constexpr (std::is_same_v<std::decay_t<decltype(f)>, GammaAdjust>) {
                    return kIdentity;
                } else {
                    return affineOf(f);
                }
            },
            filter);
        pending = compose(a, pending.value_or(kIdentity));
    }
    flush();
}

Rgb ColorFilterChain::apply(Rgb c) const {
    for (const auto& s : stages_) {
        if (s.isPower) {
            auto p = [&](float v) { return v > 0.0f ? std::pow(v, s.power) : 0.0f; };
            c = {p(c.r), p(c.g), p(c.b)};
        } else {
            const auto& m = s.m;
            c = {m[0] * c.r + m[1] * c.g + m[2] * c.b + m[3],
                 m[4] * c.r + m[5] * c.g + m[6] * c.b + m[7],
                 m[8] * c.r + m[9] * c.g + m[10] * c.b + m[11]};
        }
    }
    return c;
}

QImage ColorFilterChain::apply(const QImage& image, WorkerPool& pool) const {
    if (isIdentity() || image.isNull()) {
        return image;
    }
    Layout layout{};
    const QImage source = pixel_rows::inKernelLayout(image, layout);
    QImage out(source.size(), source.format());
    if (out.isNull()) {
        return image;  // could not allocate: show the picture uncorrected
    }
    out.setColorSpace(source.colorSpace());
    out.setDevicePixelRatio(source.devicePixelRatio());

    const int height = source.height();
    const int width = source.width();
    const Stage* stages = stages_.data();
    const int stageCount = static_cast<int>(stages_.size());
    const uchar* srcBits = source.constBits();
    uchar* dstBits = out.bits();
    const qsizetype srcStride = source.bytesPerLine();
    const qsizetype dstStride = out.bytesPerLine();
    const RowFilter filterRow = rowFilter();
    auto rows = [&](int from, int to) {
        for (int y = from; y < to; ++y) {
            filterRow(reinterpret_cast<const std::uint32_t*>(srcBits + y * srcStride),
                      reinterpret_cast<std::uint32_t*>(dstBits + y * dstStride), width, layout,
                      stages, stageCount);
        }
    };
    pixel_rows::forEachRowBand(width, height, pool, rows);
    return out;
}

}  // namespace kestio::platform
