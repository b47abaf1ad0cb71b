// Every generated clip, sound file and still, imported for real: the probed facts are those the
// files were made with.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QImage>
#include <QTransform>
#include <cmath>

#include "import/clip_facts.h"
#include "importer_harness.h"
#include "platform/runloop/console.h"
#include "support/frame_number_strip.h"
#include "support/media_fixtures.h"
#include "support/process_runner.h"
#include "support/temporary_folder.h"

namespace kestio::test {
namespace {

// The codec texts the probe gives for what the fixtures were encoded with.
std::string expectedVideoCodec(const MediaFile& file) {
    if (file.videoCodec == "h264") {
        return "avc1";
    }
    if (file.videoCodec == "mpeg2video") {
        return "mp2v";
    }
    if (file.videoCodec == "mpeg1video") {
        return "mp1v";
    }
    if (file.videoCodec == "h263") {
        return "s263";  // the QuickTime sample entry of H.263 in 3GPP2
    }
    if (file.videoCodec == "dvvideo") {
        return "dvcp";  // PAL DV 4:2:0
    }
    return "?" + file.videoCodec;
}

std::string expectedAudioCodec(const std::string& codec) {
    if (codec.rfind("pcm_", 0) == 0) {
        return "lpcm";
    }
    if (codec == "aac" || codec == "flac") {
        return codec;
    }
    if (codec == "mp2" || codec == "mp3") {
        return "." + codec;
    }
    if (codec == "ac3") {
        return "ac-3";
    }
    return "?" + codec;
}

double modificationDate(const std::filesystem::path& file) {
    struct stat st {};
    EXPECT_EQ(::stat(file.c_str(), &st), 0);
    return referenceDateFromUnixSeconds(static_cast<double>(st.st_mtim.tv_sec) +
                                        static_cast<double>(st.st_mtim.tv_nsec) * 1e-9);
}

QImage decodePng(const ClipImporter::Bytes& bytes) {
    return QImage::fromData(bytes.data(), static_cast<int>(bytes.size()), "PNG");
}

std::vector<MediaFile> allClips() {
    const MediaFixtures& catalogue = mediaFixtureCatalogue();
    std::vector<MediaFile> clips = catalogue.videoContainers;
    for (const MediaFile& clip : catalogue.rateClips) {
        if (clip.path != catalogue.videoContainers.front().path) {
            clips.push_back(clip);
        }
    }
    clips.push_back(catalogue.rotatedClip);
    return clips;
}

class ClipImport : public ::testing::TestWithParam<MediaFile> {
  protected:
    void SetUp() override { mediaFixtures(); }
};

TEST_P(ClipImport, ProbedFactsAreThoseTheClipWasMadeWith) {
    const MediaFile& clip = GetParam();
    ImporterHarness harness;
    const ImportOutcome outcome = harness.importMeta(clip.path);
    const ImportResult* result = resultOf(outcome);
    ASSERT_NE(result, nullptr);
    const ClipInfo& info = result->clipInfo;

    EXPECT_EQ(result->mediaType, MediaType::video);
    EXPECT_EQ(result->url, clip.path);
    EXPECT_EQ(result->name, clip.path.stem().string());
    EXPECT_TRUE(result->bookmark.has_value());
    EXPECT_FALSE(result->thumbnail.has_value());
    EXPECT_FALSE(result->waveformData.has_value());

    EXPECT_EQ(info.codec, expectedVideoCodec(clip));
    // The stored size, before any rotation.
    EXPECT_EQ(info.resolution, std::to_string(clip.width) + "x" + std::to_string(clip.height));
    EXPECT_NEAR(info.fps, clip.frameRate.value(), 1e-6);
    EXPECT_GE(info.duration, clip.duration - 1e-6);
    EXPECT_LE(info.duration, clip.duration + 0.1);  // containers may add a little
    EXPECT_EQ(info.audioCodec, clip.hasAudio() ? expectedAudioCodec(clip.audioCodec) : "");
    EXPECT_EQ(info.channels, clip.channels);
    EXPECT_EQ(info.sampleRate, clip.sampleRate);
    EXPECT_EQ(info.audioBitDepth, clip.audioBitDepth);
    ASSERT_TRUE(info.sourceModifiedAt.has_value());
    EXPECT_NEAR(*info.sourceModifiedAt, modificationDate(clip.path), 1e-6);

    // A video's data rate is there, and below the whole file's.
    const double fileRate =
        static_cast<double>(std::filesystem::file_size(clip.path)) * 8.0 / clip.duration;
    EXPECT_GT(info.bitRate, 0);
    EXPECT_LT(static_cast<double>(info.bitRate), fileRate * 1.01);
}

TEST_P(ClipImport, ThumbnailIsAnUprightPngWithin320) {
    const MediaFile& clip = GetParam();
    ImporterHarness harness;
    const auto png = harness.videoThumbnail(clip.path, 0.0);
    ASSERT_TRUE(png.has_value());
    const QImage image = decodePng(*png);
    ASSERT_FALSE(image.isNull());
    EXPECT_LE(image.width(), ClipImporter::kThumbnailMaxSide);
    EXPECT_LE(image.height(), ClipImporter::kThumbnailMaxSide);
    EXPECT_EQ(std::max(image.width(), image.height()),
              std::min(ClipImporter::kThumbnailMaxSide, std::max(clip.width, clip.height)));
    // Upright, and the frame number strip along the top of the stored picture reads 0.
    const QImage stored =
        clip.rotation == 0 ? image : image.transformed(QTransform().rotate(-clip.rotation));
    EXPECT_EQ(readFrameNumber(stored), 0);
    if (clip.rotation == 90) {
        EXPECT_GT(image.height(), image.width());
    }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, ClipImport, ::testing::ValuesIn(allClips()),
                         [](const auto& param) { return param.param.testName(); });

TEST(ClipImportFacts, H264AndAacInMp4ReadAsAvc1AndAac) {
    ImporterHarness harness;
    const MediaFile& clip = mediaFixtures().video("mp4");
    const ImportOutcome outcome = harness.importMeta(clip.path);
    const ImportResult* result = resultOf(outcome);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->clipInfo.codec, "avc1");
    EXPECT_EQ(result->clipInfo.audioCodec, "aac");
    EXPECT_EQ(result->clipInfo.audioBitDepth, 0);
}

TEST(ClipImportFacts, TheProbeReportsItsStepsOnTheConsole) {
    ImporterHarness harness;
    platform::Console::Capture console;
    harness.importMeta(mediaFixtures().video("mov").path);
    ASSERT_GE(console.lines().size(), 2u);
    EXPECT_EQ(console.lines()[0], "🔍 importMeta 開始: container.mov ext=mov");
    EXPECT_EQ(console.lines()[1], "📋 importMeta: duration=2.0s tracks=2 [vide,soun]");
}

TEST(ClipImportFacts, AVideoWithoutSoundHasNoAudioFacts) {
    ImporterHarness harness;
    const ImportOutcome outcome = harness.importMeta(mediaFixtures().video("m2v").path);
    const ImportResult* result = resultOf(outcome);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->clipInfo.audioCodec, "");
    EXPECT_EQ(result->clipInfo.channels, 0);
    EXPECT_EQ(result->clipInfo.sampleRate, 0);
    EXPECT_EQ(result->clipInfo.audioBitDepth, 0);
}

