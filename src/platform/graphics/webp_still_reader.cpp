#include "platform/graphics/webp_still_reader.h"

#include <webp/decode.h>
#include <webp/demux.h>

#include <QColorSpace>
#include <QImage>
#include <cstdint>
#include <string>

namespace kestio::platform {

namespace {

const std::uint8_t* dataOf(const QByteArray& bytes) {
    return reinterpret_cast<const std::uint8_t*>(bytes.constData());
}

// What libwebp keeps beside the picture it hands back, measured in its sources (1.2): a
// lossless picture is decoded whole at 4 bytes a pixel, as its references reach anywhere back;
// a lossy one is decoded by rows of macroblocks, with its alpha plane whole at a byte a pixel.
qint64 workingBytes(const WebPBitstreamFeatures& features) {
    const qint64 pixels = qint64(features.width) * features.height;
    constexpr int kLossless = 2;
    if (features.format == kLossless) {
        return 4 * pixels;
    }
    // Three rows of 16-pixel macroblocks in YUV with their borders, and the rescaler's rows.
    const qint64 rows = 3 * 16 * 2 * qint64(features.width) + 16 * 4 * qint64(features.width);
    return rows + (features.has_alpha ? pixels : 0);
}

DecodedStill undecodable(VP8StatusCode status) {
    if (status == VP8_STATUS_NOT_ENOUGH_DATA) {
        return stillFailure(StillProblem::truncated, "truncated WebP data", "WebP");
    }
    const std::string why = "webp data: libwebp status " + std::to_string(int(status));
    return stillFailure(StillProblem::undecodable, "undecodable " + why, why);
}

// The colour space of the file's embedded profile, invalid when it has none.
QColorSpace embeddedColorSpace(const QByteArray& bytes) {
    const WebPData data{dataOf(bytes), std::size_t(bytes.size())};
    WebPDemuxer* demuxer = WebPDemux(&data);
    if (!demuxer) {
        return {};
    }
    QColorSpace space;
    WebPChunkIterator chunk;
    if (WebPDemuxGetChunk(demuxer, "ICCP", 1, &chunk)) {
        space = QColorSpace::fromIccProfile(QByteArray(
            reinterpret_cast<const char*>(chunk.chunk.bytes), qsizetype(chunk.chunk.size)));
        WebPDemuxReleaseChunkIterator(&chunk);
    }
    WebPDemuxDelete(demuxer);
    return space;
}

}  // namespace

bool looksLikeStillWebp(const QByteArray& bytes) {
    if (bytes.size() < 12 || !bytes.startsWith("RIFF") || bytes.mid(8, 4) != "WEBP") {
        return false;
    }
    WebPBitstreamFeatures features;
    // A file too short to tell is still WebP, refused by the reader with its reason.
    const VP8StatusCode status =
        WebPGetFeatures(dataOf(bytes), std::size_t(bytes.size()), &features);
    return status != VP8_STATUS_OK || !features.has_animation;
}

DecodedStill readWebpStill(const QByteArray& bytes, const StillLimits& limits, QSize fitInto,
                           const StillStop& stop) {
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config)) {
        return stillFailure(StillProblem::undecodable, "undecodable webp data: libwebp version",
                            "webp data: libwebp version");
    }
    const auto* data = dataOf(bytes);
    const auto size = std::size_t(bytes.size());
    if (const VP8StatusCode status = WebPGetFeatures(data, size, &config.input);
        status != VP8_STATUS_OK) {
        return undecodable(status);
    }
    const qint64 width = config.input.width;
    const qint64 height = config.input.height;
    if (width <= 0 || height <= 0) {
        return stillFailure(StillProblem::undecodable, "image without a size", "webp");
    }
    if (declaresTooMuch(width, height, limits)) {
        return stillTooLarge(width, height);
    }
    const QSize full{int(width), int(height)};
    const QSize target = reducedStillSize(full, fitInto);
    if (handsBackTooMuch(target.width(), target.height(), limits)) {
        return stillTooLarge(width, height);
    }
    if (const qint64 cost =
            workingBytes(config.input) + 4 * qint64(target.width()) * target.height();
        cost > limits.decodeBudgetBytes) {
        return stillTooCostly(width, height, cost, limits);
    }

    const bool alpha = config.input.has_alpha != 0;
    QImage picture(target, alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    if (picture.isNull()) {
        return stillFailure(StillProblem::outOfMemory, "out of memory for the picture");
    }
    if (target != full) {
        config.options.use_scaling = 1;
        config.options.scaled_width = target.width();
        config.options.scaled_height = target.height();
    }
    // Straight into the picture: in memory B, G, R, A is Qt's 32-bit pixel on this machine,
    // premultiplied when the picture has alpha (libwebp writes 255 there when it has none).
    static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN);
    config.output.colorspace = alpha ? MODE_bgrA : MODE_BGRA;
    config.output.is_external_memory = 1;
    config.output.u.RGBA.rgba = picture.bits();
    config.output.u.RGBA.stride = int(picture.bytesPerLine());
    config.output.u.RGBA.size = std::size_t(picture.sizeInBytes());
    // libwebp decodes in one call: a stop is heard before it starts.
    if (stop && stop()) {
        return stillFailure(StillProblem::cancelled, "no longer wanted");
    }
    const VP8StatusCode status = WebPDecode(data, size, &config);
    WebPFreeDecBuffer(&config.output);
    if (status != VP8_STATUS_OK) {
        return undecodable(status);
    }
    if (const QColorSpace space = embeddedColorSpace(bytes); space.isValid()) {
        picture.setColorSpace(space);
    }
    return {std::move(picture), {}, full, StillProblem::none, {}};
}

}  // namespace kestio::platform
