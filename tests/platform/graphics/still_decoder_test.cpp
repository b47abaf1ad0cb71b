#include "platform/graphics/still_decoder.h"

#include <gtest/gtest.h>
#include <libheif/heif.h>

#include <QBuffer>
#include <QColor>
#include <QFile>
#include <QTemporaryDir>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "support/frame_number_strip.h"
#include "support/media_fixtures.h"

// The HEVC encoder behind libheif (x265) keeps a buffer of its one-time set-up for the life of
// the process; the leak checker of sanitizer builds is told to let that one library be.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libx265.so\n";
}

namespace kestio::platform {
namespace {

namespace fs = std::filesystem;

QByteArray readBytes(const fs::path& file) {
    QFile in(QString::fromStdString(file.string()));
    return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
}

void writeBytes(const fs::path& file, const QByteArray& bytes) {
    QFile out(QString::fromStdString(file.string()));
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    ASSERT_EQ(out.write(bytes), bytes.size());
}

bool isRed(QColor c) {
    return c.red() > 200 && c.green() < 60 && c.blue() < 60;
}
bool isBlue(QColor c) {
    return c.blue() > 200 && c.red() < 60 && c.green() < 60;
}

// The quadrant colours of the generated test picture, within `tolerance` (lossy formats).
void expectQuadrants(const QImage& image, int tolerance, const std::string& what) {
    const int w = image.width();
    const int h = image.height();
    const std::pair<QPoint, QRgb> samples[] = {{{w / 4, h * 3 / 8}, test::kTopLeftColour},
                                               {{w * 3 / 4, h * 3 / 8}, test::kTopRightColour},
                                               {{w / 4, h * 7 / 8}, test::kBottomLeftColour},
                                               {{w * 3 / 4, h * 7 / 8}, test::kBottomRightColour}};
    for (const auto& [at, colour] : samples) {
        const QColor got = image.pixelColor(at);
        const QColor want(colour);
        EXPECT_NEAR(got.red(), want.red(), tolerance) << what << " at " << at.x() << "," << at.y();
        EXPECT_NEAR(got.green(), want.green(), tolerance) << what;
        EXPECT_NEAR(got.blue(), want.blue(), tolerance) << what;
    }
}

class StillDecoderFixtures : public ::testing::TestWithParam<test::MediaFile> {};

TEST_P(StillDecoderFixtures, DecodesUprightWithItsColours) {
    const test::MediaFile& file = GetParam();
    test::mediaFixtures();  // makes the files
    const DecodedStill still = decodeStill(file.path);
    ASSERT_TRUE(still.ok()) << still.error;
    EXPECT_TRUE(still.error.empty());
    EXPECT_EQ(still.image.format(), QImage::Format_RGB32);
    EXPECT_EQ(still.image.size(), QSize(file.width, file.height));
    const bool lossy = file.extension == "jpg" || file.extension == "jpeg" ||
                       file.extension == "heic" || file.extension == "heif";
    expectQuadrants(still.image, lossy ? 40 : 0, file.extension);
}

INSTANTIATE_TEST_SUITE_P(EveryStillExtension, StillDecoderFixtures,
                         ::testing::ValuesIn(test::mediaFixtureCatalogue().stills),
                         [](const auto& param) { return param.param.testName(); });

TEST(StillDecoder, ExifOrientationSixComesOutTurnedClockwise) {
    const test::MediaFile& file = test::mediaFixtures().exifRotatedJpeg;
    const DecodedStill still = decodeStill(file.path);
    ASSERT_TRUE(still.ok()) << still.error;
    ASSERT_EQ(still.image.size(), QSize(120, 160));
    // Turned clockwise, the stored left column is now the top row: red top-right, blue
    // top-left, white bottom-left, green bottom-right.
    auto near = [&](int x, int y, QRgb want) {
        const QColor got = still.image.pixelColor(x, y);
        return std::abs(got.red() - qRed(want)) < 40 && std::abs(got.green() - qGreen(want)) < 40 &&
               std::abs(got.blue() - qBlue(want)) < 40;
    };
    EXPECT_TRUE(near(90, 40, test::kTopLeftColour));
    EXPECT_TRUE(near(30, 40, test::kBottomLeftColour));
    EXPECT_TRUE(near(30, 120, test::kBottomRightColour));
    EXPECT_TRUE(near(90, 120, test::kTopRightColour));
}

TEST(StillDecoder, AnAnimatedGifGivesItsFirstFrame) {
    const DecodedStill still = decodeStill(test::mediaFixtures().animatedGif.path);
    ASSERT_TRUE(still.ok()) << still.error;
    EXPECT_EQ(test::readFrameNumber(still.image), 0);
}

// Files made or cut for one test, in a folder removed afterwards.
class StillDecoderFiles : public ::testing::Test {
  protected:
    fs::path path(const std::string& name) const {
        return fs::path(dir_.path().toStdString()) / name;
    }
    QTemporaryDir dir_;
};

TEST_F(StillDecoderFiles, HeifRotationIsApplied) {
    heif_context* ctx = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    if (heif_context_get_encoder_for_format(ctx, heif_compression_HEVC, &encoder).code !=
        heif_error_Ok) {
        heif_context_free(ctx);
        GTEST_SKIP() << "no HEVC encoder in libheif";
    }
    heif_image* image = nullptr;
    heif_image_create(64, 32, heif_colorspace_RGB, heif_chroma_interleaved_RGB, &image);
    heif_image_add_plane(image, heif_channel_interleaved, 64, 32, 8);
    int stride = 0;
    uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 64; ++x) {
            uint8_t* p = plane + y * stride + x * 3;
            p[0] = x < 32 ? 255 : 0;
            p[1] = 0;
            p[2] = x < 32 ? 0 : 255;
        }
    }
    heif_encoder_set_lossy_quality(encoder, 90);
    heif_encoding_options* options = heif_encoding_options_alloc();
    options->image_orientation = heif_orientation_rotate_90_cw;
    const auto encoded = heif_context_encode_image(ctx, image, encoder, options, nullptr);
    const std::string file = path("rotated.heic").string();
    const auto written = heif_context_write_to_file(ctx, file.c_str());
    heif_encoding_options_free(options);
    heif_encoder_release(encoder);
    heif_image_release(image);
    heif_context_free(ctx);
    ASSERT_EQ(encoded.code, heif_error_Ok) << encoded.message;
    ASSERT_EQ(written.code, heif_error_Ok) << written.message;

