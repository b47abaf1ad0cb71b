#include "platform/graphics/still_decoder.h"

#include <QColorSpace>
#include <QFile>
#include <QImageReader>
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <system_error>

#include "platform/graphics/heif_still_reader.h"
#include "platform/graphics/jpeg_frame_header.h"
#include "platform/graphics/tiff_still_reader.h"
#include "platform/graphics/webp_still_reader.h"

namespace kestio::platform {

namespace {

// The largest canvas the program output has (2160p).
constexpr QSize kLargestOutputSize(3840, 2160);

std::string sizeText(qint64 w, qint64 h) {
    return std::to_string(w) + "x" + std::to_string(h);
}

std::uint32_t u16le(const QByteArray& b, qsizetype at) {
    return std::uint32_t(std::uint8_t(b[at])) | std::uint32_t(std::uint8_t(b[at + 1])) << 8;
}
std::uint32_t u32le(const QByteArray& b, qsizetype at) {
    return u16le(b, at) | u16le(b, at + 2) << 16;
}
std::uint8_t byteAt(const QByteArray& b, qsizetype at) {
    return std::uint8_t(b[at]);
}

// Qt's JPEG, GIF and BMP readers hand back a partly grey or black picture when the file
// ends early. These checks walk the file's structure and tell a cut-off file apart.

// The entropy-coded data of the last scan must be followed by the end-of-image marker.
bool jpegIsComplete(const QByteArray& b) {
    const qsizetype n = b.size();
    qsizetype i = 2;  // after the start-of-image marker
    while (i < n) {
        if (byteAt(b, i) != 0xff) {
            return false;  // not at a marker: damaged structure
        }
        while (i < n && byteAt(b, i) == 0xff) {
            ++i;
        }
        if (i >= n) {
            return false;
        }
        const std::uint8_t marker = byteAt(b, i++);
        if (marker == 0xd9) {
            return true;
        }
        if (marker == 0x01 || (marker >= 0xd0 && marker <= 0xd8)) {
            continue;  // markers without a segment
        }
        if (i + 2 > n) {
            return false;
        }
        const qsizetype length = qsizetype(byteAt(b, i)) << 8 | byteAt(b, i + 1);
        if (length < 2 || i + length > n) {
            return false;
        }
        i += length;
        if (marker == 0xda) {
            // Skip entropy-coded data up to the next marker (0xff not followed by a stuffed 0
            // or a restart marker).
            for (;;) {
                if (i + 1 >= n) {
                    return false;
                }
                if (byteAt(b, i) == 0xff) {
                    const std::uint8_t next = byteAt(b, i + 1);
                    if (next != 0x00 && !(next >= 0xd0 && next <= 0xd7) && next != 0xff) {
                        break;
                    }
                }
                ++i;
            }
        }
    }
    return false;
}

// The first image's data blocks must all be present. Sets `hasImage` when one was found.
bool gifIsComplete(const QByteArray& b, bool& hasImage) {
    hasImage = false;
    const qsizetype n = b.size();
    if (n < 13) {
        return false;
    }
    qsizetype i = 13;
    const std::uint8_t screenFlags = byteAt(b, 10);
    if (screenFlags & 0x80) {
        i += 3 * (qsizetype(1) << ((screenFlags & 7) + 1));
    }
    auto skipSubBlocks = [&]() {
        for (;;) {
            if (i >= n) {
                return false;
            }
            const std::uint8_t size = byteAt(b, i++);
            if (size == 0) {
                return true;
            }
            i += size;
        }
    };
    while (i < n) {
        const std::uint8_t kind = byteAt(b, i++);
        if (kind == 0x3b) {
            return true;  // trailer
        }
        if (kind == 0x21) {
            ++i;  // extension label
            if (!skipSubBlocks()) {
                return false;
            }
        } else if (kind == 0x2c) {
            if (i + 9 > n) {
                return false;
            }
            const std::uint8_t flags = byteAt(b, i + 8);
            i += 9;
            if (flags & 0x80) {
                i += 3 * (qsizetype(1) << ((flags & 7) + 1));
            }
            ++i;  // LZW minimum code size
            hasImage = true;
            return skipSubBlocks();
        } else {
            return false;
        }
    }
    return false;
}

struct BmpHeader {
    bool known = false;
    qint64 pixelOffset = 0;
    qint64 width = 0;
    qint64 height = 0;
    std::uint32_t bitsPerPixel = 0;
    std::uint32_t compression = 0;
};

BmpHeader bmpHeader(const QByteArray& b) {
    BmpHeader h;
    const qsizetype n = b.size();
    if (n < 26) {
        return h;
    }
    h.pixelOffset = u32le(b, 10);
    const std::uint32_t headerSize = u32le(b, 14);
    if (headerSize == 12) {
        h.width = u16le(b, 18);
        h.height = u16le(b, 20);
        h.bitsPerPixel = u16le(b, 24);
        h.known = true;
    } else if (headerSize >= 40 && n >= 34) {
        h.width = std::abs(qint64(std::int32_t(u32le(b, 18))));
        h.height = std::abs(qint64(std::int32_t(u32le(b, 22))));
        h.bitsPerPixel = u16le(b, 28);
        h.compression = u32le(b, 30);
        h.known = true;
    }
    return h;
}

// Uncompressed pixel rows must all be in the file.
bool bmpIsComplete(const QByteArray& b) {
    const BmpHeader h = bmpHeader(b);
    if (b.size() < 26) {
        return false;
    }
    if (!h.known || (h.compression != 0 && h.compression != 3 && h.compression != 6)) {
        return true;  // an unknown header or run-length coding: the reader checks it
    }
    const qint64 rowBytes = ((h.width * h.bitsPerPixel + 31) / 32) * 4;
    return h.pixelOffset + rowBytes * h.height <= b.size();
}

// Every chunk must lie within the file: a chunk declaring more bytes than follow it (a text
// chunk claiming 2 GiB in a file of a few hundred bytes) would have libpng allocate what it
// declares before finding the file at its end. Walked before Qt's reader sees the file.
std::optional<DecodedStill> pngChunkOverrun(const QByteArray& b) {
    const auto u32be = [&b](qsizetype at) {
        return std::uint32_t(byteAt(b, at)) << 24 | std::uint32_t(byteAt(b, at + 1)) << 16 |
               std::uint32_t(byteAt(b, at + 2)) << 8 | std::uint32_t(byteAt(b, at + 3));
    };
    const qsizetype n = b.size();
    qsizetype i = 8;  // after the signature
    while (i + 8 <= n) {
        const qint64 length = u32be(i);
        const QByteArray type = b.mid(i + 4, 4);
        // Length, type, data and CRC.
        if (length > qint64(n) - i - 12) {
            return stillFailure(StillProblem::truncated,
                                "truncated PNG data: chunk " + type.toStdString() + " declares " +
                                    std::to_string(length) + " bytes, " +
                                    std::to_string(std::max<qint64>(n - i - 12, 0)) + " follow it",
                                "PNG");
        }
        if (type == "IEND") {
            return std::nullopt;
        }
        i += 12 + length;
    }
    // Ends between chunks: Qt's reader tells whether the picture is whole.
    return std::nullopt;
}

// A failure when the file is cut off, else nothing.
std::optional<DecodedStill> truncation(const QByteArray& bytes, const QByteArray& format) {
    if (format == "jpeg" && !jpegIsComplete(bytes)) {
        return stillFailure(StillProblem::truncated, "truncated JPEG data", "JPEG");
    }
    if (format == "gif") {
        bool hasImage = false;
        if (!gifIsComplete(bytes, hasImage)) {
            return stillFailure(StillProblem::truncated, "truncated GIF data", "GIF");
        }
        if (!hasImage) {
            return stillFailure(StillProblem::noPicture, "GIF file without a picture");
        }
    }
    if (format == "bmp" && !bmpIsComplete(bytes)) {
        return stillFailure(StillProblem::truncated, "truncated BMP data", "BMP");
    }
    return std::nullopt;
}

// Whether a PNG's header asks for interlaced rows, which Qt's reader cannot reduce row by row.
bool pngIsInterlaced(const QByteArray& b) {
    return b.size() > 28 && byteAt(b, 28) != 0;
}

// The memory Qt's reader needs for a picture of `full` pixels asked for at `target`: the
// JPEG reader and the PNG reader (rows read one by one) decode straight at the reduced size,
// the others decode the whole picture and reduce it after; 4 bytes a pixel. A JPEG that keeps
// its whole coefficients adds them.
qint64 qtReadCost(const QByteArray& bytes, const QByteArray& format, QSize full, QSize target,
                  const std::optional<JpegFrameHeader>& jpeg) {
    const auto pixels = [](QSize s) { return qint64(s.width()) * s.height(); };
    const bool readsReduced = format == "jpeg" || (format == "png" && !pngIsInterlaced(bytes));
    qint64 cost = readsReduced ? 4 * pixels(target)
                               : 4 * pixels(full) + (target != full ? 4 * pixels(target) : 0);
    if (jpeg && jpeg->keepsWholeCoefficients()) {
        cost += jpeg->wholeCoefficientBytes();
    }
    return cost;
}

// Qt refuses to read any picture whose pixels need more than 128 MB, which is below our own
// limit (a 48-megapixel photo needs 192 MB). Our limits are checked before Qt allocates, so
// Qt's own limit is raised once to what the largest decode we accept needs.
void raiseQtAllocationLimit() {
    static std::once_flag once;
    std::call_once(once, [] {
        const qint64 bytes = StillLimits{}.decodeBudgetBytes;
        QImageReader::setAllocationLimit(static_cast<int>(bytes / (1024 * 1024)) + 64);
    });
}

// The file's bytes as Qt's readers see them: once the picture is no longer wanted every read
// fails, and the reader gives up where it is (libpng and libjpeg read a few kilobytes at a
// time). Not a QBuffer, whose bytes Qt's JPEG reader would take directly, never reading.
class StoppableReader : public QIODevice {
  public:
    StoppableReader(const QByteArray& bytes, const StillStop& stop) : bytes_(bytes), stop_(stop) {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    bool stopped() const { return stopped_; }
    qint64 size() const override { return bytes_.size(); }

  protected:
    qint64 readData(char* data, qint64 maxSize) override {
        if (stopped_ || (stop_ && stop_())) {
            stopped_ = true;
            return -1;
        }
        const qint64 at = pos();
        const qint64 count = std::clamp<qint64>(bytes_.size() - at, 0, maxSize);
        if (count > 0) {
            std::memcpy(data, bytes_.constData() + at, std::size_t(count));
        }
        return count;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

  private:
    const QByteArray& bytes_;
    const StillStop& stop_;
    bool stopped_ = false;
};

DecodedStill cancelledStill() {
    return stillFailure(StillProblem::cancelled, "no longer wanted");
}

DecodedStill readWithQt(const QByteArray& bytes, const StillLimits& limits, QSize fitInto,
                        const StillStop& stop) {
    raiseQtAllocationLimit();
    StoppableReader source(bytes, stop);
    QImageReader reader(&source);
    reader.setAutoTransform(true);
    if (!reader.canRead()) {
        return source.stopped() ? cancelledStill()
                                : stillFailure(StillProblem::notAnImage, "not an image");
    }
    const QByteArray format = reader.format();
    if (format == "png") {
        if (auto overrun = pngChunkOverrun(bytes)) {
            return std::move(*overrun);
        }
    }
    QSize fullSize;
    if (const QSize declared = reader.size(); declared.isValid()) {
        if (declared.isEmpty()) {
            return stillFailure(StillProblem::undecodable, "image without a size",
                                format.toStdString());
        }
        const qint64 w = declared.width();
        const qint64 h = declared.height();
        // The declared size is of the stored picture; the reduction is asked for in it too.
        const bool turned =
            (reader.transformation() & QImageIOHandler::TransformationRotate90) != 0;
        const QSize upright = turned ? declared.transposed() : declared;
        const QSize target = reducedStillSize(upright, fitInto);
        const std::optional<JpegFrameHeader> jpeg =
            format == "jpeg" ? readJpegFrameHeader(bytes) : std::nullopt;
        const bool sequentialJpeg = jpeg && !jpeg->keepsWholeCoefficients();
        if (w > limits.maxSide || h > limits.maxSide ||
            (!sequentialJpeg && w * h > limits.maxDeclaredPixels) ||
            handsBackTooMuch(target.width(), target.height(), limits)) {
            return stillTooLarge(w, h);
        }
        if (const qint64 cost = qtReadCost(bytes, format, upright, target, jpeg);
            cost > limits.decodeBudgetBytes) {
            return stillTooCostly(w, h, cost, limits);
        }
        if (target != upright) {
            reader.setScaledSize(turned ? target.transposed() : target);
        }
        fullSize = upright;
    } else if (format == "bmp") {
        // Qt does not report the size of a BMP it refuses; say why when it is the size.
        if (const BmpHeader h = bmpHeader(bytes);
            h.known && (handsBackTooMuch(h.width, h.height, limits) ||
                        h.width * h.height > limits.maxDeclaredPixels)) {
            return stillTooLarge(h.width, h.height);
        }
    }
    if (auto cut = truncation(bytes, format)) {
        return std::move(*cut);
    }
    QImage image = reader.read();
    if (source.stopped()) {
        return cancelledStill();
    }
    if (image.isNull()) {
        const std::string why =
            format.toStdString() + " data: " + reader.errorString().toStdString();
        return stillFailure(StillProblem::undecodable, "undecodable " + why, why);
    }
    if (handsBackTooMuch(image.width(), image.height(), limits)) {
        return stillTooLarge(image.width(), image.height());
    }
    if (!fullSize.isValid()) {
        fullSize = image.size();
    }
    return {std::move(image), {}, fullSize, StillProblem::none, {}};
}

// Opaque pictures become RGB32, others premultiplied ARGB32, both in sRGB.
QImage normalised(QImage image) {
    const QColorSpace srgb(QColorSpace::SRgb);
    if (image.colorSpace().isValid() && image.colorSpace() != srgb) {
        QImage wide = image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32
                                                                    : QImage::Format_RGB32);
        wide.convertToColorSpace(srgb);
        image = std::move(wide);
    }
    const QImage::Format target =
        image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32;
    if (image.format() != target) {
        image = image.convertToFormat(target);
    }
    return image;
}

// What every reader's picture goes through: reduced when the reader could not, normalised.
DecodedStill finished(DecodedStill result, QSize fitInto, const StillStop& stop) {
    if (!result.ok()) {
        return result;
    }
    if (stop && stop()) {
        return cancelledStill();
    }
    if (!result.fullSize.isValid()) {
        result.fullSize = result.image.size();
    }
    // Readers that could not reduce while decoding: reduced now.
    if (const QSize target = reducedStillSize(result.image.size(), fitInto);
        target != result.image.size()) {
        result.image = result.image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    result.image = normalised(std::move(result.image));
    if (result.image.isNull()) {
        return stillFailure(StillProblem::outOfMemory, "out of memory for the picture");
    }
    return result;
}

}  // namespace

DecodedStill stillTooLarge(qint64 width, qint64 height) {
    return stillFailure(StillProblem::tooLarge, "image too large: " + sizeText(width, height),
                        sizeText(width, height));
}

DecodedStill stillTooCostly(qint64 width, qint64 height, qint64 bytes, const StillLimits& limits) {
    const auto mib = [](qint64 b) { return std::to_string((b + (1 << 20) - 1) >> 20); };
    return stillFailure(StillProblem::tooCostly,
                        "decoding a " + sizeText(width, height) + " image needs " + mib(bytes) +
                            " MiB, more than the " + mib(limits.decodeBudgetBytes) + " MiB allowed",
                        sizeText(width, height));
}

bool declaresTooMuch(qint64 width, qint64 height, const StillLimits& limits) {
    return width > limits.maxSide || height > limits.maxSide ||
           width * height > limits.maxDeclaredPixels;
}

bool handsBackTooMuch(qint64 width, qint64 height, const StillLimits& limits) {
    return width > limits.maxSide || height > limits.maxSide || width * height > limits.maxPixels;
}

QSize reducedStillSize(QSize size, QSize fitInto) {
    if (!fitInto.isValid() || fitInto.isEmpty() ||
        (size.width() <= fitInto.width() && size.height() <= fitInto.height())) {
        return size;
    }
    const QSize fitted = size.scaled(fitInto, Qt::KeepAspectRatio);
    return {std::max(1, fitted.width()), std::max(1, fitted.height())};
}

DecodedStill decodeStill(const QByteArray& bytes, const StillLimits& limits, QSize fitInto,
                         const StillStop& stop) {
    if (bytes.isEmpty()) {
        return stillFailure(StillProblem::emptyFile, "empty file");
    }
    if (stop && stop()) {
        return cancelledStill();
    }
    return finished(looksLikeHeif(bytes)        ? readHeifStill(bytes, limits, fitInto, stop)
                    : looksLikeTiff(bytes)      ? readTiffStill(bytes, limits, fitInto, stop)
                    : looksLikeStillWebp(bytes) ? readWebpStill(bytes, limits, fitInto, stop)
                                                : readWithQt(bytes, limits, fitInto, stop),
                    fitInto, stop);
}

DecodedStill decodeStill(const std::filesystem::path& file, const StillLimits& limits,
                         QSize fitInto, const StillStop& stop) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec)) {
        const std::string why = ec ? ec.message() : std::string("not a file");
        return stillFailure(
            StillProblem::unreadableFile,
            ec ? "cannot open " + file.string() + ": " + why : file.string() + " is not a file",
            why);
    }
    QFile in(QFile::decodeName(file.c_str()));
    if (!in.open(QIODevice::ReadOnly)) {
        const std::string why = in.errorString().toStdString();
        return stillFailure(StillProblem::unreadableFile,
                            "cannot open " + file.string() + ": " + why, why);
    }
    // A TIFF is read from disk as it is decoded: its file size costs no memory.
    if (looksLikeTiff(in.peek(4))) {
        in.close();
        return finished(readTiffStill(file, limits, fitInto, stop), fitInto, stop);
    }
    const qint64 size = in.size();
    if (size > limits.maxFileBytes) {
        return stillFailure(StillProblem::fileTooLarge,
                            "file too large: " + std::to_string(size) + " bytes",
                            std::to_string(size));
    }
    const QByteArray bytes = in.readAll();
    if (bytes.size() != size) {
        const std::string why = in.errorString().toStdString();
        return stillFailure(StillProblem::unreadableFile,
                            "cannot read " + file.string() + ": " + why, why);
    }
    return decodeStill(bytes, limits, fitInto, stop);
}

DecodedStill decodeStillToShow(const std::filesystem::path& file, QSize shownAt,
                               const StillStop& stop, const StillLimits& limits) {
    // Each later size only when the one before was refused for what its decode would take, and
    // only when it is smaller: a refusal comes from the file's header, before any decoding.
    const QSize sizes[] = {shownAt, kLargestOutputSize, QSize(kStillCheckSide, kStillCheckSide)};
    DecodedStill still;
    QSize tried;
    for (const QSize size : sizes) {
        if (tried.isValid() && (!size.isValid() || (size.width() >= tried.width() &&
                                                    size.height() >= tried.height()))) {
            continue;
        }
        still = decodeStill(file, limits, size, stop);
        if (still.problem != StillProblem::tooCostly && still.problem != StillProblem::tooLarge) {
            break;
        }
        tried = size.isValid() ? size : QSize(limits.maxSide, limits.maxSide);
    }
    return still;
}

}  // namespace kestio::platform