TEST(ClipImportFacts, AnExtensionInCapitalsIsStillAVideo) {
    TemporaryFolder folder;
    const auto copy = folder.copy(mediaFixtures().video("mov").path, "TAKE.MOV");
    ImporterHarness harness;
    const ImportOutcome outcome = harness.importMeta(copy);
    const ImportResult* result = resultOf(outcome);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->mediaType, MediaType::video);
    EXPECT_EQ(result->name, "TAKE");
}

// The thumbnail of a clip at a time shows the first frame at or after it, never an earlier one.
TEST(VideoThumbnail, TakesTheFirstFrameAtOrAfterTheTime) {
    ImporterHarness harness;
    const MediaFile& clip = mediaFixtures().rateClip({30000, 1001});
    struct Case {
        double seconds;
        int frame;
    };
    // Frames fall at k * 1001 / 30000 s: 1.0 lies between frame 29 (0.967) and 30 (1.001).
    // Times are taken on the 1/600 s grid: 1.001 becomes 1.00167, past frame 30.
    for (const Case c : {Case{-1.0, 0}, Case{0.0, 0}, Case{0.5, 15}, Case{1.0, 30}, Case{1.001, 31},
                         Case{1.9, 57}}) {
        const auto png = harness.videoThumbnail(clip.path, c.seconds);
        ASSERT_TRUE(png.has_value()) << c.seconds;
        EXPECT_EQ(readFrameNumber(decodePng(*png)), c.frame) << c.seconds;
    }
}

