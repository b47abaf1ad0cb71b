#include "platform/media/field_deinterlace.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

namespace kestio::platform::media {

namespace {

// Out of both neighbours by more than this, in 8-bit steps: below it, the noise of a still
// picture; above it, two fields that do not belong together.
constexpr int kCombStep = 9;

// Rows are read and written through memcpy: a plane's stride need not keep 16-bit samples
// aligned (the compiler makes plain loads of it).
template <typename Sample>
Sample sampleAt(const std::uint8_t* row, int x) {
    Sample value;
    std::memcpy(&value, row + static_cast<std::size_t>(x) * sizeof(Sample), sizeof(Sample));
    return value;
}

template <typename Sample>
void deinterlaceRow(const std::uint8_t* above, const std::uint8_t* row, const std::uint8_t* below,
                    std::uint8_t* out, int samples, int threshold) {
    for (int x = 0; x < samples; ++x) {
        const int a = sampleAt<Sample>(above, x);
        const int b = sampleAt<Sample>(row, x);
        const int c = sampleAt<Sample>(below, x);
        const int up = b - a;
        const int down = b - c;
        const bool combed =
            (up > threshold && down > threshold) || (up < -threshold && down < -threshold);
        const auto value = combed ? static_cast<Sample>((a + c + 1) / 2) : static_cast<Sample>(b);
        std::memcpy(out + static_cast<std::size_t>(x) * sizeof(Sample), &value, sizeof(Sample));
    }
}

}  // namespace

bool isInterlaced(const AVFrame& frame) {
#ifdef AV_FRAME_FLAG_INTERLACED
    return (frame.flags & AV_FRAME_FLAG_INTERLACED) != 0;
#else
    return frame.interlaced_frame != 0;
#endif
}

namespace {

bool topFieldFirst(const AVFrame& frame) {
#ifdef AV_FRAME_FLAG_TOP_FIELD_FIRST
    return (frame.flags & AV_FRAME_FLAG_TOP_FIELD_FIRST) != 0;
#else
    return frame.top_field_first != 0;
#endif
}

// Bytes of one sample of `desc`'s format: 1 or 2, or 0 when its samples are not whole bytes or
// words in native order.
int sampleBytesOf(const AVPixFmtDescriptor& desc) {
    if ((desc.flags & (AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_BITSTREAM |
                       AV_PIX_FMT_FLAG_BE)) != 0 ||
        desc.nb_components == 0) {
        return 0;
    }
    const int depth = desc.comp[0].depth + desc.comp[0].shift;
    const int bytes = depth <= 8 ? 1 : depth <= 16 ? 2 : 0;
    for (int i = 0; i < desc.nb_components; ++i) {
        const AVComponentDescriptor& comp = desc.comp[i];
        const bool whole = bytes == 1 ? comp.depth == 8 && comp.shift == 0
                                      : comp.depth > 8 && comp.depth + comp.shift <= 16;
        if (!whole || comp.depth + comp.shift != depth || comp.step % bytes != 0) {
            return 0;
        }
    }
    return bytes;
}

}  // namespace

bool canDeinterlace(int format) {
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(format));
    return desc != nullptr && sampleBytesOf(*desc) != 0;
}

void deinterlacePlane(const std::uint8_t* src, std::ptrdiff_t srcStride, std::uint8_t* dst,
                      std::ptrdiff_t dstStride, int samples, int rows, int sampleBytes,
                      bool keepEven, int threshold) {
    const std::size_t rowBytes = static_cast<std::size_t>(samples) * sampleBytes;
    for (int y = 0; y < rows; ++y) {
        const std::uint8_t* row = src + y * srcStride;
        std::uint8_t* out = dst + y * dstStride;
        const bool kept = (y % 2 == 0) == keepEven;
        if (kept || rows < 2) {
            std::memcpy(out, row, rowBytes);
            continue;
        }
        // The kept field's rows around this one; a picture's edge row has one of them only.
        const std::uint8_t* above = src + (y > 0 ? y - 1 : y + 1) * srcStride;
        const std::uint8_t* below = src + (y + 1 < rows ? y + 1 : y - 1) * srcStride;
        if (sampleBytes == 2) {
            deinterlaceRow<std::uint16_t>(above, row, below, out, samples, threshold);
        } else {
            deinterlaceRow<std::uint8_t>(above, row, below, out, samples, threshold);
        }
    }
}

bool deinterlace(const AVFrame& in, AVFrame& out) {
    const auto format = static_cast<AVPixelFormat>(in.format);
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    if (desc == nullptr || out.format != in.format || out.width != in.width ||
        out.height != in.height) {
        return false;
    }
    const int bytes = sampleBytesOf(*desc);
    if (bytes == 0) {
        return false;
    }
    const int depth = desc->comp[0].depth + desc->comp[0].shift;
    const int threshold = kCombStep << (depth - 8);
    const bool keepEven = topFieldFirst(in);
    const int planes = av_pix_fmt_count_planes(format);
    for (int p = 0; p < planes; ++p) {
        const int lineBytes = av_image_get_linesize(format, in.width, p);
        if (lineBytes <= 0 || in.data[p] == nullptr || out.data[p] == nullptr) {
            return false;
        }
        // Planes 1 and 2 carry chroma, at the format's vertical subsampling.
        const int rows =
            (p == 1 || p == 2) ? AV_CEIL_RSHIFT(in.height, desc->log2_chroma_h) : in.height;
        deinterlacePlane(in.data[p], in.linesize[p], out.data[p], out.linesize[p],
                         lineBytes / bytes, rows, bytes, keepEven, threshold);
    }
    return true;
}

}  // namespace kestio::platform::media
