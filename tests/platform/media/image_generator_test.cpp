#include "platform/media/image_generator.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <QTransform>
#include <chrono>
#include <future>
#include <optional>
#include <vector>

#include "platform/media/decoded_asset.h"
#include "platform/media/media_file.h"
#include "platform/runloop/manual_run_loop.h"
#include "support/frame_number_strip.h"
#include "support/media_fixtures.h"
#include "support/playback_test_support.h"
#include "support/process_runner.h"

namespace kestio::platform::media {
namespace {

using kestio::test::mediaFixtures;
using kestio::test::readFrameNumber;

const std::filesystem::path& clip30() {
    return mediaFixtures().rateClip({30, 1}).path;
}

// A transport stream of 30 s at 640x360 with a single key frame, at its start: a picture near
// its end can only be had by decoding the whole clip. Made once per build directory.
std::filesystem::path singleKeyFrameStream() {
    const auto folder = std::filesystem::path(KESTIO_FIXTURE_DIR) / "media-tests";
    const auto path = folder / "single_key_frame_30s.ts";
    if (std::filesystem::exists(path)) {
        return path;
    }
    std::filesystem::create_directories(folder);
    // Written under a name of this process's own, then renamed: test processes may race.
    const auto partial = folder / ("single_key_frame_30s." + std::to_string(::getpid()) + ".ts");
    const std::vector<std::string> argv = {"ffmpeg",
                                           "-nostdin",
                                           "-hide_banner",
                                           "-loglevel",
                                           "error",
                                           "-y",
                                           "-f",
                                           "lavfi",
                                           "-i",
                                           "testsrc2=size=640x360:rate=30:duration=30",
                                           "-c:v",
                                           "libx264",
                                           "-preset",
                                           "ultrafast",
                                           "-g",
                                           "100000",
                                           "-pix_fmt",
                                           "yuv420p",
                                           "-f",
                                           "mpegts",
                                           partial.string()};
    const auto result = kestio::test::runProcess(argv, std::chrono::minutes(2));
    if (!result.succeeded()) {
        ADD_FAILURE() << kestio::test::describeFailure(argv, result);
        return {};
    }
    std::filesystem::rename(partial, path);
    return path;
}

ImageGenerator::Settings thumbnailWindow() {
    ImageGenerator::Settings settings;
    settings.toleranceBefore = 0.0;
    settings.toleranceAfter = 0.5;
    return settings;
}

TEST(ImageGenerator, ATimeBetweenFramesGivesTheFrameAfterItNeverTheOneBefore) {
    for (int n : {0, 7, 31, 58}) {
        const auto image = ImageGenerator::copyImage(clip30(), (n + 0.3) / 30.0, thumbnailWindow());
        ASSERT_TRUE(image.ok()) << image.error();
        EXPECT_EQ(readFrameNumber(image->image), n + 1);
        EXPECT_NEAR(image->actualTime, (n + 1) / 30.0, 1e-6);
    }
}

TEST(ImageGenerator, ExactTimesAndUnlimitedToleranceGiveTheNearestFrame) {
    ImageGenerator::Settings exact;
    exact.toleranceBefore = 0.0;
    exact.toleranceAfter = 0.0;
    const auto onFrame = ImageGenerator::copyImage(clip30(), 12 / 30.0, exact);
    ASSERT_TRUE(onFrame.ok()) << onFrame.error();
    EXPECT_EQ(readFrameNumber(onFrame->image), 12);

    const auto nearest = ImageGenerator::copyImage(clip30(), 12.3 / 30.0, {});
    ASSERT_TRUE(nearest.ok());
    EXPECT_EQ(readFrameNumber(nearest->image), 12);

    const auto between = ImageGenerator::copyImage(clip30(), 12.3 / 30.0, exact);
    EXPECT_FALSE(between.ok()) << "no frame starts exactly there";
}

TEST(ImageGenerator, NegativeTimesStartAtTheFirstFrameAndTimesPastTheEndFail) {
    const auto first = ImageGenerator::copyImage(clip30(), -1.0, thumbnailWindow());
    ASSERT_TRUE(first.ok());
    EXPECT_EQ(readFrameNumber(first->image), 0);
    EXPECT_FALSE(ImageGenerator::copyImage(clip30(), 30.0, thumbnailWindow()).ok());
    EXPECT_FALSE(ImageGenerator::copyImage(mediaFixtures().audio("wav").path, 0.0, {}).ok());
}

TEST(ImageGenerator, AppliesTheTrackRotationAndFitsTheMaximumSize) {
    const auto& rotated = mediaFixtures().rotatedClip.path;
    ImageGenerator::Settings settings;
    const auto stored = ImageGenerator::copyImage(rotated, 0.5, settings);
    ASSERT_TRUE(stored.ok());
    EXPECT_EQ(stored->image.size(), QSize(320, 180));

    settings.appliesPreferredTrackTransform = true;
    const auto upright = ImageGenerator::copyImage(rotated, 0.5, settings);
    ASSERT_TRUE(upright.ok());
    EXPECT_EQ(upright->image.size(), QSize(180, 320));
    // The picture was stored turned a quarter anticlockwise: turning the upright one back
    // shows the frame-number strip along its top again.
    EXPECT_EQ(readFrameNumber(upright->image.transformed(QTransform().rotate(-90))), 15);
    EXPECT_EQ(readFrameNumber(upright->image.transformed(QTransform().rotate(90))), -1);

    settings.maximumSize = QSize(100, 100);
    const auto fitted = ImageGenerator::copyImage(rotated, 0.5, settings);
    ASSERT_TRUE(fitted.ok());
    EXPECT_EQ(fitted->image.size(), QSize(56, 100));
    EXPECT_EQ(fitted->image.format(), QImage::Format_RGB32);
}

TEST(ImageGenerator, ABlockingCopyStopsWhenItsControlIsCancelledFromAnotherThread) {
    const auto clip = singleKeyFrameStream();
    ASSERT_FALSE(clip.empty());
    ImageGenerator::Settings exact;
    exact.toleranceBefore = 0.0;
    exact.toleranceAfter = 0.0;
    EXPECT_TRUE(
        ImageGenerator::copyImage(clip, 0.0, exact, std::make_shared<ffmpeg::IoControl>()).ok());

    auto cancelledBefore = std::make_shared<ffmpeg::IoControl>();
    cancelledBefore->cancel();
    const auto refused = ImageGenerator::copyImage(clip, 0.0, exact, cancelledBefore);
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error(), "Cancelled");

