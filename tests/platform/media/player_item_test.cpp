#include "platform/media/decoded_player_item.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QTransform>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "platform/media/decoded_asset.h"
#include "platform/media/decoded_player_layer.h"
#include "platform/media/decoded_queue_player.h"
#include "platform/runloop/manual_run_loop.h"
#include "support/frame_number_strip.h"
#include "support/media_fixtures.h"
#include "support/playback_test_support.h"
#include "support/process_runner.h"

namespace kestio::platform::media {
namespace {

using kestio::test::mediaFixtures;
using kestio::test::Rational;
using kestio::test::readFrameNumber;
using testing::advanceDecoded;
using testing::loadPlayer;

double frameTime(const kestio::test::MediaFile& clip, int n) {
    return static_cast<double>(n) * clip.frameRate.den / clip.frameRate.num;
}

class PlaybackAtRate : public ::testing::TestWithParam<Rational> {};

TEST_P(PlaybackAtRate, ShowsEveryFrameInOrderAtItsPresentationTime) {
    const auto& clip = mediaFixtures().rateClip(GetParam());
    ManualRunLoop loop(HostTime(100.0));
    auto [player, item] = loadPlayer(loop, clip.path);
    ASSERT_EQ(item->statusValue(), ItemStatus::ReadyToPlay) << item->error();
    DecodedPlayerLayer layer(player);
    player->play();
    const double start = loop.now().seconds();
    const double frame = frameTime(clip, 1);
    for (int n = 0; n < clip.frameCount; ++n) {
        // A frame is shown from its own time up to the next frame's.
        for (double offset : {1e-4, 0.5 * frame, frame - 1e-4}) {
            const double target = start + frameTime(clip, n) + offset;
            advanceDecoded(loop, *player, target - loop.now().seconds());
            ASSERT_NEAR(player->currentTime(), target - start, 1e-9);
            ASSERT_EQ(readFrameNumber(layer.frameAt(loop.now())), n)
                << "at " << (target - start) << " s";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(OutputRates, PlaybackAtRate,
                         ::testing::Values(Rational{24000, 1001}, Rational{30000, 1001},
                                           Rational{60000, 1001}),
                         [](const auto& param) { return "r" + std::to_string(param.param.num); });

// ---- standing ----

// The time up to which the item's pictures are decoded, read from its decoder without the run
// loop (which would hand the item a seek's landing).
double decodedUntil(const DecodedPlayerItem& item) {
    const auto ranges = item.loadedTimeRanges();
    return ranges.empty() ? item.currentTime() : ranges.front().end();
}

// Waits on real time, never running the run loop, until `done` holds (30 s at most).
bool waitWithoutTheRunLoop(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::yield();
    }
    return true;
}

// A 1080p clip of ten pictures at 30 fps, made with the ffmpeg command into the fixture folder
// unless it is there: one picture is more than a paused item keeps beyond the one it shows.
std::filesystem::path largeClip() {
    const auto folder = std::filesystem::path(KESTIO_FIXTURE_DIR) / "player-item";
    std::filesystem::create_directories(folder);
    const auto path = folder / "large_1080p30.mp4";
    if (!std::filesystem::exists(path)) {
        // Test processes may make it at once: each writes its own and moves it into place.
        const auto partial =
            folder / ("partial_" + std::to_string(getpid()) + "_large_1080p30.mp4");
        const std::vector<std::string> argv = {
            "ffmpeg",    "-nostdin", "-y",
            "-v",        "error",    "-f",
            "lavfi",     "-i",       "testsrc2=size=1920x1080:rate=30",
            "-frames:v", "10",       "-c:v",
            "libx264",   "-preset",  "ultrafast",
            "-pix_fmt",  "yuv420p",  partial.string()};
        const auto result = kestio::test::runProcess(argv, std::chrono::minutes(2));
        EXPECT_TRUE(result.succeeded()) << kestio::test::describeFailure(argv, result);
        std::filesystem::rename(partial, path);
    }
    return path;
}

// What asks a paused item to move: playing, a start set ahead, or a seek asked while a start is
// pending (a looper's next pass), the run loop not having handled the landing.
struct StandingCase {
    const char* name;
    void (*ask)(ManualRunLoop& loop, DecodedQueuePlayer& player, DecodedPlayerItem& item);
    bool large;          // the 1080p clip, else the 320x180 one
    int pausedPictures;  // decoded while paused
    int movingPictures;  // decoded ahead once asked to move (as many as a playing item queues)
};

void PrintTo(const StandingCase& c, std::ostream* out) {
    *out << c.name;
}

class PlayerItemStanding : public ::testing::TestWithParam<StandingCase> {};

// A ready item its player holds paused keeps no more than 8 MB of pictures decoded (a 1080p one
// alone, small ones a quarter second as when playing); asked to move, it decodes ahead by
// itself.
TEST_P(PlayerItemStanding, PausedHoldsLittleAndAskedToMoveDecodesAhead) {
    const StandingCase& c = GetParam();
    const std::filesystem::path path =
        c.large ? largeClip() : mediaFixtures().rateClip({30, 1}).path;
    const double frame = 1.0 / 30.0;
    ManualRunLoop loop(HostTime(100.0));
    auto [player, item] = loadPlayer(loop, path);
    ASSERT_EQ(item->statusValue(), ItemStatus::ReadyToPlay) << item->error();
    // It may play on a few pictures, before its standing queue is full.
    ASSERT_TRUE(testing::runUntil(loop, [&] {
        return item->likelyToKeepUp() && decodedUntil(*item) >= c.pausedPictures * frame - 1e-6;
    }));
    EXPECT_NEAR(decodedUntil(*item), c.pausedPictures * frame, 1e-6) << "while paused";
    c.ask(loop, *player, *item);
    EXPECT_TRUE(waitWithoutTheRunLoop([&] {
        return decodedUntil(*item) >= item->currentTime() + c.movingPictures * frame - 1e-6;
    })) << "decoded until "
        << decodedUntil(*item) << " s at " << item->currentTime() << " s";
}

void play(ManualRunLoop&, DecodedQueuePlayer& player, DecodedPlayerItem&) {
    player.play();
}

void startAhead(ManualRunLoop& loop, DecodedQueuePlayer& player, DecodedPlayerItem&) {
    player.setRate(1.0f, player.clock()->timeAt(loop.now()) + 2.0);
}

void seekWithAStartPending(ManualRunLoop& loop, DecodedQueuePlayer& player,
                           DecodedPlayerItem& item) {
    player.setRate(1.0f, player.clock()->timeAt(loop.now()) + 2.0);
    item.seek(0.1, 0.0, 0.0);
}

INSTANTIATE_TEST_SUITE_P(Asks, PlayerItemStanding,
                         ::testing::Values(StandingCase{"LargePlayed", play, true, 1, 3},
                                           StandingCase{"LargeStartSetAhead", startAhead, true, 1,
                                                        3},
                                           StandingCase{"LargeSeekWhileAStartIsPending",
                                                        seekWithAStartPending, true, 1, 3},
                                           StandingCase{"SmallPlayed", play, false, 8, 8}),
                         [](const auto& param) { return std::string(param.param.name); });

// ---- seeking ----

struct SeekOutcome {
    std::optional<bool> finished;
};

// Seeks and waits for the completion; returns whether it finished.
bool seekAndWait(ManualRunLoop& loop, QueuePlayer& player, double time, double before,
                 double after) {
    std::optional<bool> finished;
    player.seek(time, before, after, [&](bool f) { finished = f; });
    EXPECT_TRUE(testing::runUntil(loop, [&] { return finished.has_value(); }));
    return finished.value_or(false);
}

TEST(PlayerItemSeek, ZeroToleranceLandsOnTheFrameThatHoldsTheTime) {
    const auto& clip = mediaFixtures().rateClip({30000, 1001});
    ManualRunLoop loop;
    auto [player, item] = loadPlayer(loop, clip.path);
    DecodedPlayerLayer layer(player);
    const double frame = frameTime(clip, 1);
    // Forward and backward, on frame boundaries and between them, the last frame included.
    for (int n : {37, 3, 59, 0, 22, 58, 1}) {
        for (double offset : {0.0, 0.3 * frame, frame * 0.999}) {
            const double t = frameTime(clip, n) + offset;
            ASSERT_TRUE(seekAndWait(loop, *player, t, 0.0, 0.0));
            EXPECT_DOUBLE_EQ(player->currentTime(), t);
            EXPECT_EQ(readFrameNumber(layer.frameAt(loop.now())), n) << "seek to " << t;
        }
    }
}

TEST(PlayerItemSeek, ToleranceLetsTheSeekLandOnAKeyFrameInsideTheWindow) {
    // The fixtures have one key frame, at 0.
    const auto& clip = mediaFixtures().rateClip({30000, 1001});
    ManualRunLoop loop;
    auto [player, item] = loadPlayer(loop, clip.path);
    DecodedPlayerLayer layer(player);
    ASSERT_TRUE(seekAndWait(loop, *player, 1.0, 0.0, 0.0));

    ASSERT_TRUE(seekAndWait(loop, *player, 0.4, 0.5, 0.0));
    EXPECT_DOUBLE_EQ(player->currentTime(), 0.0);
    EXPECT_EQ(readFrameNumber(layer.frameAt(loop.now())), 0);

    // No key frame within 0.5 s before 1.2: decoded forward to the time itself.
    ASSERT_TRUE(seekAndWait(loop, *player, 1.2, 0.5, 0.0));
    EXPECT_DOUBLE_EQ(player->currentTime(), 1.2);
    EXPECT_EQ(readFrameNumber(layer.frameAt(loop.now())), 35);
}

TEST(PlayerItemSeek, ASupersededSeekCompletesUnfinishedAndTheLastOneWins) {
    const auto& clip = mediaFixtures().rateClip({30, 1});
    ManualRunLoop loop;
    auto [player, item] = loadPlayer(loop, clip.path);
    DecodedPlayerLayer layer(player);
    std::vector<std::pair<int, bool>> completions;
    player->seek(1.0, 0.0, 0.0, [&](bool f) { completions.emplace_back(1, f); });
    player->seek(0.5, 0.0, 0.0, [&](bool f) { completions.emplace_back(2, f); });
    EXPECT_DOUBLE_EQ(player->currentTime(), 0.5) << "the time jumps at once";
    ASSERT_TRUE(testing::runUntil(loop, [&] { return completions.size() == 2; }));
    EXPECT_EQ(completions[0], std::make_pair(1, false));
    EXPECT_EQ(completions[1], std::make_pair(2, true));
    EXPECT_EQ(readFrameNumber(layer.frameAt(loop.now())), 15);
}

TEST(PlayerItemSeek, PlaybackContinuesFromTheLandingTime) {
    const auto& clip = mediaFixtures().rateClip({30, 1});
    ManualRunLoop loop;
    auto [player, item] = loadPlayer(loop, clip.path);
    DecodedPlayerLayer layer(player);
    player->play();
    advanceDecoded(loop, *player, 0.2);
    std::optional<bool> finished;
    player->seek(1.5, 0.0, 0.0, [&](bool f) { finished = f; });
    // The clock waits for the landing: however long decoding takes, playback resumes at 1.5.
    ASSERT_TRUE(testing::runUntil(loop, [&] { return finished.has_value(); }));
    EXPECT_DOUBLE_EQ(player->currentTime(), 1.5);
    advanceDecoded(loop, *player, 0.1 + 1e-4);
    EXPECT_NEAR(player->currentTime(), 1.6001, 1e-9);
    EXPECT_EQ(readFrameNumber(layer.frameAt(loop.now())), 48);
}

TEST(PlayerItemSeek, RemovingTheItemCompletesItsSeekUnfinished) {
    const auto& clip = mediaFixtures().rateClip({30, 1});
    ManualRunLoop loop;
    auto [player, item] = loadPlayer(loop, clip.path);
    std::optional<bool> finished;
    player->seek(1.5, 0.0, 0.0, [&](bool f) { finished = f; });
    player->removeAllItems();
    ASSERT_TRUE(testing::runUntil(loop, [&] { return finished.has_value(); }));
    EXPECT_EQ(finished, false);

    std::optional<bool> withoutItem;
    player->seek(0.5, 0.0, 0.0, [&](bool f) { withoutItem = f; });
    loop.runPending();
    EXPECT_EQ(withoutItem, false);
}

// ---- item facts and failures ----

TEST(PlayerItem, ReportsSizeDurationAndStatusOnceReady) {
    const auto& clip = mediaFixtures().rateClip({24, 1});
    ManualRunLoop loop;
    auto player = DecodedQueuePlayer::make(loop);
    auto item = DecodedPlayerItem::make(DecodedAsset::make(loop, clip.path));
    std::vector<ItemStatus> statuses;
    auto watch = item->status().subscribe([&](const ItemStatus& s) { statuses.push_back(s); });
    EXPECT_EQ(item->presentationSize(), QSize(0, 0));
    EXPECT_TRUE(std::isnan(item->duration()));
    player->insert(item);
    ASSERT_TRUE(testing::waitForStatus(loop, *item));
    EXPECT_EQ(statuses, std::vector<ItemStatus>{ItemStatus::ReadyToPlay});
    EXPECT_EQ(item->presentationSize(), QSize(320, 180));
    EXPECT_NEAR(item->duration(), clip.duration, 0.05);
    EXPECT_TRUE(item->hasVideo());
    EXPECT_TRUE(testing::runUntil(loop, [&] { return item->likelyToKeepUp(); }));
}

TEST(PlayerItem, RotatedClipsArePresentedUpright) {
    ManualRunLoop loop;
    auto [player, item] = loadPlayer(loop, mediaFixtures().rotatedClip.path);
    ASSERT_EQ(item->statusValue(), ItemStatus::ReadyToPlay);
    EXPECT_EQ(item->presentationSize(), QSize(180, 320));
    DecodedPlayerLayer layer(player);
    const QImage picture = layer.frameAt(loop.now());
    EXPECT_EQ(picture.size(), QSize(180, 320));
    EXPECT_EQ(picture.format(), QImage::Format_RGB32);
    EXPECT_EQ(readFrameNumber(picture.transformed(QTransform().rotate(-90))), 0);
}

TEST(PlayerItem, EveryFileThatIsNotMediaFailsWithAReason) {
    ManualRunLoop loop;
    const auto folder = std::filesystem::path(KESTIO_FIXTURE_DIR) / "media-tests" / "broken";
    const auto broken = testing::makeBrokenFiles(folder, mediaFixtures().video("mp4").path);
    std::vector<std::filesystem::path> files = {broken.empty, broken.text, broken.noise,
                                                broken.truncated, folder / "missing.mp4"};
    const auto hugeWebp = std::filesystem::path(KESTIO_SHARED_MEDIA_DIR) / "small-webp.webp";
    if (std::filesystem::exists(hugeWebp)) {
        files.push_back(hugeWebp);  // a 1x1 picture whose header reads as 11330x446
    }
    for (const auto& path : files) {
        auto [player, item] = loadPlayer(loop, path);
        DecodedPlayerLayer layer(player);
        EXPECT_EQ(item->statusValue(), ItemStatus::Failed) << path;
        EXPECT_FALSE(item->error().empty()) << path;
        EXPECT_FALSE(layer.readyForDisplay()) << path;
        EXPECT_TRUE(layer.frameAt(loop.now()).isNull()) << path;
        std::optional<bool> finished;
        item->seek(0.5, 0.0, 0.0, [&](bool f) { finished = f; });
        loop.runPending();
        EXPECT_EQ(finished, false) << path;
    }
}

// ---- lifetime ----

TEST(PlayerItem, DestroyingPlayersWhileTheyDecodeIsClean) {
    ManualRunLoop loop;
    const auto& fixtures = mediaFixtures();
    for (int round = 0; round < 3; ++round) {
        std::vector<std::shared_ptr<QueuePlayer>> players;
        for (const auto& clip : fixtures.rateClips) {
            auto player = DecodedQueuePlayer::make(loop);
            player->insert(DecodedPlayerItem::make(DecodedAsset::make(loop, clip.path)));
            player->play();
            players.push_back(player);
        }
        // Some are opening, some decoding, some waiting for room; none is waited for.
        if (round == 1) {
            loop.waitForPosted(0.05);
        }
        if (round == 2) {
            testing::runUntil(loop, [&] {
                return players.back()->current()->statusValue() != ItemStatus::Unknown;
            });
            loop.advance(0.3);
        }
        std::vector<std::weak_ptr<PlayerItem>> items;
        int changes = 0;
        std::vector<Subscription> watches;
        for (const auto& player : players) {
            items.push_back(player->current());
            watches.push_back(
                player->current()->status().subscribe([&](const ItemStatus&) { ++changes; }));
        }
        players.clear();
        for (const auto& item : items) {
            EXPECT_TRUE(item.expired()) << "round " << round << ": nothing waits on a decoder";
        }
        // Work still posted by the stopped threads finds nothing to act on.
        loop.runPending();
        EXPECT_EQ(changes, 0) << "round " << round;
    }
}

}  // namespace
}  // namespace kestio::platform::media
