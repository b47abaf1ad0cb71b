// TIFF stills read band by band through libtiff: the upright picture Qt's own reader gives
// for every orientation and layout, reduced pictures, and refusals before any decoding.

#include <gtest/gtest.h>
#include <tiffio.h>

#include <QColorSpace>
#include <QFile>
#include <QImageReader>
#include <QTemporaryDir>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/graphics/still_decoder.h"
#include "support/declared_tiff.h"
#include "support/quadrant_picture.h"

namespace kestio::platform {
namespace {

namespace fs = std::filesystem;

struct Layout {
    QByteArray profile;  // an ICC profile to embed, when not empty
    bool tiled = false;
    int bandRows = 16;  // rows per strip, or the tiles' size
    bool alpha = false;
    int orientation = ORIENTATION_TOPLEFT;
};

// Writes `picture` (ARGB32, straight alpha) as an 8-bit RGB(A) TIFF, deflated.
void writeTiff(const fs::path& file, const QImage& picture, const Layout& layout) {
    TIFF* tif = TIFFOpen(file.c_str(), "w");
    ASSERT_NE(tif, nullptr);
    const int w = picture.width();
    const int h = picture.height();
    const int channels = layout.alpha ? 4 : 3;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, std::uint32_t(w));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, std::uint32_t(h));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, channels);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    TIFFSetField(tif, TIFFTAG_ORIENTATION, layout.orientation);
    if (!layout.profile.isEmpty()) {
        TIFFSetField(tif, TIFFTAG_ICCPROFILE, std::uint32_t(layout.profile.size()),
                     layout.profile.constData());
    }
    if (layout.alpha) {
        const std::uint16_t extra[] = {EXTRASAMPLE_UNASSALPHA};
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, extra);
    }
    const auto sample = [&](int x, int y, std::uint8_t* out) {
        const QRgb p = x < w && y < h ? picture.pixel(x, y) : 0;
        out[0] = std::uint8_t(qRed(p));
        out[1] = std::uint8_t(qGreen(p));
        out[2] = std::uint8_t(qBlue(p));
        if (layout.alpha) {
            out[3] = std::uint8_t(qAlpha(p));
        }
    };
    if (layout.tiled) {
        const int side = layout.bandRows;
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, side);
        TIFFSetField(tif, TIFFTAG_TILELENGTH, side);
        std::vector<std::uint8_t> tile(std::size_t(side) * side * channels);
        for (int ty = 0; ty < h; ty += side) {
            for (int tx = 0; tx < w; tx += side) {
                for (int y = 0; y < side; ++y) {
                    for (int x = 0; x < side; ++x) {
                        sample(tx + x, ty + y, &tile[(std::size_t(y) * side + x) * channels]);
                    }
                }
                ASSERT_GE(
                    TIFFWriteTile(tif, tile.data(), std::uint32_t(tx), std::uint32_t(ty), 0, 0), 0);
            }
        }
    } else {
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, layout.bandRows);
        std::vector<std::uint8_t> row(std::size_t(w) * channels);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                sample(x, y, &row[std::size_t(x) * channels]);
            }
            ASSERT_EQ(TIFFWriteScanline(tif, row.data(), std::uint32_t(y), 0), 1);
        }
    }
    TIFFClose(tif);
}

// What Qt's own TIFF reader makes of the file, upright, as the decoder hands pictures back.
QImage readByQt(const fs::path& file, bool alpha) {
    QImageReader reader(QString::fromStdString(file.string()));
    reader.setAutoTransform(true);
    return reader.read().convertToFormat(alpha ? QImage::Format_ARGB32_Premultiplied
                                               : QImage::Format_RGB32);
}

void expectSamePicture(const QImage& got, const QImage& want) {
    ASSERT_EQ(got.size(), want.size());
    ASSERT_EQ(got.format(), want.format());
    int differing = 0;
    for (int y = 0; y < got.height(); ++y) {
        for (int x = 0; x < got.width(); ++x) {
            const QRgb a = got.pixel(x, y);
            const QRgb b = want.pixel(x, y);
            // Premultiplying may round a step apart.
            if (std::abs(qRed(a) - qRed(b)) > 1 || std::abs(qGreen(a) - qGreen(b)) > 1 ||
                std::abs(qBlue(a) - qBlue(b)) > 1 || std::abs(qAlpha(a) - qAlpha(b)) > 1) {
                ADD_FAILURE_AT(__FILE__, __LINE__)
                    << "pixel " << x << "," << y << " " << std::hex << a << " instead of " << b;
                if (++differing > 5) {
                    return;
                }
            }
        }
    }
}

class TiffStills : public ::testing::Test {
  protected:
    fs::path path(const std::string& name) const {
        return fs::path(dir_.path().toStdString()) / name;
    }
    QTemporaryDir dir_;
};