TEST(VideoThumbnail, TransportStreamsGiveFramesAfterTheirStartAnywhere) {
    ImporterHarness harness;
    for (const char* extension : {"ts", "m2ts", "m2t", "mpg"}) {
        const auto png = harness.videoThumbnail(mediaFixtures().video(extension).path, 1.0);
        ASSERT_TRUE(png.has_value()) << extension;
        EXPECT_EQ(readFrameNumber(decodePng(*png)), 30) << extension;
    }
}

TEST(VideoThumbnail, ARotatedClipComesOutUpright) {
    ImporterHarness harness;
    const MediaFile& clip = mediaFixtures().rotatedClip;
    const auto png = harness.videoThumbnail(clip.path, 0.5);
    ASSERT_TRUE(png.has_value());
    const QImage image = decodePng(*png);
    EXPECT_EQ(image.size(), QSize(180, 320));
    // The frame number strip runs along the top of the stored picture.
    EXPECT_EQ(readFrameNumber(image.transformed(QTransform().rotate(-90))), 15);
    // Stored top left is red; turned a quarter clockwise it is at the top right.
    const QColor topRight = image.pixelColor(image.width() * 3 / 4, image.height() / 4);
    EXPECT_GT(topRight.red(), 200);
    EXPECT_LT(topRight.green(), 60);
    EXPECT_LT(topRight.blue(), 60);
}

TEST(VideoThumbnail, NoPictureAfterTheEndOrWithoutVideo) {
    ImporterHarness harness;
    EXPECT_FALSE(harness.videoThumbnail(mediaFixtures().video("mp4").path, 30.0));
    EXPECT_FALSE(harness.videoThumbnail(mediaFixtures().audio("wav").path, 0.0));
    EXPECT_FALSE(harness.videoThumbnail("/nonexistent/clip.mp4", 0.0));
}

class SoundImport : public ::testing::TestWithParam<MediaFile> {
  protected:
    void SetUp() override { mediaFixtures(); }
};

