#include "support/media_fixtures.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QImageReader>
#include <algorithm>
#include <nlohmann/json.hpp>
#include <set>

#include "decoded_frame.h"
#include "support/process_runner.h"

namespace kestio::test {
namespace {

std::vector<std::string> extensionsOf(const std::vector<MediaFile>& files) {
    std::vector<std::string> extensions;
    for (const MediaFile& file : files) {
        extensions.push_back(file.extension);
    }
    return extensions;
}

TEST(MediaFixtures, CatalogueHoldsEveryMediaExtensionOnce) {
    const MediaFixtures& catalogue = mediaFixtureCatalogue();
    EXPECT_EQ(extensionsOf(catalogue.videoContainers),
              (std::vector<std::string>{"mp4", "m4v", "mov", "mxf", "m2ts", "mts", "ts", "m2t",
                                        "mpg", "mpeg", "m2v", "3gp", "3g2", "dv"}));
    EXPECT_EQ(extensionsOf(catalogue.audioFiles),
              (std::vector<std::string>{"wav", "mp3", "aiff", "aif", "m4a", "caf", "flac"}));
    EXPECT_EQ(extensionsOf(catalogue.stills),
              (std::vector<std::string>{"png", "jpg", "jpeg", "tiff", "tif", "heic", "heif", "bmp",
                                        "gif", "webp"}));
    ASSERT_EQ(catalogue.rateClips.size(), std::size(kOutputFrameRates));
    for (std::size_t i = 0; i < catalogue.rateClips.size(); ++i) {
        EXPECT_EQ(catalogue.rateClips[i].frameRate, kOutputFrameRates[i]);
    }

    std::set<std::filesystem::path> paths;
    for (const MediaFile* file : catalogue.all()) {
        EXPECT_TRUE(paths.insert(file->path).second) << file->path;
        EXPECT_EQ(file->path.parent_path(), catalogue.folder);
    }
}

TEST(MediaFixtures, EveryFileIsMadeAndNotEmpty) {
    for (const MediaFile* file : mediaFixtures().all()) {
        std::error_code error;
        EXPECT_GT(std::filesystem::file_size(file->path, error), 0u) << file->path;
        EXPECT_FALSE(error) << file->path << ": " << error.message();
    }
}

nlohmann::json probe(const MediaFile& file) {
    const std::vector<std::string> argv = {
        "ffprobe",
        "-v",
        "error",
        "-show_entries",
        "stream=codec_type,codec_name,width,height,r_frame_rate,channels,sample_rate:"
        "stream_side_data=rotation",
        "-of",
        "json",
        file.path.string()};
    const ProcessResult result = runProcess(argv, std::chrono::seconds(60));
    if (!result.succeeded()) {
        ADD_FAILURE() << describeFailure(argv, result);
        return {};
    }
    return nlohmann::json::parse(result.output);
}

// What ffprobe reads back is what went in, for every clip and audio file.
TEST(MediaFixtures, ProbedFactsMatchTheCatalogue) {
    const MediaFixtures& fixtures = mediaFixtures();
    for (const MediaFile* file : fixtures.all()) {
        if (file->kind == MediaKind::still) {
            continue;
        }
        SCOPED_TRACE(file->path.filename().string());
        const nlohmann::json facts = probe(*file);
        int videoStreams = 0;
        int audioStreams = 0;
        for (const nlohmann::json& stream : facts.value("streams", nlohmann::json::array())) {
            if (stream["codec_type"] == "video") {
                ++videoStreams;
                EXPECT_EQ(stream["codec_name"], file->videoCodec);
                EXPECT_EQ(stream["width"], file->width);
                EXPECT_EQ(stream["height"], file->height);
                EXPECT_EQ(stream["r_frame_rate"], std::to_string(file->frameRate.num) + "/" +
                                                      std::to_string(file->frameRate.den));
                int rotation = 0;
                for (const nlohmann::json& side :
                     stream.value("side_data_list", nlohmann::json::array())) {
                    rotation = side.value("rotation", rotation);
                }
                // The display matrix turns counter-clockwise; the catalogue counts clockwise.
                EXPECT_EQ(-rotation, file->rotation);
            } else if (stream["codec_type"] == "audio") {
                ++audioStreams;
                EXPECT_EQ(stream["codec_name"], file->audioCodec);
                EXPECT_EQ(stream["channels"], file->channels);
                EXPECT_EQ(stream["sample_rate"], std::to_string(file->sampleRate));
            }
        }
        EXPECT_EQ(videoStreams, file->hasVideo() ? 1 : 0);
        EXPECT_EQ(audioStreams, file->hasAudio() ? 1 : 0);
    }
}

bool near(QRgb actual, QRgb expected, int tolerance) {
    return std::abs(qRed(actual) - qRed(expected)) <= tolerance &&
           std::abs(qGreen(actual) - qGreen(expected)) <= tolerance &&
           std::abs(qBlue(actual) - qBlue(expected)) <= tolerance;
}

TEST(MediaFixtures, StillsShowTheTestPicture) {
    for (const MediaFile& still : mediaFixtures().stills) {
        SCOPED_TRACE(still.path.filename().string());
        if (still.videoCodec == "hevc") {
            // Qt cannot read HEIF; libheif's own tool checks the file instead.
            const std::vector<std::string> argv = {"heif-info", still.path.string()};
            const ProcessResult result = runProcess(argv, std::chrono::seconds(60));
            ASSERT_TRUE(result.succeeded()) << describeFailure(argv, result);
            EXPECT_NE(result.output.find("160x120"), std::string::npos) << result.output;
            continue;
        }
        const QImage image(QString::fromStdString(still.path.string()));
        ASSERT_FALSE(image.isNull());
        ASSERT_EQ(image.size(), QSize(still.width, still.height));
        const int tolerance = still.videoCodec == "mjpeg" ? 12 : 0;  // the one lossy format
        EXPECT_TRUE(near(image.pixel(40, 30), kTopLeftColour, tolerance));
        EXPECT_TRUE(near(image.pixel(120, 30), kTopRightColour, tolerance));
        EXPECT_TRUE(near(image.pixel(40, 90), kBottomLeftColour, tolerance));
        EXPECT_TRUE(near(image.pixel(120, 90), kBottomRightColour, tolerance));
    }
}

TEST(MediaFixtures, ExifTaggedJpegTurnsUprightAQuarterClockwise) {
    QImageReader reader(QString::fromStdString(mediaFixtures().exifRotatedJpeg.path.string()));
    reader.setAutoTransform(true);
    const QImage upright = reader.read();
    ASSERT_FALSE(upright.isNull()) << reader.errorString().toStdString();
    ASSERT_EQ(upright.size(), QSize(120, 160));
    // Turned clockwise, the stored bottom-left quadrant comes to the top left.
    EXPECT_TRUE(near(upright.pixel(30, 40), kBottomLeftColour, 12));
    EXPECT_TRUE(near(upright.pixel(90, 40), kTopLeftColour, 12));
}

TEST(MediaFixtures, RotatedClipTurnsUprightAQuarterClockwise) {
    const MediaFile& clip = mediaFixtures().rotatedClip;
    const QImage upright = decodeFrame(clip, 0);
    ASSERT_FALSE(upright.isNull());
    ASSERT_EQ(upright.size(), QSize(clip.height, clip.width));
    // Picture colours pass through 4:2:0 video: close, not exact.
    EXPECT_TRUE(near(upright.pixel(45, 240), kBottomRightColour, 40));
    EXPECT_TRUE(near(upright.pixel(45, 80), kBottomLeftColour, 40));
    EXPECT_TRUE(near(upright.pixel(135, 80), kTopLeftColour, 40));
}

}  // namespace
}  // namespace kestio::test
