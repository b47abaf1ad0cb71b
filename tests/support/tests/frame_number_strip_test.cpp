#include "support/frame_number_strip.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QImageReader>
#include <QPainter>

#include "decoded_frame.h"
#include "support/media_fixtures.h"

namespace kestio::test {
namespace {

TEST(FrameNumberStrip, ReadsTheLastPictureOfEveryClip) {
    const MediaFixtures& fixtures = mediaFixtures();
    std::vector<MediaFile> clips = fixtures.rateClips;
    clips.insert(clips.end(), fixtures.videoContainers.begin(), fixtures.videoContainers.end());
    for (const MediaFile& clip : clips) {
        SCOPED_TRACE(clip.path.filename().string());
        const int last = clip.frameCount - 1;
        const QImage frame = decodeFrame(clip, last);
        ASSERT_FALSE(frame.isNull());
        EXPECT_EQ(frame.width(), clip.width);
        EXPECT_EQ(readFrameNumber(frame), last);
    }
}

TEST(FrameNumberStrip, ReadsAPictureShownLargerOrSmaller) {
    const MediaFile& clip = mediaFixtures().rateClip({24, 1});
    const QImage frame = decodeFrame(clip, 37);
    ASSERT_FALSE(frame.isNull());
    for (const QSize size : {QSize(1920, 1080), QSize(160, 90)}) {
        SCOPED_TRACE(size.width());
        EXPECT_EQ(
            readFrameNumber(frame.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)),
            37);
    }
}

TEST(FrameNumberStrip, ReadsEachPictureOfTheAnimatedGif) {
    QImageReader reader(QString::fromStdString(mediaFixtures().animatedGif.path.string()));
    ASSERT_EQ(reader.imageCount(), 3);
    for (int index = 0; index < 3; ++index) {
        const QImage frame = reader.read();
        ASSERT_FALSE(frame.isNull()) << reader.errorString().toStdString();
        EXPECT_EQ(readFrameNumber(frame), index);
    }
}

TEST(FrameNumberStrip, RefusesPicturesWithoutAClearStrip) {
    const MediaFile& clip = mediaFixtures().rateClip({30, 1});
    const QImage ten = decodeFrame(clip, 10);
    const QImage eleven = decodeFrame(clip, 11);
    ASSERT_FALSE(ten.isNull());
    ASSERT_FALSE(eleven.isNull());
    ASSERT_EQ(readFrameNumber(ten), 10);

    QImage blend = ten.convertToFormat(QImage::Format_RGB32);
    {
        QPainter painter(&blend);
        painter.setOpacity(0.5);
        painter.drawImage(0, 0, eleven);
    }
    EXPECT_EQ(readFrameNumber(blend), -1) << "a dissolve between two pictures";

    QImage black(320, 180, QImage::Format_RGB32);
    black.fill(Qt::black);
    EXPECT_EQ(readFrameNumber(black), -1);
    QImage white(320, 180, QImage::Format_RGB32);
    white.fill(Qt::white);
    EXPECT_EQ(readFrameNumber(white), -1);
    EXPECT_EQ(readFrameNumber(QImage()), -1);

    QImage flipped = ten.mirrored(true, false);
    EXPECT_EQ(readFrameNumber(flipped), -1) << "markers at the wrong ends";
}

// One screen row across the strip, as a benchmark grabs it from a window showing the clip.
TEST(FrameNumberStrip, ReadsOneRowAcrossTheMiddleOfTheStrip) {
    struct Case {
        int frame;
        QSize size;
    };
    const Case cases[] = {{0, {1280, 720}},
                          {1, {1920, 1080}},
                          {4095, {643, 362}},
                          {FrameNumberStrip::kMaxFrameNumber, {160, 90}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.frame);
        const QImage picture = pictureWithFrameNumber(c.frame, c.size);
        const int strip = c.size.height() / FrameNumberStrip::kHeightDivisor;
        EXPECT_EQ(readFrameNumberOfRow(picture.copy(0, strip / 2, c.size.width(), 1)), c.frame);
        EXPECT_EQ(readFrameNumberOfRow(picture.copy(0, strip + 2, c.size.width(), 1)), -1)
            << "a row below the strip";
    }

    // A decoded frame of a real clip, shown at the output window's size.
    const MediaFile& clip = mediaFixtures().rateClip({60000, 1001});
    const QImage frame =
        decodeFrame(clip, 5).scaled(1280, 720, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    ASSERT_FALSE(frame.isNull());
    EXPECT_EQ(readFrameNumberOfRow(frame.copy(0, 36, 1280, 1)), 5);
    EXPECT_EQ(readFrameNumberOfRow(frame.copy(0, 36, 640, 1)), -1) << "half a row";
    EXPECT_EQ(readFrameNumberOfRow(frame.copy(0, 36, 1280, 1).mirrored(true, false)), -1);
    EXPECT_EQ(readFrameNumberOfRow(QImage()), -1);

    // The test picture of the stills has no strip.
    const QImage still(QString::fromStdString(mediaFixtures().still("png").path.string()));
    ASSERT_FALSE(still.isNull());
    EXPECT_EQ(readFrameNumberOfRow(still.copy(0, still.height() / 20, still.width(), 1)), -1);
}

}  // namespace
}  // namespace kestio::test