TEST_F(TiffStills, EveryOrientationAndLayoutComesOutAsQtReadsIt) {
    std::vector<Layout> layouts;
    for (int orientation = 1; orientation <= 8; ++orientation) {
        layouts.push_back({{}, false, 7, false, orientation});
        layouts.push_back({{}, true, 16, false, orientation});
    }
    layouts.push_back({{}, false, 1, true, ORIENTATION_TOPLEFT});
    layouts.push_back({{}, true, 32, true, ORIENTATION_RIGHTTOP});
    const QImage picture = test::quadrantPicture(50, 30, 128);
    for (const Layout& layout : layouts) {
        const std::string name = "o" + std::to_string(layout.orientation) +
                                 (layout.tiled ? "-tiled" : "-strips") +
                                 (layout.alpha ? "-alpha" : "") + ".tiff";
        SCOPED_TRACE(name);
        const fs::path file = path(name);
        writeTiff(file, layout.alpha ? picture : picture.convertToFormat(QImage::Format_RGB32),
                  layout);
        const DecodedStill still = decodeStill(file);
        ASSERT_TRUE(still.ok()) << still.error;
        const bool turned = layout.orientation >= ORIENTATION_LEFTTOP;
        EXPECT_EQ(still.fullSize, turned ? QSize(30, 50) : QSize(50, 30));
        expectSamePicture(still.image, readByQt(file, layout.alpha));
    }
}

TEST_F(TiffStills, ALargePictureIsReducedUprightWithItsFullSize) {
    const fs::path file = path("turned.tiff");
    writeTiff(file, test::quadrantPicture(600, 400), {{}, false, 3, false, ORIENTATION_RIGHTTOP});
    const DecodedStill still = decodeStill(file, {}, QSize(80, 80));
    ASSERT_TRUE(still.ok()) << still.error;
    EXPECT_EQ(still.fullSize, QSize(400, 600));
    ASSERT_EQ(still.image.size(), QSize(53, 80));
    // Turned clockwise: the stored bottom-left (blue) is now top-left.
    const QImage upright = readByQt(file, false);
    for (const auto& [x, y] : {std::pair{0.25, 0.25}, {0.75, 0.25}, {0.25, 0.75}, {0.75, 0.75}}) {
        EXPECT_EQ(still.image.pixel(int(x * 53), int(y * 80)),
                  upright.pixel(int(x * 400), int(y * 600)));
    }
    EXPECT_EQ(still.image.pixel(5, 5), qRgb(0, 0, 255));
}

TEST_F(TiffStills, AnEmbeddedColourProfileIsApplied) {
    // Grey stored in linear light comes out brighter in sRGB: a quarter of full light is 137.
    QImage grey(40, 40, QImage::Format_RGB32);
    grey.fill(qRgb(64, 64, 64));
    const QByteArray linear = QColorSpace(QColorSpace::Primaries::SRgb, 1.0f).iccProfile();
    ASSERT_FALSE(linear.isEmpty());
    const fs::path file = path("linear.tiff");
    writeTiff(file, grey, {linear, false, 8, false, ORIENTATION_TOPLEFT});
    const DecodedStill still = decodeStill(file, {}, QSize(10, 10));
    ASSERT_TRUE(still.ok()) << still.error;
    EXPECT_NEAR(qRed(still.image.pixel(5, 5)), 137, 2);
}

// The memory a decode takes depends on how the file is laid out: the same picture in one
// strip holds all of it at once.
TEST_F(TiffStills, AStripBeyondTheBudgetIsRefusedBeforeDecoding) {
    StillLimits limits;
    limits.decodeBudgetBytes = 1 << 20;
    const QImage picture = test::quadrantPicture(600, 600);
    const fs::path oneStrip = path("one-strip.tiff");
    writeTiff(oneStrip, picture, {{}, false, 600, false, ORIENTATION_TOPLEFT});
    const fs::path strips = path("strips.tiff");
    writeTiff(strips, picture, {{}, false, 16, false, ORIENTATION_TOPLEFT});

    const DecodedStill refused = decodeStill(oneStrip, limits, QSize(100, 100));
    EXPECT_EQ(refused.problem, StillProblem::tooCostly);
    EXPECT_EQ(refused.detail, "600x600");
    const DecodedStill read = decodeStill(strips, limits, QSize(100, 100));
    EXPECT_TRUE(read.ok()) << read.error;
}

TEST_F(TiffStills, DeclaredSizesBeyondTheLargestPhotoAndCutFilesAreRefused) {
    const fs::path huge = path("huge.tiff");
    ASSERT_TRUE(test::writeTiffDeclaring(huge, 15000, 14000));
    const DecodedStill refused = decodeStill(huge, {}, QSize(1280, 1280));
    EXPECT_EQ(refused.problem, StillProblem::tooLarge);
    EXPECT_EQ(refused.detail, "15000x14000");

    const fs::path whole = path("whole.tiff");
    writeTiff(whole, test::quadrantPicture(300, 300), {{}, false, 300, false, ORIENTATION_TOPLEFT});
    QFile in(QString::fromStdString(whole.string()));
    ASSERT_TRUE(in.open(QIODevice::ReadOnly));
    const QByteArray bytes = in.readAll();
    // libtiff writes the directory after the pixels: cut before it, nothing says what is there.
    for (const qsizetype keep : {bytes.size() / 2, qsizetype(16)}) {
        SCOPED_TRACE(keep);
        const DecodedStill cut = decodeStill(bytes.left(keep));
        EXPECT_FALSE(cut.ok());
        EXPECT_FALSE(cut.error.empty());
    }
}

}  // namespace
}  // namespace kestio::platform
