#include <gtest/gtest.h>

#include <QColor>
#include <QImage>

#include "import/clip_importer.h"

namespace kestio {
namespace {

QImage decodePng(const ClipImporter::Bytes& bytes) {
    return QImage::fromData(bytes.data(), static_cast<int>(bytes.size()), "PNG");
}

bool isPng(const ClipImporter::Bytes& bytes) {
    static const unsigned char kSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    return bytes.size() > 8 &&
           std::equal(std::begin(kSignature), std::end(kSignature), bytes.begin());
}

QImage filled(int w, int h, QColor colour) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

TEST(ScaledThumbnail, FitsWithinTheLargestSideKeepingTheShapeTruncated) {
    EXPECT_EQ(ClipImporter::scaledThumbnail(filled(4000, 3000, Qt::red), 320).size(),
              QSize(320, 240));
    EXPECT_EQ(ClipImporter::scaledThumbnail(filled(1000, 10, Qt::red), 320).size(), QSize(320, 3));
    EXPECT_EQ(ClipImporter::scaledThumbnail(filled(3000, 4000, Qt::red), 320).size(),
              QSize(240, 320));
    // 320/333 of 100 is 96.09...: truncated, not rounded.
    EXPECT_EQ(ClipImporter::scaledThumbnail(filled(333, 100, Qt::red), 320).size(), QSize(320, 96));
}

TEST(ScaledThumbnail, NeverEnlarges) {
    EXPECT_EQ(ClipImporter::scaledThumbnail(filled(200, 100, Qt::red), 320).size(),
              QSize(200, 100));
    EXPECT_EQ(ClipImporter::scaledThumbnail(filled(1, 1, Qt::red), 320).size(), QSize(1, 1));
}

TEST(ScaledThumbnail, AVeryThinImageKeepsALineOfPixelsInsteadOfStayingFullSize) {
    EXPECT_EQ(ClipImporter::scaledThumbnail(filled(20000, 50, Qt::red), 320).size(), QSize(320, 1));
    EXPECT_EQ(ClipImporter::scaledThumbnail(filled(10, 9000, Qt::red), 320).size(), QSize(1, 320));
}

TEST(ScaledThumbnail, IsPremultipliedRgbaAndKeepsTheColours) {
    const QImage thumb = ClipImporter::scaledThumbnail(filled(640, 480, QColor(10, 200, 30)), 320);
    EXPECT_EQ(thumb.format(), QImage::Format_RGBA8888_Premultiplied);
    EXPECT_EQ(thumb.pixelColor(100, 100), QColor(10, 200, 30));
}

TEST(ScaledThumbnail, ANullImageComesBackUnchanged) {
    EXPECT_TRUE(ClipImporter::scaledThumbnail(QImage(), 320).isNull());
}

TEST(AudioPlaceholder, IsA320By180PngTheSameEveryTime) {
    const auto first = ClipImporter::audioPlaceholderThumbnail();
    const auto second = ClipImporter::audioPlaceholderThumbnail();
    ASSERT_TRUE(first && second);
    EXPECT_TRUE(isPng(*first));
    EXPECT_EQ(*first, *second);
    const QImage image = decodePng(*first);
    EXPECT_EQ(image.size(), QSize(320, 180));
}

TEST(AudioPlaceholder, ShowsALighterNoteCentredOnDarkGrey) {
    const QImage image = decodePng(*ClipImporter::audioPlaceholderThumbnail());
    EXPECT_EQ(image.pixelColor(0, 0), QColor(38, 38, 38));
    EXPECT_EQ(image.pixelColor(319, 179), QColor(38, 38, 38));
    // Some pixels of the glyph, all in the middle third, reach the note's grey.
    int lit = 0;
    QRect box;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (qGray(image.pixel(x, y)) > 90) {
                ++lit;
                box |= QRect(x, y, 1, 1);
            }
        }
    }
    EXPECT_GT(lit, 100);
    EXPECT_GT(box.left(), 320 / 3);
    EXPECT_LT(box.right(), 2 * 320 / 3);
    EXPECT_NEAR(box.center().x(), 160, 12);
    EXPECT_NEAR(box.center().y(), 90, 25);
}

TEST(PngData, EncodesAndRefusesNullImages) {
    const auto png = ClipImporter::pngData(filled(3, 2, Qt::blue));
    ASSERT_TRUE(png);
    EXPECT_TRUE(isPng(*png));
    EXPECT_EQ(decodePng(*png).pixelColor(2, 1), QColor(Qt::blue));
    EXPECT_FALSE(ClipImporter::pngData(QImage()));
}

}  // namespace
}  // namespace kestio