    // The last picture needs the whole clip decoded; the cancel reaches it under way.
    auto io = std::make_shared<ffmpeg::IoControl>();
    auto copy = std::async(std::launch::async,
                           [&] { return ImageGenerator::copyImage(clip, 29.9, exact, io); });
    io->cancel();
    ASSERT_EQ(copy.wait_for(std::chrono::seconds(60)), std::future_status::ready);
    const auto stopped = copy.get();
    ASSERT_FALSE(stopped.ok());
    EXPECT_EQ(stopped.error(), "Cancelled");
}

TEST(ImageGenerator, RequestsAreAnsweredOnTheRunLoopWithTheSettingsOfTheirTime) {
    ManualRunLoop loop;
    ImageGenerator generator(DecodedAsset::make(loop, clip30()));
    generator.setRequestedTimeToleranceBefore(0.0);
    generator.setRequestedTimeToleranceAfter(0.5);
    generator.setFrameFilter([](const QImage& picture) {
        QImage image = picture;
        image.setPixel(0, image.height() - 1, 0xff00ff00);
        return image;
    });
    std::vector<std::pair<int, QSize>> answers;
    auto record = [&](const Loaded<GeneratedImage>& result) {
        ASSERT_TRUE(result.ok()) << result.error();
        answers.emplace_back(readFrameNumber(result->image), result->image.size());
        EXPECT_EQ(result->image.pixel(0, result->image.height() - 1), 0xff00ff00u);
    };
    generator.generateImage(1.0, record);
    generator.setMaximumSize(QSize(160, 90));
    generator.generateImage(0.2, record);
    EXPECT_TRUE(answers.empty());
    ASSERT_TRUE(testing::runUntil(loop, [&] { return answers.size() == 2; }));
    EXPECT_EQ(answers[0], std::make_pair(30, QSize(320, 180)));
    EXPECT_EQ(answers[1], std::make_pair(6, QSize(160, 90)));
}

TEST(ImageGenerator, CancelledAndDestroyedRequestsEndCleanly) {
    ManualRunLoop loop;
    std::vector<std::string> errors;
    {
        ImageGenerator generator(DecodedAsset::make(loop, clip30()));
        for (int i = 0; i < 20; ++i) {
            generator.generateImage(i * 0.1, [&](const Loaded<GeneratedImage>& result) {
                errors.push_back(result.ok() ? "" : result.error());
            });
        }
        generator.cancelAllImageGeneration();
        ASSERT_TRUE(testing::runUntil(loop, [&] { return errors.size() == 20; }));
        EXPECT_GE(std::count(errors.begin(), errors.end(), "Cancelled"), 19);

        errors.clear();
        generator.generateImage(0.5,
                                [&](const Loaded<GeneratedImage>&) { errors.push_back("late"); });
    }
    loop.runPending();
    EXPECT_TRUE(errors.empty()) << "nothing is answered once the generator is gone";
}

}  // namespace
}  // namespace kestio::platform::media
