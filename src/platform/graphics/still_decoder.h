#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QtGlobal>
#include <filesystem>
#include <functional>
#include <string>

namespace kestio::platform {

// Bounds that keep a hostile or broken file from taking the machine's memory: checked from
// the file's header, before any pixel memory is allocated.
struct StillLimits {
    // 64 Mi pixels: 256 MiB at 4 bytes a pixel. It bounds the picture handed back: a larger one
    // asked for at a reduced size is read at that size where the format allows it.
    qint64 maxPixels = qint64(64) * 1024 * 1024;
    int maxSide = 32768;
    // Files read whole into memory; a TIFF file, read from disk as it is decoded, is exempt.
    qint64 maxFileBytes = qint64(512) * 1024 * 1024;
    // The largest camera photos. A sequential JPEG is exempt: it is read at a reduced size
    // with memory for that size only, whatever it declares.
    qint64 maxDeclaredPixels = 200'000'000;
    // The working memory one decode may take: the picture being decoded and what the format's
    // decoder keeps beside it, estimated from the file's header before anything is decoded.
    qint64 decodeBudgetBytes = qint64(512) * 1024 * 1024;
};

// Why a still could not be decoded, for a caller that words it in its own language.
enum class StillProblem {
    none,
    unreadableFile,  // detail: the system's reason
    emptyFile,
    fileTooLarge,  // detail: the file's size in bytes
    notAnImage,
    noPicture,     // a picture file that holds no picture (a GIF without a frame)
    truncated,     // detail: the format ("JPEG", "GIF", "BMP")
    undecodable,   // detail: the format and the library's reason
    tooLarge,      // detail: the declared size, "12000x9000"
    tooCostly,     // decoding would take more memory than the budget; detail: the size
    sizeMismatch,  // the declared size is not the coded picture's; detail: both sizes
    outOfMemory,
    cancelled,  // the caller's stop said the picture was no longer wanted
};

// Asked from the decoding thread between steps of a decode: true once the picture is no longer
// wanted (a later cue took its place). The decode then ends as soon as the format's reader lets
// it, failing with StillProblem::cancelled. Empty: never stopped.
using StillStop = std::function<bool()>;

struct DecodedStill {
    // Upright (orientation metadata applied), in sRGB, Format_RGB32 when opaque and
    // Format_ARGB32_Premultiplied when the file has alpha. Null on failure.
    QImage image;
    std::string error;  // why it failed, in English for logs; empty on success
    // The picture's own size, upright, also when `image` was decoded smaller.
    QSize fullSize;
    StillProblem problem = StillProblem::none;
    std::string detail;  // the figures or the library's words that go with `problem`

    bool ok() const { return !image.isNull(); }
};

// A failed decode: `error` in English, `problem` and `detail` for the caller's own words.
inline DecodedStill stillFailure(StillProblem problem, std::string error, std::string detail = {}) {
    DecodedStill failed;
    failed.error = std::move(error);
    failed.problem = problem;
    failed.detail = std::move(detail);
    return failed;
}

// The refusals and the reduced size every still reader shares.
DecodedStill stillTooLarge(qint64 width, qint64 height);
DecodedStill stillTooCostly(qint64 width, qint64 height, qint64 bytes, const StillLimits& limits);
// True when the declared size is beyond the largest side or the largest camera photo.
bool declaresTooMuch(qint64 width, qint64 height, const StillLimits& limits);
// True when a picture of this size may not be handed back.
bool handsBackTooMuch(qint64 width, qint64 height, const StillLimits& limits);
// The size a picture of `size` is decoded at to fit `fitInto` (when valid), shape kept, never
// enlarged, never to nothing.
QSize reducedStillSize(QSize size, QSize fitInto);

// Decodes the first picture of a still image file, whatever its extension says: PNG, JPEG,
// BMP, GIF (first frame) and animated WebP through Qt's readers, TIFF through libtiff and
// WebP through libwebp (both reduced while decoding), HEIC/HEIF through libheif (its rotation,
// mirroring and cropping applied). Empty, truncated, unreadable, non-image and
// oversized files fail with a reason. Blocks on disk and decoding: call it off the main
// thread. Safe from any thread.
//
// With a valid `fitInto`, a picture larger than that is decoded at a reduced size that fits
// it, keeping its shape (never enlarged); the reduction is done while decoding where the
// format allows it, so a very large photo needs memory only for the reduced picture.
//
// `stop` is asked between steps: Qt's readers between the reads of the file's bytes, TIFF
// between bands, WebP before libwebp's decode (one call), HEIF before and after libheif's
// decode (which cannot be stopped) and between rows of its conversion.
//
// A PNG whose chunks declare more bytes than the file holds is refused as cut short before
// Qt's reader sees it (libpng would allocate what a chunk declares first).
DecodedStill decodeStill(const std::filesystem::path& file, const StillLimits& limits = {},
                         QSize fitInto = {}, const StillStop& stop = {});
DecodedStill decodeStill(const QByteArray& bytes, const StillLimits& limits = {},
                         QSize fitInto = {}, const StillStop& stop = {});

// The size import checks a still at (a box of this side): a still that decodes at it imports.
inline constexpr int kStillCheckSide = 1280;

// Decodes a still to be shown drawn at `shownAt` pixels (its own size when `shownAt` is not
// valid). A picture the limits refuse at that size (decoding it whole would take more memory
// than one decode may) is decoded at the largest output's size, else at the size import checks
// it at: a still that imports can always be shown.
DecodedStill decodeStillToShow(const std::filesystem::path& file, QSize shownAt,
                               const StillStop& stop = {}, const StillLimits& limits = {});

}  // namespace kestio::platform
