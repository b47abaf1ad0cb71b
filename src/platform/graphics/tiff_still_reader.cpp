#include "platform/graphics/tiff_still_reader.h"

#include <tiffio.h>

#include <QColorSpace>
#include <QTransform>
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "platform/graphics/box_reducer.h"

namespace kestio::platform {

namespace {

// libtiff reads the file from memory through these, with the read position kept here.
struct MemoryFile {
    const QByteArray* bytes = nullptr;
    toff_t at = 0;
};

// libtiff's last complaint about the file, as the reason of a refusal.
struct Complaint {
    std::string error;
};

tmsize_t readBytes(thandle_t handle, void* into, tmsize_t size) {
    auto* file = static_cast<MemoryFile*>(handle);
    const auto total = toff_t(file->bytes->size());
    const tmsize_t n =
        file->at >= total ? 0 : tmsize_t(std::min<toff_t>(toff_t(size), total - file->at));
    if (n > 0) {
        std::memcpy(into, file->bytes->constData() + file->at, std::size_t(n));
        file->at += toff_t(n);
    }
    return n;
}

tmsize_t writeNothing(thandle_t, void*, tmsize_t) {
    return -1;
}

toff_t seekTo(thandle_t handle, toff_t offset, int whence) {
    auto* file = static_cast<MemoryFile*>(handle);
    const auto total = toff_t(file->bytes->size());
    switch (whence) {
        case SEEK_SET:
            file->at = offset;
            break;
        case SEEK_CUR:
            file->at += offset;
            break;
        case SEEK_END:
            file->at = total + offset;
            break;
        default:
            return toff_t(-1);
    }
    return file->at;
}

int closeNothing(thandle_t) {
    return 0;
}

toff_t sizeOf(thandle_t handle) {
    return toff_t(static_cast<MemoryFile*>(handle)->bytes->size());
}

// The file is already in memory: libtiff reads its strips in place instead of copying them.
int mapInPlace(thandle_t handle, void** base, toff_t* size) {
    const QByteArray* bytes = static_cast<MemoryFile*>(handle)->bytes;
    *base = const_cast<char*>(bytes->constData());
    *size = toff_t(bytes->size());
    return 1;
}

void unmapNothing(thandle_t, void*, toff_t) {}

int keepError(TIFF*, void* userData, const char* module, const char* format, va_list args) {
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    auto* complaint = static_cast<Complaint*>(userData);
    complaint->error = module ? std::string(module) + ": " + text : std::string(text);
    return 1;
}

int ignoreWarning(TIFF*, void*, const char*, const char*, va_list) {
    return 1;  // handled: warnings about unknown tags and the like are of no use here
}

struct TiffClose {
    void operator()(TIFF* tif) const { TIFFClose(tif); }
};
struct ImageEnd {
    void operator()(TIFFRGBAImage* image) const { TIFFRGBAImageEnd(image); }
};

TIFFOpenOptions* optionsKeeping(Complaint& complaint) {
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(options, keepError, &complaint);
    TIFFOpenOptionsSetWarningHandlerExtR(options, ignoreWarning, &complaint);
    return options;
}

DecodedStill undecodable(const Complaint& complaint, const char* fallback) {
    const std::string why =
        "TIFF data: " + (complaint.error.empty() ? std::string(fallback) : complaint.error);
    return stillFailure(StillProblem::undecodable, "undecodable " + why, why);
}

// The picture as stored turned upright as the orientation tag says (1 when there is none).
QImage upright(QImage stored, int orientation) {
    const auto turned = [](const QImage& image, int degrees) {
        return image.transformed(QTransform().rotate(degrees));
    };
    switch (orientation) {
        case ORIENTATION_TOPRIGHT:
            return stored.mirrored(true, false);
        case ORIENTATION_BOTRIGHT:
            return stored.mirrored(true, true);
        case ORIENTATION_BOTLEFT:
            return stored.mirrored(false, true);
        case ORIENTATION_LEFTTOP:  // rows stored as columns: the transpose
            return turned(stored, 90).mirrored(true, false);
        case ORIENTATION_RIGHTTOP:
            return turned(stored, 90);
        case ORIENTATION_RIGHTBOT:
            return turned(stored, 90).mirrored(false, true);
        case ORIENTATION_LEFTBOT:
            return turned(stored, 270);
        default:
            return stored;
    }
}

}  // namespace

bool looksLikeTiff(const QByteArray& bytes) {
    return bytes.startsWith(QByteArray("II*\0", 4)) || bytes.startsWith(QByteArray("MM\0*", 4)) ||
           bytes.startsWith(QByteArray("II+\0", 4)) || bytes.startsWith(QByteArray("MM\0+", 4));
}

namespace {

DecodedStill readOpened(TIFF* tif, Complaint& complaint, const StillLimits& limits, QSize fitInto,
                        const StillStop& stop) {
    if (!tif) {
        return undecodable(complaint, "not readable");
    }
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    if (width == 0 || height == 0) {
        return stillFailure(StillProblem::undecodable, "image without a size", "tiff");
    }
    std::uint16_t orientation = ORIENTATION_TOPLEFT;
    TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &orientation);
    const bool turned = orientation >= ORIENTATION_LEFTTOP && orientation <= ORIENTATION_LEFTBOT;
    const QSize stored{int(std::min<std::uint32_t>(width, INT32_MAX)),
                       int(std::min<std::uint32_t>(height, INT32_MAX))};
    const QSize full = turned ? stored.transposed() : stored;
    if (declaresTooMuch(width, height, limits)) {
        return stillTooLarge(full.width(), full.height());
    }
    const QSize target = reducedStillSize(full, fitInto);
    if (handsBackTooMuch(target.width(), target.height(), limits)) {
        return stillTooLarge(full.width(), full.height());
    }

