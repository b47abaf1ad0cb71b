#include "platform/graphics/still_decoder.h"

#include <gtest/gtest.h>
#include <libheif/heif.h>

#include <QColor>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace kestio::platform {
namespace {

namespace fs = std::filesystem;

bool run(const QString& program, const QStringList& args) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, args);
    if (!process.waitForStarted(30000) || !process.waitForFinished(120000)) {
        return false;
    }
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

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

// A 64 x 32 picture, red on the left half and blue on the right, converted into every still
// format by the ffmpeg command (and heif-enc for HEIF).
class StillDecoderFiles : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = std::make_unique<QTemporaryDir>();
        ASSERT_TRUE(dir_->isValid());
        QImage pattern(64, 32, QImage::Format_RGB32);
        pattern.fill(QColor(255, 0, 0));
        for (int y = 0; y < 32; ++y) {
            for (int x = 32; x < 64; ++x) {
                pattern.setPixelColor(x, y, QColor(0, 0, 255));
            }
        }
        ASSERT_TRUE(pattern.save(dir_->filePath("pattern.png")));
    }
    static void TearDownTestSuite() { dir_.reset(); }

    static fs::path path(const std::string& name) {
        return fs::path(dir_->path().toStdString()) / name;
    }
    // The pattern as `name`, made once.
    static fs::path make(const std::string& name) {
        const fs::path out = path(name);
        if (fs::exists(out)) {
            return out;
        }
        const QString source = dir_->filePath("pattern.png");
        const QString target = QString::fromStdString(out.string());
        const std::string ext = out.extension().string();
        bool made = false;
        if (ext == ".heic" || ext == ".heif") {
            made = run("heif-enc", {"-q", "90", "-o", target, source});
        } else {
            made =
                run("ffmpeg", {"-loglevel", "error", "-y", "-i", source, "-frames:v", "1", target});
        }
        EXPECT_TRUE(made) << "could not make " << name;
        return out;
    }

    static std::unique_ptr<QTemporaryDir> dir_;
};
std::unique_ptr<QTemporaryDir> StillDecoderFiles::dir_;

const std::vector<std::string> kExtensions = {"png",  "jpg",  "jpeg", "tiff", "tif",
                                              "heic", "heif", "bmp",  "gif",  "webp"};

TEST_F(StillDecoderFiles, EveryStillExtensionDecodesUpright) {
    for (const auto& ext : kExtensions) {
        const DecodedStill still = decodeStill(make("pattern." + ext));
        ASSERT_TRUE(still.ok()) << ext << ": " << still.error;
        EXPECT_TRUE(still.error.empty());
        EXPECT_EQ(still.image.size(), QSize(64, 32)) << ext;
        EXPECT_EQ(still.image.format(), QImage::Format_RGB32) << ext;
        EXPECT_TRUE(isRed(still.image.pixelColor(8, 16)))
            << ext << still.image.pixelColor(8, 16).name().toStdString();
        EXPECT_TRUE(isBlue(still.image.pixelColor(56, 16))) << ext;
    }
}

TEST_F(StillDecoderFiles, TheExtensionDoesNotDecideTheDecoder) {
    fs::copy_file(make("pattern.heic"), path("heic-named.jpg"));
    fs::copy_file(make("pattern.png"), path("png-named.heic"));
    EXPECT_TRUE(decodeStill(path("heic-named.jpg")).ok());
    EXPECT_TRUE(decodeStill(path("png-named.heic")).ok());
}

// Inserts an Exif block with only an orientation tag right after the start-of-image marker.
QByteArray withExifOrientation(const QByteArray& jpeg, std::uint8_t orientation) {
    const unsigned char exif[] = {
        0xff, 0xe1,        0x00, 0x22,                          // APP1, 34 bytes
        'E',  'x',         'i',  'f',  0x00, 0x00,              // Exif header
        'M',  'M',         0x00, 0x2a, 0x00, 0x00, 0x00, 0x08,  // big-endian TIFF, IFD at 8
        0x00, 0x01,                                             // one entry
        0x01, 0x12,        0x00, 0x03, 0x00, 0x00, 0x00, 0x01,  // Orientation, SHORT, 1 value
        0x00, orientation, 0x00, 0x00,                          //
        0x00, 0x00,        0x00, 0x00};                         // no next IFD
    QByteArray out = jpeg.left(2);
    out.append(reinterpret_cast<const char*>(exif), sizeof exif);
    out.append(jpeg.mid(2));
    return out;
}

TEST_F(StillDecoderFiles, ExifOrientationSixComesOutRotatedClockwise) {
    writeBytes(path("rotated.jpg"), withExifOrientation(readBytes(make("pattern.jpg")), 6));
    const DecodedStill still = decodeStill(path("rotated.jpg"));
    ASSERT_TRUE(still.ok()) << still.error;
    ASSERT_EQ(still.image.size(), QSize(32, 64));
    EXPECT_TRUE(isRed(still.image.pixelColor(16, 8)));  // the left edge is now on top
    EXPECT_TRUE(isBlue(still.image.pixelColor(16, 56)));
}

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

TEST_F(StillDecoderFiles, AnAnimatedGifGivesItsFirstFrame) {
    const QString target = QString::fromStdString(path("anim.gif").string());
    ASSERT_TRUE(run(
        "ffmpeg", {"-loglevel", "error", "-y", "-f", "lavfi", "-i", "color=red:s=16x16:d=0.2:r=10",
                   "-f", "lavfi", "-i", "color=blue:s=16x16:d=0.2:r=10", "-filter_complex",
                   "[0][1]concat=n=2", target}));
    const DecodedStill still = decodeStill(path("anim.gif"));
    ASSERT_TRUE(still.ok()) << still.error;
    EXPECT_TRUE(isRed(still.image.pixelColor(8, 8)));
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
    for (const auto& ext : kExtensions) {
        const QByteArray whole = readBytes(make("pattern." + ext));
        ASSERT_FALSE(whole.isEmpty()) << ext;
        for (double keep : {0.5, 0.9}) {
            const fs::path cut = path("cut-" + std::to_string(int(keep * 10)) + "." + ext);
            writeBytes(cut, whole.left(qsizetype(whole.size() * keep)));
            const DecodedStill still = decodeStill(cut);
            EXPECT_FALSE(still.ok()) << ext << " keeping " << keep;
            EXPECT_FALSE(still.error.empty()) << ext;
        }
    }
}

TEST_F(StillDecoderFiles, EmptyMissingAndNonImageFilesFailWithAReason) {
    writeBytes(path("empty.png"), {});
    EXPECT_EQ(decodeStill(path("empty.png")).error, "empty file");
    writeBytes(path("text.jpg"), "this is not a picture at all\n");
    EXPECT_EQ(decodeStill(path("text.jpg")).error, "not an image");
    EXPECT_FALSE(decodeStill(path("missing.png")).error.empty());
    const DecodedStill folder = decodeStill(fs::path(dir_->path().toStdString()));
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