    const DecodedStill still = decodeStill(path("rotated.heic"));
    ASSERT_TRUE(still.ok()) << still.error;
    ASSERT_EQ(still.image.size(), QSize(32, 64));
    EXPECT_TRUE(isRed(still.image.pixelColor(16, 8)));
    EXPECT_TRUE(isBlue(still.image.pixelColor(16, 56)));
}

TEST_F(StillDecoderFiles, TransparencyIsKeptPremultiplied) {
    QImage clear(8, 8, QImage::Format_ARGB32);
    clear.fill(QColor(255, 0, 0, 64));
    ASSERT_TRUE(clear.save(QString::fromStdString(path("clear.png").string())));
    const DecodedStill still = decodeStill(path("clear.png"));
    ASSERT_TRUE(still.ok()) << still.error;
    EXPECT_EQ(still.image.format(), QImage::Format_ARGB32_Premultiplied);
    EXPECT_EQ(still.image.pixelColor(3, 3).alpha(), 64);
}

TEST_F(StillDecoderFiles, CutOffFilesFailWithAReason) {
    for (const test::MediaFile& file : test::mediaFixtures().stills) {
        const QByteArray whole = readBytes(file.path);
        ASSERT_FALSE(whole.isEmpty()) << file.extension;
        for (double keep : {0.5, 0.9}) {
            const fs::path cut =
                path("cut-" + std::to_string(int(keep * 10)) + "." + file.extension);
            writeBytes(cut, whole.left(qsizetype(whole.size() * keep)));
            const DecodedStill still = decodeStill(cut);
            EXPECT_FALSE(still.ok()) << file.extension << " keeping " << keep;
            EXPECT_FALSE(still.error.empty()) << file.extension;
        }
    }
}

