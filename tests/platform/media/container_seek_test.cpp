// Exact positioning in every container the fixtures hold. Transport and program streams have
// no index of key frames: a seek there lands by time stamps and may start after the key frame
// the target needs, which must never show as a wrong picture or none.

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <vector>

#include "platform/media/decoded_asset.h"
#include "platform/media/decoded_player_layer.h"
#include "platform/media/decoded_player_looper.h"
#include "platform/media/image_generator.h"
#include "platform/media/media_file.h"
#include "platform/runloop/manual_run_loop.h"
#include "support/frame_number_strip.h"
#include "support/media_fixtures.h"
#include "support/playback_test_support.h"

namespace kestio::platform::media {
namespace {

using kestio::test::MediaFile;
using kestio::test::mediaFixtureCatalogue;
using kestio::test::mediaFixtures;
using kestio::test::readFrameNumber;

// A clip's frame times on the item's timeline, which starts with the container: where the
// sound starts before the pictures (by the encoder's delay in transport streams), the first
// picture comes that much after 0 and shows from 0.
struct FrameTimes {
    explicit FrameTimes(const MediaFile& clip) : rate(clip.frameRate) {
        auto file = media::MediaFile::open(clip.path, std::make_shared<IoControl>(), true);
        EXPECT_TRUE(file) << clip.path.filename() << ": " << file.error();
        if (file) {
            const int video = file->videoStreamIndex();
            offset = file->streamOrigin(video) - file->containerOrigin(video);
        }
    }
    double frameDuration() const { return static_cast<double>(rate.den) / rate.num; }
    double frameTime(int n) const { return offset + n * frameDuration(); }
    // The frame that shows at `t` (a frame shows from its own time up to the next one's).
    int frameShowingAt(double t) const {
        return std::max(0, static_cast<int>(std::floor((t - offset) / frameDuration() + 1e-9)));
    }
    // The first frame at or after `t`.
    int firstFrameFrom(double t) const {
        return std::max(0, static_cast<int>(std::ceil((t - offset) / frameDuration() - 1e-9)));
    }

