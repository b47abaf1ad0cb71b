// WebP stills read through libwebp: reduced while decoding, with their full size, and refused
// before decoding when the picture or the memory its kind of coding needs is too large.

#include <gtest/gtest.h>
#include <webp/encode.h>

#include <QByteArray>
#include <QColorSpace>
#include <cstdint>
#include <string>

#include "platform/graphics/still_decoder.h"
#include "support/quadrant_picture.h"

namespace kestio::platform {
namespace {

// `picture` (ARGB32) coded as WebP, lossless or lossy at quality 90.
QByteArray webpOf(const QImage& picture, bool lossless) {
    const QImage argb = picture.convertToFormat(QImage::Format_ARGB32);
    std::uint8_t* out = nullptr;
    const std::size_t size =
        lossless ? WebPEncodeLosslessBGRA(argb.constBits(), argb.width(), argb.height(),
                                          int(argb.bytesPerLine()), &out)
                 : WebPEncodeBGRA(argb.constBits(), argb.width(), argb.height(),
                                  int(argb.bytesPerLine()), 90, &out);
    QByteArray bytes(reinterpret_cast<const char*>(out), qsizetype(size));
    WebPFree(out);
    return bytes;
}

// A lossless WebP that declares `width` x `height` and holds nothing after its header.
QByteArray losslessHeaderDeclaring(int width, int height) {
    const std::uint32_t bits = std::uint32_t(width - 1) | std::uint32_t(height - 1) << 14;
    QByteArray chunk("VP8L", 4);
    const char payload[] = {
        5, 0, 0, 0, 0x2f, char(bits), char(bits >> 8), char(bits >> 16), char(bits >> 24), 0};
    chunk.append(payload, sizeof payload);
    QByteArray file("RIFF", 4);
    const std::uint32_t riffSize = 4 + std::uint32_t(chunk.size());
    const char le[] = {char(riffSize), char(riffSize >> 8), char(riffSize >> 16),
                       char(riffSize >> 24)};
    file.append(le, 4).append("WEBP", 4).append(chunk);
    return file;
}

// `chunk` as a RIFF chunk: its tag, little-endian size, bytes, padded to an even size.
QByteArray riffChunk(const char* tag, const QByteArray& bytes) {
    const auto size = std::uint32_t(bytes.size());
    QByteArray chunk(tag, 4);
    const char le[] = {char(size), char(size >> 8), char(size >> 16), char(size >> 24)};
    chunk.append(le, 4).append(bytes);
    if (size % 2) {
        chunk.append('\0');
    }
    return chunk;
}

// A simple lossless WebP of `width` x `height` made an extended one that carries `profile`.
QByteArray withProfile(const QByteArray& simple, int width, int height, const QByteArray& profile) {
    const QByteArray image = simple.mid(12);  // the VP8L chunk after RIFF, size, WEBP
    const std::uint32_t w = std::uint32_t(width - 1);
    const std::uint32_t h = std::uint32_t(height - 1);
    const char header[] = {0x20,
                           0,
                           0,
                           0,  // a colour profile follows
                           char(w),
                           char(w >> 8),
                           char(w >> 16),
                           char(h),
                           char(h >> 8),
                           char(h >> 16)};
    const QByteArray body = QByteArray("WEBP") + riffChunk("VP8X", QByteArray(header, 10)) +
                            riffChunk("ICCP", profile) + image;
    return riffChunk("RIFF", body);
}

TEST(WebpStills, AnEmbeddedColourProfileIsApplied) {
    // Grey stored in linear light comes out brighter in sRGB: a quarter of full light is 137.
    QImage grey(8, 8, QImage::Format_ARGB32);
    grey.fill(qRgb(64, 64, 64));
    const QByteArray linear = QColorSpace(QColorSpace::Primaries::SRgb, 1.0f).iccProfile();
    ASSERT_FALSE(linear.isEmpty());
    const DecodedStill still = decodeStill(withProfile(webpOf(grey, true), 8, 8, linear));
    ASSERT_TRUE(still.ok()) << still.error;
    EXPECT_NEAR(qRed(still.image.pixel(4, 4)), 137, 2);
    const DecodedStill plain = decodeStill(webpOf(grey, true));
    EXPECT_EQ(qRed(plain.image.pixel(4, 4)), 64);
}

TEST(WebpStills, ReducedWhileDecodingWithTheirFullSizeAndColours) {
    struct Case {
        const char* name;
        bool lossless;
        int alpha;
        int tolerance;
    };
    for (const Case& c : {Case{"lossy", false, 255, 40}, Case{"lossless", true, 255, 0},
                          Case{"lossless with alpha", true, 128, 2}}) {
        SCOPED_TRACE(c.name);
        const DecodedStill still = decodeStill(
            webpOf(test::quadrantPicture(400, 300, c.alpha), c.lossless), {}, QSize(100, 100));
        ASSERT_TRUE(still.ok()) << still.error;
        EXPECT_EQ(still.fullSize, QSize(400, 300));
        ASSERT_EQ(still.image.size(), QSize(100, 75));
        EXPECT_EQ(still.image.format(),
                  c.alpha < 255 ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
        const std::pair<QPoint, QRgb> samples[] = {{{25, 18}, qRgb(255, 0, 0)},
                                                   {{75, 18}, qRgb(0, 255, 0)},
                                                   {{25, 56}, qRgb(0, 0, 255)},
                                                   {{75, 56}, qRgb(255, 255, 255)}};
        for (const auto& [at, colour] : samples) {
            const QRgb got = still.image.pixel(at);
            const auto premultiplied = [&](int v) { return v * c.alpha / 255; };
            EXPECT_NEAR(qRed(got), premultiplied(qRed(colour)), c.tolerance) << at.x();
            EXPECT_NEAR(qGreen(got), premultiplied(qGreen(colour)), c.tolerance) << at.x();
            EXPECT_NEAR(qBlue(got), premultiplied(qBlue(colour)), c.tolerance) << at.x();
            EXPECT_NEAR(qAlpha(got), c.alpha, c.tolerance);
        }
    }
}

// libwebp keeps a whole lossless picture while decoding it, but only rows of a lossy one.
TEST(WebpStills, TheMemoryOfTheCodingIsCheckedBeforeDecoding) {
    StillLimits limits;
    limits.decodeBudgetBytes = 1 << 20;
    const QImage picture = test::quadrantPicture(1000, 1000);
    const DecodedStill lossless = decodeStill(webpOf(picture, true), limits, QSize(100, 100));
    EXPECT_EQ(lossless.problem, StillProblem::tooCostly);
    EXPECT_EQ(lossless.detail, "1000x1000");
    const DecodedStill lossy = decodeStill(webpOf(picture, false), limits, QSize(100, 100));
    EXPECT_TRUE(lossy.ok()) << lossy.error;
}

TEST(WebpStills, DeclaredSizesBeyondTheLargestPhotoAndCutFilesAreRefused) {
    const DecodedStill huge = decodeStill(losslessHeaderDeclaring(16000, 15000), {}, QSize(64, 64));
    EXPECT_EQ(huge.problem, StillProblem::tooLarge);
    EXPECT_EQ(huge.detail, "16000x15000");

    const QByteArray whole = webpOf(test::quadrantPicture(300, 200), false);
    for (const qsizetype keep : {whole.size() / 2, qsizetype(20)}) {
        SCOPED_TRACE(keep);
        const DecodedStill cut = decodeStill(whole.left(keep));
        EXPECT_FALSE(cut.ok());
        EXPECT_FALSE(cut.error.empty());
    }
}

}  // namespace
}  // namespace kestio::platform
