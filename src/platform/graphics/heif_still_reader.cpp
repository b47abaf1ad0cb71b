#include "platform/graphics/heif_still_reader.h"

#include <libheif/heif.h>

#include <QColorSpace>
#include <cstring>
#include <memory>

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

DecodedStill failure(std::string text) {
    return {QImage(), std::move(text), QSize()};
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

DecodedStill readHeifStill(const QByteArray& bytes, const StillLimits& limits) {
    ensureHeifInitialised();
    std::unique_ptr<heif_context, ContextFree> context(heif_context_alloc());
    if (!context) {
        return failure("cannot decode HEIF: out of memory");
    }
    heif_context_set_maximum_image_size_limit(context.get(), limits.maxSide);
    heif_error err = heif_context_read_from_memory_without_copy(
        context.get(), bytes.constData(), static_cast<size_t>(bytes.size()), nullptr);
    if (err.code != heif_error_Ok) {
        return failure(std::string("unreadable HEIF file: ") + err.message);
    }
    heif_image_handle* rawHandle = nullptr;
    err = heif_context_get_primary_image_handle(context.get(), &rawHandle);
    std::unique_ptr<const heif_image_handle, HandleRelease> handle(rawHandle);
    if (err.code != heif_error_Ok || !handle) {
        return failure(std::string("HEIF file without a picture: ") + err.message);
    }
    const int width = heif_image_handle_get_width(handle.get());
    const int height = heif_image_handle_get_height(handle.get());
    if (width <= 0 || height <= 0) {
        return failure("HEIF picture without a size");
    }
    if (width > limits.maxSide || height > limits.maxSide ||
        qint64(width) * height > limits.maxPixels) {
        return failure("image too large: " + std::to_string(width) + "x" + std::to_string(height));
    }
    const bool alpha = heif_image_handle_has_alpha_channel(handle.get()) != 0;
    std::unique_ptr<heif_decoding_options, OptionsFree> options(heif_decoding_options_alloc());
    options->ignore_transformations = 0;
    options->convert_hdr_to_8bit = 1;
    heif_image* rawImage = nullptr;
    err = heif_decode_image(handle.get(), &rawImage, heif_colorspace_RGB,
                            alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB,
                            options.get());
    std::unique_ptr<const heif_image, ImageRelease> image(rawImage);
    if (err.code != heif_error_Ok || !image) {
        return failure(std::string("undecodable HEIF picture: ") + err.message);
    }
    const int w = heif_image_get_width(image.get(), heif_channel_interleaved);
    const int h = heif_image_get_height(image.get(), heif_channel_interleaved);
    int stride = 0;
    const uint8_t* plane =
        heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    if (!plane || w <= 0 || h <= 0 || qint64(w) * h > limits.maxPixels) {
        return failure("undecodable HEIF picture");
    }
    const QImage::Format format = alpha ? (heif_image_handle_is_premultiplied_alpha(handle.get())
                                               ? QImage::Format_RGBA8888_Premultiplied
                                               : QImage::Format_RGBA8888)
                                        : QImage::Format_RGB888;
    QImage copy(w, h, format);
    if (copy.isNull()) {
        return failure("out of memory for a " + std::to_string(w) + "x" + std::to_string(h) +
                       " picture");
    }
    const std::size_t rowBytes = static_cast<std::size_t>(w) * (alpha ? 4 : 3);
    for (int y = 0; y < h; ++y) {
        std::memcpy(copy.scanLine(y), plane + static_cast<std::ptrdiff_t>(y) * stride, rowBytes);
    }
    const auto profileType = heif_image_handle_get_color_profile_type(handle.get());
    if (profileType == heif_color_profile_type_prof ||
        profileType == heif_color_profile_type_rICC) {
        QByteArray icc(
            static_cast<qsizetype>(heif_image_handle_get_raw_color_profile_size(handle.get())),
            Qt::Uninitialized);
        if (!icc.isEmpty() &&
            heif_image_handle_get_raw_color_profile(handle.get(), icc.data()).code ==
                heif_error_Ok) {
            copy.setColorSpace(QColorSpace::fromIccProfile(icc));
        }
    }
    return {std::move(copy), {}, QSize()};
}

}  // namespace kestio::platform
