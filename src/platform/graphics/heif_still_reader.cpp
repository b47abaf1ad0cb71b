#include "platform/graphics/heif_still_reader.h"

#include <libheif/heif.h>

#include <QColorSpace>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "platform/graphics/heif_coded_sizes.h"

namespace kestio::platform {

namespace {

// libheif wants init/deinit around its use, reference counted; hold one count for the life
// of the process once a HEIF file has been seen.
void ensureHeifInitialised() {
    struct Library {
        Library() { heif_init(nullptr); }
        ~Library() { heif_deinit(); }
    };
    static Library library;
}

struct ContextFree {
    void operator()(heif_context* c) const { heif_context_free(c); }
};
struct HandleRelease {
    void operator()(const heif_image_handle* h) const { heif_image_handle_release(h); }
};
struct ImageRelease {
    void operator()(const heif_image* i) const { heif_image_release(i); }
};
struct OptionsFree {
    void operator()(heif_decoding_options* o) const { heif_decoding_options_free(o); }
};

std::string sizeText(qint64 w, qint64 h) {
    return std::to_string(w) + "x" + std::to_string(h);
}

// Measured with libheif 1.15 and libde265: the decoder's own pictures and libheif's copy of
// the planes take about 4.4 bytes a pixel at 4:2:0; the RGB conversion adds 3 or 4 more.
constexpr double kPlanesBytesPerPixel = 4.5;
constexpr double kRgbBytesPerPixel = 4.0;

struct Matrix {
    double kr = 0.299;
    double kb = 0.114;
    bool fullRange = true;
};

// The YCbCr to RGB matrix of the picture's colour description; libheif's own default
// (BT.601, full range) when it has none.
Matrix matrixOf(const heif_image_handle* handle) {
    Matrix m;
    heif_color_profile_nclx* nclx = nullptr;
    if (heif_image_handle_get_nclx_color_profile(handle, &nclx).code == heif_error_Ok && nclx) {
        switch (nclx->matrix_coefficients) {
            case heif_matrix_coefficients_ITU_R_BT_709_5:
                m.kr = 0.2126;
                m.kb = 0.0722;
                break;
            case heif_matrix_coefficients_ITU_R_BT_2020_2_non_constant_luminance:
                m.kr = 0.2627;
                m.kb = 0.0593;
                break;
            default:
                break;
        }
        m.fullRange = nclx->full_range_flag != 0;
        heif_nclx_color_profile_free(nclx);
    }
    return m;
}

// Converts a decoded YCbCr picture to RGB at `out` size (at most its own), so that only the
// reduced picture is ever in RGB.
QImage reducedFromPlanes(const heif_image* image, const Matrix& m, QSize out,
                         const StillStop& stop) {
    const int w = heif_image_get_width(image, heif_channel_Y);
    const int h = heif_image_get_height(image, heif_channel_Y);
    const int cw = heif_image_get_width(image, heif_channel_Cb);
    const int ch = heif_image_get_height(image, heif_channel_Cb);
    int yStride = 0;
    int cbStride = 0;
    int crStride = 0;
    const uint8_t* yPlane = heif_image_get_plane_readonly(image, heif_channel_Y, &yStride);
    const uint8_t* cbPlane = heif_image_get_plane_readonly(image, heif_channel_Cb, &cbStride);
    const uint8_t* crPlane = heif_image_get_plane_readonly(image, heif_channel_Cr, &crStride);
    const int depth = heif_image_get_bits_per_pixel_range(image, heif_channel_Y);
    if (!yPlane || !cbPlane || !crPlane || w <= 0 || h <= 0 || cw <= 0 || ch <= 0 || depth < 8 ||
        depth > 16) {
        return {};
    }
    const bool wide = depth > 8;
    const double scale = 255.0 / double((1 << depth) - 1);
    auto sample = [wide, scale](const uint8_t* plane, int stride, int x, int y) {
        if (wide) {
            const auto* row = reinterpret_cast<const uint16_t*>(plane + std::ptrdiff_t(y) * stride);
            return row[x] * scale;
        }
        return double(plane[std::ptrdiff_t(y) * stride + x]);
    };
    // Sampled at twice the reduced size and averaged in 2x2 blocks when the picture is that
    // large, else sampled at the reduced size.
    const bool averaged = w >= 2 * out.width() && h >= 2 * out.height();
    const QSize sampled = averaged ? out * 2 : out;
    QImage rgb(sampled, QImage::Format_RGB32);
    if (rgb.isNull()) {
        return {};
    }
    const double kg = 1.0 - m.kr - m.kb;
    for (int oy = 0; oy < sampled.height(); ++oy) {
        if (stop && oy % 64 == 0 && stop()) {
            return {};
        }
        const int y = std::min(h - 1, int((oy + 0.5) * h / sampled.height()));
        const int cy = std::min(ch - 1, int(std::int64_t(y) * ch / h));
        auto* line = reinterpret_cast<QRgb*>(rgb.scanLine(oy));
        for (int ox = 0; ox < sampled.width(); ++ox) {
            const int x = std::min(w - 1, int((ox + 0.5) * w / sampled.width()));
            const int cx = std::min(cw - 1, int(std::int64_t(x) * cw / w));
            double luma = sample(yPlane, yStride, x, y);
            double cb = sample(cbPlane, cbStride, cx, cy) - 128.0;
            double cr = sample(crPlane, crStride, cx, cy) - 128.0;
            if (!m.fullRange) {
                luma = (luma - 16.0) * 255.0 / 219.0;
                cb *= 255.0 / 224.0;
                cr *= 255.0 / 224.0;
            }
            const double r = luma + 2.0 * (1.0 - m.kr) * cr;
            const double b = luma + 2.0 * (1.0 - m.kb) * cb;
            const double g = (luma - m.kr * r - m.kb * b) / kg;
            auto clamp = [](double v) { return int(std::lround(std::clamp(v, 0.0, 255.0))); };
            line[ox] = qRgb(clamp(r), clamp(g), clamp(b));
        }
    }
    if (!averaged) {
        return rgb;
    }
    QImage reduced(out, QImage::Format_RGB32);
    if (reduced.isNull()) {
        return {};
    }
    for (int y = 0; y < out.height(); ++y) {
        const auto* top = reinterpret_cast<const QRgb*>(rgb.constScanLine(2 * y));
        const auto* bottom = reinterpret_cast<const QRgb*>(rgb.constScanLine(2 * y + 1));
        auto* line = reinterpret_cast<QRgb*>(reduced.scanLine(y));
        for (int x = 0; x < out.width(); ++x) {
            const QRgb p[4] = {top[2 * x], top[2 * x + 1], bottom[2 * x], bottom[2 * x + 1]};
            auto mean = [&p](int (*channel)(QRgb)) {
                return (channel(p[0]) + channel(p[1]) + channel(p[2]) + channel(p[3]) + 2) / 4;
            };
            line[x] = qRgb(mean(qRed), mean(qGreen), mean(qBlue));
        }
    }
    return reduced;
}

void applyColorProfile(const heif_image_handle* handle, QImage& image) {
    const auto profileType = heif_image_handle_get_color_profile_type(handle);
    if (profileType == heif_color_profile_type_prof ||
        profileType == heif_color_profile_type_rICC) {
        QByteArray icc(static_cast<qsizetype>(heif_image_handle_get_raw_color_profile_size(handle)),
                       Qt::Uninitialized);
        if (!icc.isEmpty() &&
            heif_image_handle_get_raw_color_profile(handle, icc.data()).code == heif_error_Ok) {
            image.setColorSpace(QColorSpace::fromIccProfile(icc));
        }
    }
}

}  // namespace

bool looksLikeHeif(const QByteArray& bytes) {
    if (bytes.size() < 12) {
        return false;
    }
    const auto result =
        heif_check_filetype(reinterpret_cast<const uint8_t*>(bytes.constData()),
                            static_cast<int>(std::min<qsizetype>(bytes.size(), 64)));
    return result == heif_filetype_yes_supported || result == heif_filetype_yes_unsupported;
}

DecodedStill readHeifStill(const QByteArray& bytes, const StillLimits& limits, QSize fitInto,
                           const StillStop& stop) {
    ensureHeifInitialised();
    std::unique_ptr<heif_context, ContextFree> context(heif_context_alloc());
    if (!context) {
        return stillFailure(StillProblem::outOfMemory, "cannot decode HEIF: out of memory");
    }
    heif_context_set_maximum_image_size_limit(context.get(), limits.maxSide);
    heif_error err = heif_context_read_from_memory_without_copy(
        context.get(), bytes.constData(), static_cast<size_t>(bytes.size()), nullptr);
    if (err.code != heif_error_Ok) {
        return stillFailure(StillProblem::undecodable,
                            std::string("unreadable HEIF file: ") + err.message,
                            std::string("HEIF: ") + err.message);
    }
    heif_image_handle* rawHandle = nullptr;
    err = heif_context_get_primary_image_handle(context.get(), &rawHandle);
    std::unique_ptr<const heif_image_handle, HandleRelease> handle(rawHandle);
    if (err.code != heif_error_Ok || !handle) {
        return stillFailure(StillProblem::noPicture,
                            std::string("HEIF file without a picture: ") + err.message);
    }
    const int width = heif_image_handle_get_width(handle.get());
    const int height = heif_image_handle_get_height(handle.get());
    if (width <= 0 || height <= 0) {
        return stillFailure(StillProblem::undecodable, "HEIF picture without a size",
                            "HEIF: no size");
    }
    const std::string size = sizeText(width, height);
    if (width > limits.maxSide || height > limits.maxSide ||
        qint64(width) * height > limits.maxDeclaredPixels) {
        return stillFailure(StillProblem::tooLarge, "image too large: " + size, size);
    }
    // A stream that codes a larger picture than the file declares would be decoded whole
    // before libheif found out; its real size is read from its parameter sets first. A grid's
    // tiles each code a part, never more than the whole.
    const qint64 ispeW = heif_image_handle_get_ispe_width(handle.get());
    const qint64 ispeH = heif_image_handle_get_ispe_height(handle.get());
    const auto roundUp = [](qint64 v) { return (v + 63) / 64 * 64; };
    qint64 codedPixels = qint64(width) * height;
    for (const QSize coded : heifCodedSizes(bytes)) {
        const qint64 pixels = qint64(coded.width()) * coded.height();
        if (pixels > roundUp(ispeW) * roundUp(ispeH)) {
            const std::string codedText = sizeText(coded.width(), coded.height());
            return stillFailure(
                StillProblem::sizeMismatch,
                "HEIF picture declared as " + sizeText(ispeW, ispeH) + " codes " + codedText,
                sizeText(ispeW, ispeH) + " / " + codedText);
        }
        codedPixels = std::max(codedPixels, pixels);
    }
    const bool alpha = heif_image_handle_has_alpha_channel(handle.get()) != 0;
    const QSize target = reducedStillSize(QSize(width, height), fitInto);
    // Opaque pictures asked for smaller are kept as planes and converted at the reduced size.
    const bool viaPlanes = !alpha && target != QSize(width, height);
    const double cost = codedPixels * (kPlanesBytesPerPixel + (viaPlanes ? 0 : kRgbBytesPerPixel));
    if (cost > double(limits.decodeBudgetBytes) ||
        (!viaPlanes && qint64(width) * height > limits.maxPixels)) {
        const auto mib = [](double b) { return std::to_string(qint64(b / (1 << 20)) + 1); };
        return stillFailure(StillProblem::tooCostly,
                            "decoding a " + size + " image needs " + mib(cost) +
                                " MiB, more than the " + mib(double(limits.decodeBudgetBytes - 1)) +
                                " MiB allowed",
                            size);
    }
    // libheif's decode cannot be stopped once begun: a stop is heard before and after it.
    const auto stopped = [&stop] { return stop && stop(); };
    if (stopped()) {
        return stillFailure(StillProblem::cancelled, "no longer wanted");
    }
    std::unique_ptr<heif_decoding_options, OptionsFree> options(heif_decoding_options_alloc());
    options->ignore_transformations = 0;
    options->convert_hdr_to_8bit = viaPlanes ? 0 : 1;
    heif_image* rawImage = nullptr;
    if (viaPlanes) {
        err = heif_decode_image(handle.get(), &rawImage, heif_colorspace_YCbCr, heif_chroma_420,
                                options.get());
    } else {
        err = heif_decode_image(handle.get(), &rawImage, heif_colorspace_RGB,
                                alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB,
                                options.get());
    }
    std::unique_ptr<const heif_image, ImageRelease> image(rawImage);
    if (err.code != heif_error_Ok || !image) {
        return stillFailure(StillProblem::undecodable,
                            std::string("undecodable HEIF picture: ") + err.message,
                            std::string("HEIF: ") + err.message);
    }
    if (stopped()) {
        return stillFailure(StillProblem::cancelled, "no longer wanted");
    }
    if (viaPlanes) {
        QImage reduced = reducedFromPlanes(image.get(), matrixOf(handle.get()), target, stop);
        if (stopped()) {
            return stillFailure(StillProblem::cancelled, "no longer wanted");
        }
        if (reduced.isNull()) {
            return stillFailure(StillProblem::undecodable, "undecodable HEIF picture",
                                "HEIF: unexpected planes");
        }
        applyColorProfile(handle.get(), reduced);
        return {std::move(reduced), {}, QSize(width, height), StillProblem::none, {}};
    }
    const int w = heif_image_get_width(image.get(), heif_channel_interleaved);
    const int h = heif_image_get_height(image.get(), heif_channel_interleaved);
    int stride = 0;
    const uint8_t* plane =
        heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    if (!plane || w <= 0 || h <= 0 || qint64(w) * h > limits.maxPixels) {
        return stillFailure(StillProblem::undecodable, "undecodable HEIF picture",
                            "HEIF: unexpected picture");
    }
    const QImage::Format format = alpha ? (heif_image_handle_is_premultiplied_alpha(handle.get())
                                               ? QImage::Format_RGBA8888_Premultiplied
                                               : QImage::Format_RGBA8888)
                                        : QImage::Format_RGB888;
    QImage copy(w, h, format);
    if (copy.isNull()) {
        return stillFailure(StillProblem::outOfMemory,
                            "out of memory for a " + sizeText(w, h) + " picture");
    }
    const std::size_t rowBytes = static_cast<std::size_t>(w) * (alpha ? 4 : 3);
    for (int y = 0; y < h; ++y) {
        std::memcpy(copy.scanLine(y), plane + static_cast<std::ptrdiff_t>(y) * stride, rowBytes);
    }
    applyColorProfile(handle.get(), copy);
    return {std::move(copy), {}, QSize(), StillProblem::none, {}};
}

}  // namespace kestio::platform
