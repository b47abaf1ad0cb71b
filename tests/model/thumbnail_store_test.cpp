#include "model/thumbnail_store.h"

#include <gtest/gtest.h>

#include <QBuffer>

namespace kestio {
namespace {

using Bytes = ThumbnailStore::Bytes;

Bytes pngOf(QColor colour) {
    QImage image(8, 4, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray encoded;
    QBuffer buffer(&encoded);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return Bytes(encoded.begin(), encoded.end());
}

class ThumbnailStoreTest : public ::testing::Test {
  protected:
    int decodes = 0;
    ThumbnailStore store{[this](const Bytes& data) {
        ++decodes;
        return ThumbnailStore::decodeWithQt(data);
    }};
    Bytes red = pngOf(Qt::red);
    Bytes blue = pngOf(Qt::blue);
};

TEST_F(ThumbnailStoreTest, EqualBytesGiveTheSameImageWithoutDecodingAgain) {
    const auto first = store.image("0-0", red);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->pixelColor(0, 0), QColor(Qt::red));
    EXPECT_EQ(store.image("0-0", Bytes(red)), first);
    EXPECT_EQ(decodes, 1);
}

TEST_F(ThumbnailStoreTest, OtherBytesDecodeAgainAndReplaceTheEntry) {
    const auto redImage = store.image("0-0", red);
    const auto blueImage = store.image("0-0", blue);
    ASSERT_TRUE(blueImage);
    EXPECT_NE(blueImage, redImage);
    EXPECT_EQ(blueImage->pixelColor(0, 0), QColor(Qt::blue));
    EXPECT_EQ(store.image("0-0", blue), blueImage);
    EXPECT_EQ(decodes, 2);
}

TEST_F(ThumbnailStoreTest, BytesThatAreNoImageGiveNoneAndKeepTheEntry) {
    const auto redImage = store.image("1-2", red);
    Bytes truncated(red.begin(), red.begin() + 20);
    EXPECT_FALSE(store.image("1-2", truncated));
    EXPECT_FALSE(store.image("1-2", Bytes{}));
    EXPECT_EQ(store.image("1-2", red), redImage);
    EXPECT_EQ(decodes, 3);
}

TEST_F(ThumbnailStoreTest, NoBytesForgetTheKey) {
    const auto redImage = store.image("0-5", red);
    EXPECT_FALSE(store.image("0-5", std::nullopt));
    const auto again = store.image("0-5", red);
    EXPECT_NE(again, redImage);
    EXPECT_EQ(decodes, 2);
}

TEST_F(ThumbnailStoreTest, KeysWithEqualBytesHoldSeparateImages) {
    const auto a = store.image("0-0", red);
    const auto b = store.image("0-1", red);
    EXPECT_NE(a, b);
    EXPECT_EQ(store.image("0-0", red), a);
    EXPECT_EQ(store.image("0-1", red), b);
    EXPECT_EQ(decodes, 2);
}

}  // namespace
}  // namespace kestio