TEST_P(SoundImport, FactsWaveformAndPlaceholder) {
    const MediaFile& sound = GetParam();
    ImporterHarness harness;
    platform::Console::Capture console;
    const ImportOutcome outcome = harness.importMeta(sound.path, 12.0);
    const ImportResult* result = resultOf(outcome);
    ASSERT_NE(result, nullptr);
    EXPECT_TRUE(console.lines().empty());  // nothing on success, and no video probe

    EXPECT_EQ(result->mediaType, MediaType::audio);
    EXPECT_EQ(result->name, "tone");
    EXPECT_TRUE(result->bookmark.has_value());
    const ClipInfo& info = result->clipInfo;
    EXPECT_EQ(info.codec, "Audio");
    EXPECT_EQ(info.resolution, "-");
    EXPECT_EQ(info.fps, 0);
    EXPECT_EQ(info.bitRate, 0);
    EXPECT_GE(info.duration, sound.duration - 1e-6);
    EXPECT_LE(info.duration, sound.duration + 0.1);
    EXPECT_EQ(info.audioCodec, expectedAudioCodec(sound.audioCodec));
    EXPECT_EQ(info.channels, sound.channels);
    EXPECT_EQ(info.sampleRate, sound.sampleRate);
    EXPECT_EQ(info.audioBitDepth, sound.audioBitDepth);
    EXPECT_FALSE(info.sourceModifiedAt.has_value());

    EXPECT_EQ(result->thumbnail, ClipImporter::audioPlaceholderThumbnail());

    // The tone's constant level (peak 0.125, tripled) across the file. Lossy coders start
    // and end with a ramp, and their stated length may pass the sound's end.
    ASSERT_TRUE(result->waveformData.has_value());
    const auto& points = *result->waveformData;
    ASSERT_EQ(points.size(), static_cast<std::size_t>(ClipImporter::kAudioWaveformPoints));
    const bool lossless = sound.audioBitDepth > 0 || sound.audioCodec == "flac";
    const std::size_t margin = lossless ? 0 : 25;
    const double tolerance = lossless ? 1e-3 : 0.02;
    for (std::size_t i = margin; i < points.size() - margin; ++i) {
        EXPECT_NEAR(points[i], 3 * kToneAmplitude, tolerance) << "point " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, SoundImport,
                         ::testing::ValuesIn(mediaFixtureCatalogue().audioFiles),
                         [](const auto& param) { return param.param.testName(); });

class StillImport : public ::testing::TestWithParam<MediaFile> {
  protected:
    void SetUp() override { mediaFixtures(); }
};

TEST_P(StillImport, PixelSizeAndAThumbnailNeverEnlarged) {
    const MediaFile& still = GetParam();
    ImporterHarness harness;
    const ImportOutcome outcome = harness.importMeta(still.path, 3.0);
    const ImportResult* result = resultOf(outcome);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->mediaType, MediaType::still);
    EXPECT_EQ(result->name, still.path.stem().string());
    EXPECT_EQ(result->clipInfo, stillClipInfo(still.width, still.height));
    EXPECT_FALSE(result->waveformData.has_value());
    ASSERT_TRUE(result->thumbnail.has_value());
    const QImage thumb = decodePng(*result->thumbnail);
    EXPECT_EQ(thumb.size(), QSize(still.width, still.height));
    // The top left quadrant of the test picture is red.
    const QColor topLeft = thumb.pixelColor(thumb.width() / 4, thumb.height() * 3 / 4 / 3);
    EXPECT_GT(topLeft.red(), 200);
    EXPECT_LT(topLeft.blue(), 60);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, StillImport, ::testing::ValuesIn(mediaFixtureCatalogue().stills),
                         [](const auto& param) { return param.param.testName(); });

TEST(StillImportFacts, ATurnedPhotoIsMeasuredAndPicturedUpright) {
    ImporterHarness harness;
    const MediaFile& photo = mediaFixtures().exifRotatedJpeg;
    const ImportOutcome outcome = harness.importFile(photo.path);
    const ImportResult* result = resultOf(outcome);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->clipInfo.resolution, "120x160");
    const QImage thumb = decodePng(*result->thumbnail);
    EXPECT_EQ(thumb.size(), QSize(120, 160));
    // Stored top left (red) shows at the top right once turned.
    const QColor topRight = thumb.pixelColor(90, 40);
    EXPECT_GT(topRight.red(), 200);
    EXPECT_LT(topRight.green(), 60);
}

TEST(StillImportFacts, AHundredMegapixelPhotoImportsWithItsOwnSizeAndAThumbnail) {
    TemporaryFolder folder;
    const auto photo = folder / "large.jpg";
    const std::vector<std::string> argv = {"ffmpeg",    "-nostdin", "-loglevel",
                                           "error",     "-y",       "-f",
                                           "lavfi",     "-i",       "color=c=red:s=11648x8736",
                                           "-frames:v", "1",        photo.string()};
    const ProcessResult made = runProcess(argv, std::chrono::seconds(120));
    ASSERT_TRUE(made.succeeded()) << describeFailure(argv, made);
    ImporterHarness harness;
    const ImportOutcome outcome = harness.importFile(photo);
    const ImportResult* result = resultOf(outcome);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->clipInfo.resolution, "11648x8736");
    ASSERT_TRUE(result->thumbnail.has_value());
    const QImage thumb = decodePng(*result->thumbnail);
    EXPECT_EQ(thumb.size(), QSize(320, 240));
    EXPECT_GT(thumb.pixelColor(160, 120).red(), 200);
}

}  // namespace
}  // namespace kestio::test
