#pragma once

#include <QImage>
#include <array>
#include <cstdint>
#include <vector>

#include "platform/graphics/color_filter_chain.h"
#include "platform/graphics/worker_pool.h"
#include "platform/graphics/yuv_picture.h"

namespace kestio::platform {

// A colour filter chain folded into lookup tables, for correcting whole pictures at frame
// rate. Built from a ColorFilterChain (whose per-pixel path stays the reference) on every
// settings change; it agrees with that path to within one 8-bit step per channel, keeps the
// image formats it keeps, and keeps alpha (colour is filtered unpremultiplied).
//
// How the chain is folded. The whole chain maps an 8-bit colour to an 8-bit colour:
//   decode -> per-channel steps -> one mixing matrix -> per-channel steps -> clamp -> encode.
// Settings always have this shape: colour controls and hue fold into one 3x4 matrix (the only
// step that mixes channels), gamma and gains act on each channel alone. So the table is a
// 3D lookup in three parts:
//   - an input shaper per channel: 256 floats, the decoded value after the steps before the
//     matrix, exact for every code;
//   - the 3D part: the matrix itself. Any grid interpolated linearly (trilinear or tetrahedral)
//     over the shaped values reproduces an affine map exactly, so a grid would only add error
//     near its cells' edges and cost twelve table reads a pixel where the matrix costs nine
//     multiply-adds;
//   - an output curve per channel: the steps after the matrix, the clamp and the encoding, in
//     16-bit fixed point, indexed by the bits of the float (128 entries an octave, from zero
//     through every denormal up to the largest value the matrix can give) and interpolated
//     linearly inside an entry. Indexing by the exponent keeps the steep parts exact: a
//     gamma of 0.1 maps 1e-30 to code 3, and the encoding's slope near black is 3300 codes
//     per unit. A uniform grid or curve would need millions of entries for that; this one
//     has about 17 000 a channel. Between entries the curve is smooth (error below 0.01 of a
//     step) except where it bends sharply, at the clamp to white: there one entry spans at
//     most 255 * gamma / 2.4 / 128 steps of output (2.5 at a gamma of 3), and interpolating
//     across the bend is off by at most a quarter of that, 0.63 of a step.
// The output is rounded from the interpolated value and the reference rounds from its exact
// value: less than one step apart before rounding, they differ by at most one after it (and
// mostly not at all). This holds for a gamma up to 4.5; a steeper one loosens it in
// proportion.
//
// A chain with several mixing steps separated by gamma (not built from settings, but
// allowed by ColorFilterChain) has no such shape: such a table runs the reference path.
//
// Where a gamma far below 1 follows a mixing step, a channel that cancels to within about
// 1e-7 of zero turns on how the matrix product is rounded (a gamma of 0.1 takes 1e-7 to
// code 124 and -1e-7 to 0). The AVX2 kernel rounds it as the reference's AVX2 build does and
// the portable kernel as the reference's baseline build, so each agrees with its own; across
// builds such pixels may differ by more than a step.
//
// Pixels are processed eight at a time with AVX2 when the processor has it (chosen at run
// time), otherwise one at a time by portable code; rows are spread over a worker pool. An
// immutable ColorLut may be used by several threads at once.
class ColorLut {
  public:
    ColorLut() = default;  // the identity
    explicit ColorLut(const ColorFilterChain& chain);

    // True when apply() returns its input untouched.
    bool isIdentity() const { return identity_; }

    enum class Kernel { Fastest, Portable };

    // The picture corrected. Formats as ColorFilterChain::apply: the six 32-bit RGB formats
    // keep theirs, any other is converted to ARGB32_Premultiplied (RGB32 without alpha)
    // first. An identity table or a null image returns the same image.
    QImage apply(const QImage& image, WorkerPool& pool = WorkerPool::shared(),
                 Kernel kernel = Kernel::Fastest) const;

    // As apply(), writing into `out` when it already has the result's size and format and is
    // not shared (a frame buffer kept from the last call); otherwise `out` is replaced.
    void applyInto(const QImage& image, QImage& out, WorkerPool& pool = WorkerPool::shared(),
                   Kernel kernel = Kernel::Fastest) const;

    // A picture kept as decoded, converted and corrected in one pass (Format_RGB32): each row is
    // converted into a row of scratch and corrected from there into the result, so no image of
    // the converted picture is made.
    QImage apply(const YuvPicture& picture, WorkerPool& pool = WorkerPool::shared(),
                 Kernel kernel = Kernel::Fastest) const;

    // The table's parts, for the kernels.
    struct OutputCurve {
        std::vector<std::uint16_t> codes;  // code * 256, positive entries then negative ones
        std::uint32_t positiveLimit = 0;   // float bits at or above which values are clamped
        std::uint32_t negativeLimit = 0;   // the same for the magnitude of negative values
        std::uint32_t negativeBase = 0;    // index of the first negative entry
    };
    struct Tables {
        std::array<std::array<float, 256>, 3> input{};
        std::array<float, 12> matrix{};  // rows of [r g b offset]
        std::array<OutputCurve, 3> output;
    };

  private:
    bool identity_ = true;
    bool usesChain_ = false;  // no lookup shape: the reference path runs
    ColorFilterChain chain_;
    Tables tables_;
};

}  // namespace kestio::platform