    kestio::test::Rational rate;
    double offset = 0.0;
};

const MediaFile& fixture(const MediaFile& catalogued) {
    return mediaFixtures().video(catalogued.extension);
}

class ContainerSeek : public ::testing::TestWithParam<MediaFile> {};

TEST_P(ContainerSeek, TheImageGeneratorFindsExactFramesAnywhereInTheClip) {
    const MediaFile& clip = fixture(GetParam());
    const FrameTimes times(clip);
    const int last = clip.frameCount - 1;
    ImageGenerator::Settings exact;
    exact.toleranceBefore = 0.0;
    exact.toleranceAfter = 0.0;
    // Out of order, so each request positions the file afresh.
    for (int n : {times.firstFrameFrom(1.0), 0, last, times.firstFrameFrom(0.5), 1, last - 1}) {
        const auto image = ImageGenerator::copyImage(clip.path, times.frameTime(n), exact);
        ASSERT_TRUE(image.ok()) << "frame " << n << ": " << image.error();
        EXPECT_EQ(readFrameNumber(image->image), n);
        EXPECT_NEAR(image->actualTime, times.frameTime(n), 1e-4);
    }
    // Before the first picture (where the sound starts earlier) that picture shows.
    const auto start = ImageGenerator::copyImage(clip.path, 0.0, exact);
    ASSERT_TRUE(start.ok()) << start.error();
    EXPECT_EQ(readFrameNumber(start->image), 0);
    EXPECT_EQ(start->actualTime, 0.0);
    // Between frames, a window after the time gives the next frame.
    ImageGenerator::Settings after;
    after.toleranceBefore = 0.0;
    after.toleranceAfter = 0.5;
    for (double t : {1.0, 0.5, times.frameTime(last) - 0.25 * times.frameDuration()}) {
        const auto image = ImageGenerator::copyImage(clip.path, t, after);
        ASSERT_TRUE(image.ok()) << t << " s: " << image.error();
        EXPECT_EQ(readFrameNumber(image->image), times.firstFrameFrom(t)) << t << " s";
    }
}

TEST_P(ContainerSeek, TheGeneratorWorkerAnswersSeeksInAnyOrderOnOneOpenFile) {
    const MediaFile& clip = fixture(GetParam());
    const FrameTimes times(clip);
    ManualRunLoop loop;
    ImageGenerator generator(DecodedAsset::make(loop, clip.path));
    generator.setRequestedTimeToleranceBefore(0.0);
    generator.setRequestedTimeToleranceAfter(0.0);
    const std::vector<int> frames = {times.firstFrameFrom(1.0), clip.frameCount - 1, 0,
                                     times.firstFrameFrom(0.5), times.firstFrameFrom(1.0)};
    std::vector<int> shown;
    for (int n : frames) {
        generator.generateImage(times.frameTime(n), [&](const Loaded<GeneratedImage>& result) {
            EXPECT_TRUE(result.ok()) << result.error();
            shown.push_back(result.ok() ? readFrameNumber(result->image) : -2);
        });
    }
    ASSERT_TRUE(testing::runUntil(loop, [&] { return shown.size() == frames.size(); }));
    EXPECT_EQ(shown, frames);
}

TEST_P(ContainerSeek, AZeroToleranceSeekShowsTheFrameThatHoldsTheTime) {
    const MediaFile& clip = fixture(GetParam());
    const FrameTimes times(clip);
    ManualRunLoop loop;
    auto [player, item] = testing::loadPlayer(loop, clip.path);
    ASSERT_EQ(item->statusValue(), ItemStatus::ReadyToPlay) << item->error();
    DecodedPlayerLayer layer(player);
    const double lastFrame = times.frameTime(clip.frameCount - 1);
    const double halfFrame = 0.5 * times.frameDuration();
    for (double t :
         {1.0, times.frameTime(0), 0.5, lastFrame, lastFrame + halfFrame, 0.5, 1.0 + halfFrame}) {
        std::optional<bool> finished;
        player->seek(t, 0.0, 0.0, [&](bool f) { finished = f; });
        ASSERT_TRUE(testing::runUntil(loop, [&] { return finished.has_value(); })) << t;
        EXPECT_EQ(finished, true) << t;
        EXPECT_DOUBLE_EQ(player->currentTime(), t);
        EXPECT_EQ(readFrameNumber(layer.frameAt(loop.now())), times.frameShowingAt(t))
            << "seek to " << t << " s";
    }
}

TEST_P(ContainerSeek, AnItemWithAnInPointStartsOnIt) {
    const MediaFile& clip = fixture(GetParam());
    const FrameTimes times(clip);
    ManualRunLoop loop;
    auto item = DecodedPlayerItem::make(DecodedAsset::make(loop, clip.path));
    std::optional<bool> finished;
    item->seek(1.0, 0.0, 0.0, [&](bool f) { finished = f; });
    auto player = DecodedQueuePlayer::make(loop);
    player->insert(item);
    DecodedPlayerLayer layer(player);
    ASSERT_TRUE(testing::runUntil(loop, [&] { return finished.has_value(); }));
    EXPECT_EQ(finished, true);
    EXPECT_EQ(item->statusValue(), ItemStatus::ReadyToPlay);
    EXPECT_EQ(readFrameNumber(layer.frameAt(loop.now())), times.frameShowingAt(1.0));
    // Playing on from there shows the frames that follow, in order.
    player->play();
    const double start = loop.now();
    for (int n = times.frameShowingAt(1.0) + 1; n < times.frameShowingAt(1.0) + 6; ++n) {
        testing::advanceDecoded(loop, *player,
                                start + times.frameTime(n) - 1.0 + 1e-4 - loop.now());
        EXPECT_EQ(readFrameNumber(layer.frameAt(loop.now())), n);
    }
}

INSTANTIATE_TEST_SUITE_P(VideoContainers, ContainerSeek,
                         ::testing::ValuesIn(mediaFixtureCatalogue().videoContainers),
                         [](const auto& param) { return param.param.testName(); });

TEST(ContainerSeekStart, AZeroToleranceSeekBeforeTheFirstPictureLandsOnItsTime) {
    const MediaFile& clip = mediaFixtures().video("ts");
    const FrameTimes times(clip);
    ASSERT_GT(times.offset, 0.01);
    ManualRunLoop loop;
    auto [player, item] = testing::loadPlayer(loop, clip.path);
    ASSERT_EQ(item->statusValue(), ItemStatus::ReadyToPlay) << item->error();
    DecodedPlayerLayer layer(player);
    for (double t : {1.0, 0.0, 0.5 * times.offset}) {
        std::optional<bool> finished;
        player->seek(t, 0.0, 0.0, [&](bool f) { finished = f; });
        ASSERT_TRUE(testing::runUntil(loop, [&] { return finished.has_value(); })) << t;
        EXPECT_DOUBLE_EQ(player->currentTime(), t);
        EXPECT_EQ(readFrameNumber(layer.frameAt(loop.now())), times.frameShowingAt(t)) << t;
    }
}

TEST(ContainerSeekLoop, ARangeOfATransportStreamLoopsWithExactSeams) {
    const MediaFile& clip = mediaFixtures().video("ts");
    const FrameTimes times(clip);
    ASSERT_EQ(clip.frameRate, (kestio::test::Rational{30000, 1001}));
    // Two display ticks per frame; looking half a tick after each keeps off frame boundaries.
    const double tick = times.frameDuration() / 2.0;
    constexpr int kFirst = 10;
    constexpr int kEnd = 40;
    constexpr int kTicksPerPass = 2 * (kEnd - kFirst);

    ManualRunLoop loop;
    auto player = DecodedQueuePlayer::make(loop);
    DecodedPlayerLayer layer(player);
    DecodedPlayerLooper looper(player, DecodedPlayerItem::make(DecodedAsset::make(loop, clip.path)),
                               TimeRange::fromTo(times.frameTime(kFirst), times.frameTime(kEnd)));
    ASSERT_TRUE(testing::runUntil(loop, [&] { return layer.readyForDisplay(); }));
    EXPECT_EQ(readFrameNumber(layer.frameAt(loop.now())), kFirst);

    player->play();
    testing::advanceDecoded(loop, *player, tick / 2);
    std::vector<int> shown;
    std::vector<int> expected;
    for (int k = 0; k < 4 * kTicksPerPass + 1; ++k) {
        shown.push_back(readFrameNumber(layer.frameAt(loop.now())));
        expected.push_back(kFirst + (k % kTicksPerPass) / 2);
        testing::advanceDecoded(loop, *player, tick);
    }
    EXPECT_EQ(shown, expected);
    EXPECT_EQ(looper.loopCount(), 4);
}

}  // namespace
}  // namespace kestio::platform::media