TEST_F(StillDecoderFiles, TheExtensionDoesNotDecideTheDecoder) {
    fs::copy_file(test::mediaFixtures().still("heic").path, path("heic-named.jpg"));
    fs::copy_file(test::mediaFixtures().still("png").path, path("png-named.heic"));
    EXPECT_TRUE(decodeStill(path("heic-named.jpg")).ok());
    EXPECT_TRUE(decodeStill(path("png-named.heic")).ok());
}

TEST_F(StillDecoderFiles, EmptyMissingAndNonImageFilesFailWithAReason) {
    writeBytes(path("empty.png"), {});
    EXPECT_EQ(decodeStill(path("empty.png")).error, "empty file");
    writeBytes(path("text.jpg"), "this is not a picture at all\n");
    EXPECT_EQ(decodeStill(path("text.jpg")).error, "not an image");
    EXPECT_FALSE(decodeStill(path("missing.png")).error.empty());
    const DecodedStill folder = decodeStill(fs::path(dir_.path().toStdString()));
    EXPECT_FALSE(folder.ok());
    EXPECT_FALSE(folder.error.empty());
    EXPECT_EQ(decodeStill(QByteArray()).error, "empty file");
}

std::uint32_t crc32(const QByteArray& data) {
    std::uint32_t crc = 0xffffffffu;
    for (char ch : data) {
        crc ^= std::uint8_t(ch);
        for (int k = 0; k < 8; ++k) {
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

void appendBigEndian(QByteArray& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.append(char((v >> shift) & 0xff));
    }
}

QByteArray pngClaiming(std::uint32_t width, std::uint32_t height) {
    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    QByteArray ihdr("IHDR");
    appendBigEndian(ihdr, width);
    appendBigEndian(ihdr, height);
    ihdr.append("\x08\x02\x00\x00\x00", 5);  // 8-bit RGB
    appendBigEndian(png, 13);
    png.append(ihdr);
    appendBigEndian(png, crc32(ihdr));
    const QByteArray idat("IDAT\x78\x9c\x03\x00\x00\x00\x00\x01", 12);
    appendBigEndian(png, 8);
    png.append(idat);
    appendBigEndian(png, crc32(idat));
    appendBigEndian(png, 0);
    png.append("IEND");
    appendBigEndian(png, crc32("IEND"));
    return png;
}

QByteArray bmpClaiming(std::int32_t width, std::int32_t height) {
    QByteArray bmp(54, '\0');
    auto put32 = [&](int at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            bmp[at + i] = char((v >> (8 * i)) & 0xff);
        }
    };
    bmp[0] = 'B';
    bmp[1] = 'M';
    put32(2, 54);
    put32(10, 54);
    put32(14, 40);
    put32(18, std::uint32_t(width));
    put32(22, std::uint32_t(height));
    bmp[26] = 1;
    bmp[28] = 24;
    return bmp;
}

TEST(StillDecoder, AbsurdSizesFailBeforeAnyPixelMemoryIsTaken) {
    // Under AddressSanitizer an attempt to allocate these would abort the test.
    const DecodedStill png = decodeStill(pngClaiming(200000, 200000));
    EXPECT_FALSE(png.ok());
    EXPECT_EQ(png.error, "image too large: 200000x200000");
    const DecodedStill bmp = decodeStill(bmpClaiming(30000, 30000));
    EXPECT_FALSE(bmp.ok());
    EXPECT_EQ(bmp.error, "image too large: 30000x30000");
    StillLimits small;
    small.maxPixels = 100;
    const DecodedStill limited = decodeStill(pngClaiming(20, 20), small);
    EXPECT_EQ(limited.error, "image too large: 20x20");
    StillLimits tinyFiles;
    tinyFiles.maxFileBytes = 10;
    QTemporaryDir dir;
    const fs::path file = fs::path(dir.path().toStdString()) / "big.png";
    writeBytes(file, pngClaiming(2, 2));
    EXPECT_EQ(decodeStill(file, tinyFiles).error.rfind("file too large", 0), 0u);
}

TEST(StillDecoder, APhotoOfFortyEightMegapixelsDecodes) {
    // 192 MB of pixels: above Qt's default reading limit, inside ours.
    QImage photo(8000, 6000, QImage::Format_RGB32);
    photo.fill(QColor(200, 30, 40));
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(photo.save(&buffer, "PNG"));
    photo = QImage();
    const DecodedStill decoded = decodeStill(png);
    ASSERT_TRUE(decoded.ok()) << decoded.error;
    EXPECT_EQ(decoded.image.size(), QSize(8000, 6000));
    EXPECT_EQ(QColor(decoded.image.pixel(7999, 5999)), QColor(200, 30, 40));
}

// A stop that says "no longer wanted" from its `from`-th ask on, counting its asks.
struct CountingStop {
    explicit CountingStop(int from) : from(from) {}
    StillStop stop() {
        return [this] { return ++asks >= from; };
    }
    int from;
    int asks = 0;
};

TEST(StillDecoder, EveryFormatsReaderHearsAStopOnceItHasBegun) {
    // The first ask is before any reader starts; the second is the reader's own.
    for (const test::MediaFile& file : test::mediaFixtures().stills) {
        CountingStop counting(2);
        const DecodedStill still = decodeStill(file.path, {}, {}, counting.stop());
        EXPECT_EQ(still.problem, StillProblem::cancelled) << file.extension;
        EXPECT_TRUE(still.image.isNull()) << file.extension;
        EXPECT_EQ(still.error, "no longer wanted") << file.extension;
    }
}

// A picture that compresses badly, so that reading it takes many reads: every pixel differs.
QByteArray noisyPicture(const char* format) {
    QImage noise(1600, 1200, QImage::Format_RGB32);
    std::uint32_t seed = 12345;
    for (int y = 0; y < noise.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(noise.scanLine(y));
        for (int x = 0; x < noise.width(); ++x) {
            seed = seed * 1664525u + 1013904223u;
            line[x] = 0xff000000u | (seed >> 8);
        }
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    noise.save(&buffer, format, 95);
    return bytes;
}

TEST(StillDecoder, AStopMidwayEndsTheDecodeWithoutReadingTheRest) {
    for (const char* format : {"PNG", "JPEG"}) {
        SCOPED_TRACE(format);
        const QByteArray bytes = noisyPicture(format);
        CountingStop never(std::numeric_limits<int>::max());
        ASSERT_TRUE(decodeStill(bytes, {}, {}, never.stop()).ok());
        ASSERT_GT(never.asks, 20) << "too few reads to stop in the middle";
        CountingStop halfway(never.asks / 2);
        const DecodedStill still = decodeStill(bytes, {}, {}, halfway.stop());
        EXPECT_EQ(still.problem, StillProblem::cancelled);
        EXPECT_EQ(halfway.asks, never.asks / 2);
    }
}

// A PNG of `width` x `height` written by Qt.
QByteArray flatPng(int width, int height) {
    QImage picture(width, height, QImage::Format_RGB32);
    picture.fill(QColor(30, 90, 200));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "PNG");
    return bytes;
}

TEST_F(StillDecoderFiles, AStillTooCostlyToShowAtTheSizeAskedIsShownSmallerNeverRefused) {
    // 100 MB to decode whole, 19 MB at the largest output's size.
    writeBytes(path("square.png"), flatPng(5000, 5000));
    StillLimits limits;
    limits.decodeBudgetBytes = 40 << 20;
    ASSERT_EQ(decodeStill(path("square.png"), limits).problem, StillProblem::tooCostly);
    const DecodedStill whole = decodeStillToShow(path("square.png"), QSize(), {}, limits);
    ASSERT_TRUE(whole.ok()) << whole.error;
    EXPECT_EQ(whole.fullSize, QSize(5000, 5000));
    EXPECT_EQ(whole.image.size(), QSize(2160, 2160));
    EXPECT_EQ(QColor(whole.image.pixel(1000, 1000)), QColor(30, 90, 200));

    // Fitted to 1080p it needs 1.8 MB; at the size import checks it at, 0.8 MB.
    writeBytes(path("wide.png"), flatPng(8000, 1000));
    limits.decodeBudgetBytes = 1 << 20;
    const DecodedStill wide = decodeStillToShow(path("wide.png"), QSize(1920, 1080), {}, limits);
    ASSERT_TRUE(wide.ok()) << wide.error;
    EXPECT_EQ(wide.image.size(), QSize(kStillCheckSide, 160));
    EXPECT_EQ(wide.fullSize, QSize(8000, 1000));

    // Shown at a size it fits: at that size, its own when smaller.
    const DecodedStill fitted = decodeStillToShow(path("square.png"), QSize(960, 540));
    EXPECT_EQ(fitted.image.size(), QSize(540, 540));
    const DecodedStill small = decodeStillToShow(path("wide.png"), QSize(10000, 10000));
    EXPECT_EQ(small.image.size(), QSize(8000, 1000));
    // Refused for what it declares: refused at every size.
    writeBytes(path("huge.png"), pngClaiming(200000, 200000));
    EXPECT_EQ(decodeStillToShow(path("huge.png"), QSize()).error, "image too large: 200000x200000");
}

// `png` with a chunk of `type` declaring `declared` bytes, holding `held` of them, put in
// after its header chunk.
QByteArray withChunkAfterHeader(const QByteArray& png, const char* type, std::uint32_t declared,
                                int held) {
    QByteArray chunk;
    appendBigEndian(chunk, declared);
    chunk.append(type);
    chunk.append(QByteArray(held, 'a'));
    const qsizetype afterHeader = 8 + 12 + 13;
    return png.left(afterHeader) + chunk + png.mid(afterHeader);
}

TEST(StillDecoder, APngChunkDeclaringMoreThanTheFileHoldsIsRefusedAsCutShort) {
    const QByteArray png = flatPng(4, 4);
    ASSERT_TRUE(decodeStill(png).ok());
    const std::vector<std::pair<std::string, QByteArray>> files = {
        {"a text chunk of 64 MiB", withChunkAfterHeader(png, "tEXt", 64u << 20, 500)},
        {"a compressed text chunk of 2 GiB", withChunkAfterHeader(png, "zTXt", 0x7fffffffu, 40)},
        {"a chunk of a length PNG forbids", withChunkAfterHeader(png, "iTXt", 0xffffffffu, 40)},
        {"a file cut in its pixels", png.left(png.indexOf("IDAT") + 10)},
    };
    for (const auto& [what, bytes] : files) {
        const DecodedStill still = decodeStill(bytes);
        EXPECT_EQ(still.problem, StillProblem::truncated) << what << ": " << still.error;
        EXPECT_EQ(still.detail, "PNG") << what;
    }
}

TEST(StillDecoder, EveryPublicSampleDecodesOrFailsCleanly) {
    const fs::path media = KESTIO_SHARED_MEDIA_DIR;
    if (!fs::is_directory(media)) {
        GTEST_SKIP() << "no sample media at " << media;
    }
    int decoded = 0;
    for (const auto& entry : fs::directory_iterator(media)) {
        const DecodedStill still = decodeStill(entry.path());
        SCOPED_TRACE(entry.path().filename().string());
        if (still.ok()) {
            ++decoded;
            EXPECT_TRUE(still.error.empty());
            EXPECT_GT(still.image.width(), 0);
            EXPECT_LE(qint64(still.image.width()) * still.image.height(), StillLimits{}.maxPixels);
        } else {
            EXPECT_FALSE(still.error.empty());
        }
    }
    EXPECT_GE(decoded, 5);
    auto sample = [&](const char* name) { return decodeStill(media / name); };
    EXPECT_EQ(sample("small-heif.heif").image.size(), QSize(64, 64));
    EXPECT_EQ(sample("small-jpeg.jpg").image.size(), QSize(1, 1));
    EXPECT_EQ(sample("small-bmp.bmp").image.size(), QSize(1, 1));
    EXPECT_EQ(sample("exiftool-PNG.png").image.size(), QSize(16, 16));
    EXPECT_TRUE(sample("small-png-transparent.png").image.hasAlphaChannel());
    EXPECT_FALSE(sample("small-png-truncated.png").ok());
    EXPECT_EQ(sample("small-gif.gif").error, "GIF file without a picture");
    EXPECT_EQ(sample("tinytag-empty_file.mp3").error, "empty file");
    EXPECT_EQ(sample("small-mp4-with-audio.mp4").error, "not an image");
    // The WebP whose header promises a picture it does not contain.
    const DecodedStill webp = sample("small-webp.webp");
    EXPECT_TRUE(webp.ok() ? webp.image.size() == QSize(1, 1) : !webp.error.empty());
}

}  // namespace
}  // namespace kestio::platform