    // Decoded a band at a time: one strip, or one row of tiles, of the whole width.
    const bool tiled = TIFFIsTiled(tif) != 0;
    std::uint32_t bandRows = 0;
    qint64 codedBytes = 0;
    if (tiled) {
        TIFFGetField(tif, TIFFTAG_TILELENGTH, &bandRows);
        codedBytes = qint64(TIFFTileSize64(tif));
    } else {
        TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &bandRows);
        codedBytes = qint64(TIFFStripSize64(tif));
    }
    bandRows = std::clamp<std::uint32_t>(bandRows, 1, height);
    const qint64 bandBytes = 4 * qint64(width) * bandRows;
    const qint64 cost = bandBytes + codedBytes + 4 * qint64(target.width()) * target.height();
    if (cost > limits.decodeBudgetBytes) {
        return stillTooCostly(full.width(), full.height(), cost, limits);
    }

    char why[1024] = {};
    if (!TIFFRGBAImageOK(tif, why)) {
        complaint.error = why;
        return undecodable(complaint, "unsupported layout");
    }
    TIFFRGBAImage image{};
    if (!TIFFRGBAImageBegin(&image, tif, 0, why)) {
        complaint.error = why;
        return undecodable(complaint, "unsupported layout");
    }
    const std::unique_ptr<TIFFRGBAImage, ImageEnd> ending(&image);
    // Rows come as stored, top first; the orientation is applied to the reduced picture.
    image.req_orientation = ORIENTATION_TOPLEFT;
    image.orientation = ORIENTATION_TOPLEFT;
    const bool alpha = image.alpha != 0;
    // libtiff packs each pixel R, G, B, A from the lowest byte up: in memory, the bytes the
    // reducer reads.
    static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN);

    std::vector<std::uint32_t> band;
    try {
        band.resize(std::size_t(width) * bandRows);
    } catch (const std::bad_alloc&) {
        return stillFailure(StillProblem::outOfMemory, "out of memory for a TIFF band");
    }
    BoxReducer reducer(stored, turned ? target.transposed() : target, alpha);
    if (!reducer.ok()) {
        return stillFailure(StillProblem::outOfMemory, "out of memory for the picture");
    }
    for (std::uint32_t row = 0; row < height; row += bandRows) {
        if (stop && stop()) {
            return stillFailure(StillProblem::cancelled, "no longer wanted");
        }
        const std::uint32_t rows = std::min(bandRows, height - row);
        image.row_offset = int(row);
        image.col_offset = 0;
        if (!TIFFRGBAImageGet(&image, band.data(), width, rows)) {
            return undecodable(complaint, "unreadable strip");
        }
        reducer.addRows(reinterpret_cast<const std::uint8_t*>(band.data()), int(rows), width);
    }
    QImage picture = upright(reducer.take(), orientation);
    std::uint32_t profileBytes = 0;
    void* profile = nullptr;
    if (TIFFGetField(tif, TIFFTAG_ICCPROFILE, &profileBytes, &profile) && profile) {
        const QColorSpace space = QColorSpace::fromIccProfile(
            QByteArray(static_cast<const char*>(profile), qsizetype(profileBytes)));
        if (space.isValid()) {
            picture.setColorSpace(space);
        }
    }
    return {std::move(picture), {}, full, StillProblem::none, {}};
}

}  // namespace

DecodedStill readTiffStill(const QByteArray& bytes, const StillLimits& limits, QSize fitInto,
                           const StillStop& stop) {
    MemoryFile file{&bytes, 0};
    Complaint complaint;
    TIFFOpenOptions* options = optionsKeeping(complaint);
    const std::unique_ptr<TIFF, TiffClose> tif(
        TIFFClientOpenExt("TIFF", "r", &file, readBytes, writeNothing, seekTo, closeNothing, sizeOf,
                          mapInPlace, unmapNothing, options));
    TIFFOpenOptionsFree(options);
    return readOpened(tif.get(), complaint, limits, fitInto, stop);
}

DecodedStill readTiffStill(const std::filesystem::path& file, const StillLimits& limits,
                           QSize fitInto, const StillStop& stop) {
    Complaint complaint;
    TIFFOpenOptions* options = optionsKeeping(complaint);
    // Read, not mapped: only the strips being decoded are in memory.
    const std::unique_ptr<TIFF, TiffClose> tif(TIFFOpenExt(file.c_str(), "rm", options));
    TIFFOpenOptionsFree(options);
    return readOpened(tif.get(), complaint, limits, fitInto, stop);
}

}  // namespace kestio::platform
