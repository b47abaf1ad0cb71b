#include "platform/media/decoded_queue_player.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <optional>
#include <thread>
#include <vector>

#include "platform/media/decoded_asset.h"
#include "platform/media/decoded_player_layer.h"
#include "platform/runloop/manual_run_loop.h"
#include "support/frame_number_strip.h"
#include "support/media_fixtures.h"
#include "support/playback_test_support.h"

namespace kestio::platform::media {
namespace {

using kestio::test::mediaFixtures;
using kestio::test::readFrameNumber;
using testing::advanceDecoded;
using testing::loadPlayer;
using testing::runUntil;

constexpr double kTick = 1.0 / 60.0;

// The 30 fps fixture: frame n is shown during [n/30, (n+1)/30); 60 frames.
const kestio::test::MediaFile& clip30() {
    return mediaFixtures().rateClip({30, 1});
}

TEST(QueuePlayerEnd, PauseAtTheEndKeepsTheLastFrameAndNotifiesOnce) {
    ManualRunLoop loop;
    auto [player, item] = loadPlayer(loop, clip30().path);
    DecodedPlayerLayer layer(player);
    player->setActionAtItemEnd(ActionAtItemEnd::Pause);
    int endings = 0;
    auto onEnd = item->onDidPlayToEnd([&] { ++endings; });
    std::vector<float> rates;
    auto watchRate = player->rate().subscribe([&](const float& r) { rates.push_back(r); });
    player->play();
    const double duration = item->duration();
    ASSERT_TRUE(std::isfinite(duration));
    while (loop.now().seconds() < duration + 0.5) {
        advanceDecoded(loop, *player, kTick);
    }
    EXPECT_EQ(endings, 1);
    EXPECT_EQ(player->rateValue(), 0.0f);
    EXPECT_EQ(rates, (std::vector<float>{1.0f, 0.0f}));
    EXPECT_DOUBLE_EQ(player->currentTime(), duration);
    EXPECT_EQ(player->current(), item);
    EXPECT_EQ(readFrameNumber(layer.frameAt(loop.now())), clip30().frameCount - 1);
    EXPECT_TRUE(layer.readyForDisplay());

    loop.advance(5.0);
    EXPECT_EQ(endings, 1);
    EXPECT_EQ(readFrameNumber(layer.frameAt(loop.now())), clip30().frameCount - 1);

    // Playing again at the end neither moves nor ends again; a seek back plays on.
    player->play();
    loop.advance(1.0);
    EXPECT_EQ(endings, 1);
    std::optional<bool> sought;
    player->seek(1.0, 0.0, 0.0, [&](bool f) { sought = f; });
    ASSERT_TRUE(runUntil(loop, [&] { return sought.has_value(); }));
    while (loop.now().seconds() < 100.0 && endings == 1) {
        advanceDecoded(loop, *player, kTick);
    }
    EXPECT_EQ(endings, 2);
}

TEST(QueuePlayerEnd, ActionNoneStaysAtTheEndWithTheRateKept) {
    ManualRunLoop loop;
    auto [player, item] = loadPlayer(loop, clip30().path);
    DecodedPlayerLayer layer(player);
    player->setActionAtItemEnd(ActionAtItemEnd::None);
    int endings = 0;
    auto onEnd = item->onDidPlayToEnd([&] { ++endings; });
    player->play();
    while (loop.now().seconds() < item->duration() + 0.3) {
        advanceDecoded(loop, *player, kTick);
    }
    EXPECT_EQ(endings, 1);
    EXPECT_EQ(player->rateValue(), 1.0f);
    EXPECT_EQ(player->current(), item);
    EXPECT_DOUBLE_EQ(player->currentTime(), item->duration());
    EXPECT_EQ(readFrameNumber(layer.frameAt(loop.now())), clip30().frameCount - 1);
}

TEST(QueuePlayerAdvance, TheNextItemFollowsTheLastFrameWithoutAGap) {
    ManualRunLoop loop;
    const auto& first = clip30();
    auto player = DecodedQueuePlayer::make(loop);
    auto a = DecodedPlayerItem::make(DecodedAsset::make(loop, first.path));
    auto b = DecodedPlayerItem::make(DecodedAsset::make(loop, first.path));
    a->setForwardPlaybackEndTime(20.0 / 30.0);  // frames 0..19
    ASSERT_TRUE(player->insert(a));
    ASSERT_TRUE(player->insert(b));
    EXPECT_FALSE(player->insert(a)) << "an item is queued once";
    EXPECT_EQ(player->current(), a);
    std::vector<std::pair<QueuePlayer::ItemPtr, QueuePlayer::ItemPtr>> changes;
    auto watch = player->observeCurrentItem(
        [&](const auto& oldItem, const auto& newItem) { changes.emplace_back(oldItem, newItem); });
    DecodedPlayerLayer layer(player);
    ASSERT_TRUE(testing::waitForStatus(loop, *a));
    ASSERT_TRUE(testing::waitForStatus(loop, *b));
    player->play();
    std::vector<int> shown;
    advanceDecoded(loop, *player, kTick / 2);
    for (int tick = 0; tick < 60; ++tick) {
        advanceDecoded(loop, *player, kTick);
        shown.push_back(readFrameNumber(layer.frameAt(loop.now())));
    }
    std::vector<int> expected;
    for (int tick = 1; tick <= 60; ++tick) {
        const double t = tick * kTick + kTick / 2;
        expected.push_back(t < 20.0 / 30.0 ? static_cast<int>(t * 30.0)
                                           : static_cast<int>((t - 20.0 / 30.0) * 30.0));
    }
    EXPECT_EQ(shown, expected);
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].first, a);
    EXPECT_EQ(changes[0].second, b);
    EXPECT_EQ(player->items(), std::vector<QueuePlayer::ItemPtr>{b});
}

// The last picture of the item before is shown across the seam until the next item has its
// own, and then let go: nothing keeps it once the item before is gone.
TEST(QueuePlayerAdvance, TheLastPictureOfTheItemBeforeIsLetGoOnceTheNextShowsItsOwn) {
    ManualRunLoop loop;
    auto player = DecodedQueuePlayer::make(loop);
    auto a = DecodedPlayerItem::make(DecodedAsset::make(loop, clip30().path));
    auto b = DecodedPlayerItem::make(DecodedAsset::make(loop, clip30().path));
    a->setForwardPlaybackEndTime(10.0 / 30.0);  // frames 0..9
    ASSERT_TRUE(player->insert(a));
    ASSERT_TRUE(player->insert(b));
    DecodedPlayerLayer layer(player);
    ASSERT_TRUE(testing::waitForStatus(loop, *a));
    ASSERT_TRUE(testing::waitForStatus(loop, *b));
    player->play();
    advanceDecoded(loop, *player, 9.5 / 30.0);
    // The picture as the player hands it to the compositor, held here only through a weak
    // reference to what keeps its pixels.
    std::weak_ptr<const void> last;
    {
        const Picture picture = layer.pictureAt(loop.now());
        ASSERT_EQ(readFrameNumber(picture), 9);
        ASSERT_NE(picture.yuv(), nullptr) << "the clip's pictures are kept as decoded";
        last = picture.yuv()->owner;
    }
    advanceDecoded(loop, *player, 3.0 / 30.0);  // into frame 2 of b
    ASSERT_EQ(player->current(), b);
    ASSERT_EQ(readFrameNumber(layer.pictureAt(loop.now())), 2);
    a.reset();  // its decoder and queue go on a thread of their own: look every few ms
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!last.expired() && std::chrono::steady_clock::now() < deadline) {
        loop.waitForPosted(0.005);
    }
    EXPECT_TRUE(last.expired()) << "the picture before the seam is still held";
}

TEST(QueuePlayerRate, DoubleRateRunsTheClockTwiceAsFast) {
    ManualRunLoop loop;
    auto [player, item] = loadPlayer(loop, clip30().path);
    DecodedPlayerLayer layer(player);
    player->setRate(2.0f);
    const double start = loop.now().seconds();
    for (int n = 0; n < 58; n += 2) {
        advanceDecoded(loop, *player, start + (n + 0.5) / 60.0 - loop.now().seconds());
        EXPECT_NEAR(player->currentTime(), (n + 0.5) / 30.0, 1e-9);
        EXPECT_EQ(readFrameNumber(layer.frameAt(loop.now())), n);
    }
    player->setRate(-1.0f);
    EXPECT_EQ(player->rateValue(), 0.0f) << "no reverse play: negative rates pause";
    const double held = player->currentTime();
    loop.advance(1.0);
    EXPECT_DOUBLE_EQ(player->currentTime(), held);
}

TEST(QueuePlayerObservers, PeriodicObserverTicksWithItemTimeAndOnJumps) {
    ManualRunLoop loop;
    auto [player, item] = loadPlayer(loop, clip30().path);
    std::vector<double> times;
    auto observer = player->addPeriodicTimeObserver(0.05, [&](double t) { times.push_back(t); });
    player->play();
    loop.runPending();
    ASSERT_EQ(times.size(), 1u) << "playback started";
    EXPECT_DOUBLE_EQ(times[0], 0.0);
    times.clear();
    for (int i = 0; i < 12; ++i) {
        advanceDecoded(loop, *player, 0.025);
    }
    ASSERT_EQ(times.size(), 6u);
    for (std::size_t i = 0; i < times.size(); ++i) {
        EXPECT_NEAR(times[i], 0.05 * (i + 1), 1e-9);
    }
    times.clear();
    player->setRate(2.0f);  // 0.05 s of item time is now 0.025 s of clock time
    loop.runPending();
    EXPECT_EQ(times.size(), 1u) << "rate change";
    times.clear();
    loop.advance(0.1 + 1e-9);
    EXPECT_EQ(times.size(), 4u);

    // Setting the rate it has, more often than the interval, neither restarts nor starves them.
    times.clear();
    for (int i = 0; i < 10; ++i) {
        player->setRate(2.0f);
        loop.advance(0.02);
    }
    EXPECT_EQ(times.size(), 8u);

    times.clear();
    player->pause();
    std::optional<bool> sought;
    player->seek(1.5, 0.0, 0.0, [&](bool f) { sought = f; });
    ASSERT_TRUE(runUntil(loop, [&] { return sought.has_value(); }));
    loop.advance(1.0);
    ASSERT_EQ(times.size(), 2u) << "one for the pause, one for the landing, none while paused";
    EXPECT_DOUBLE_EQ(times[1], 1.5);

    observer.reset();
    times.clear();
    player->play();
    loop.advance(0.2);
    EXPECT_TRUE(times.empty()) << "nothing after removal";
}

TEST(QueuePlayerObservers, BoundaryObserverFiresWhenPlaybackCrossesNotOnSeeks) {
    ManualRunLoop loop;
    auto [player, item] = loadPlayer(loop, clip30().path);
    std::vector<double> fired;
    auto observer = player->addBoundaryTimeObserver(
        {0.5, 1.0, 1.9}, [&] { fired.push_back(player->currentTime()); });
    player->play();
    while (player->currentTime() < 0.7) {
        advanceDecoded(loop, *player, kTick);
    }
    ASSERT_EQ(fired.size(), 1u);
    EXPECT_NEAR(fired[0], 0.5, 1e-9) << "fires at the crossing itself";

    std::optional<bool> sought;
    player->seek(1.2, 0.0, 0.0, [&](bool f) { sought = f; });
    ASSERT_TRUE(runUntil(loop, [&] { return sought.has_value(); }));
    while (player->currentTime() < 1.95) {
        advanceDecoded(loop, *player, kTick);
    }
    ASSERT_EQ(fired.size(), 2u) << "1.0 was jumped over";
    EXPECT_NEAR(fired[1], 1.9, 1e-9);

    observer.reset();
    player->seek(0.2, 0.0, 0.0);
    ASSERT_TRUE(runUntil(loop, [&] { return std::abs(player->currentTime() - 0.2) < 1e-9; }));
    loop.advance(1.0);
    EXPECT_EQ(fired.size(), 2u);
}

TEST(QueuePlayerLayers, AllLayersShowTheSamePictureAndReadinessFollowsTheItem) {
    ManualRunLoop loop;
    auto player = DecodedQueuePlayer::make(loop);
    DecodedPlayerLayer surface(player);
    DecodedPlayerLayer mirror(player);
    std::vector<bool> changes;
    auto watch =
        surface.isReadyForDisplay().subscribe([&](const bool& r) { changes.push_back(r); });
    auto item = DecodedPlayerItem::make(DecodedAsset::make(loop, clip30().path));
    player->insert(item);
    EXPECT_FALSE(surface.readyForDisplay());
    ASSERT_TRUE(runUntil(loop, [&] { return surface.readyForDisplay(); }));
    EXPECT_TRUE(mirror.readyForDisplay());
    player->play();
    advanceDecoded(loop, *player, 0.51);
    const QImage a = surface.frameAt(loop.now());
    const QImage b = mirror.frameAt(loop.now());
    EXPECT_EQ(a.cacheKey(), b.cacheKey()) << "one decoded picture, shared";
    EXPECT_EQ(readFrameNumber(a), 15);

    player->removeAllItems();
    EXPECT_FALSE(surface.readyForDisplay());
    EXPECT_TRUE(surface.frameAt(loop.now()).isNull());
    EXPECT_EQ(changes, (std::vector<bool>{true, false}));

    DecodedPlayerLayer late(player);
    EXPECT_FALSE(late.readyForDisplay());
    late.setPlayer(nullptr);
    EXPECT_TRUE(late.frameAt(loop.now()).isNull());
}

TEST(QueuePlayerPreroll, CompletesOnceTheItemIsDecodedAheadOrFailsWhenReplaced) {
    ManualRunLoop loop;
    auto player = DecodedQueuePlayer::make(loop);
    std::optional<bool> withoutItem;
    player->preroll(1.0f, [&](bool f) { withoutItem = f; });
    loop.runPending();
    EXPECT_EQ(withoutItem, false);

    auto item = DecodedPlayerItem::make(DecodedAsset::make(loop, clip30().path));
    player->insert(item);
    std::optional<bool> prerolled;
    player->preroll(1.0f, [&](bool f) { prerolled = f; });
    ASSERT_TRUE(runUntil(loop, [&] { return prerolled.has_value(); }));
    EXPECT_EQ(prerolled, true);
    EXPECT_TRUE(item->likelyToKeepUp());

    // Asked while the next item is still loading, then replaced.
    player->replaceAllItems({DecodedPlayerItem::make(DecodedAsset::make(loop, clip30().path))});
    std::optional<bool> replaced;
    player->preroll(1.0f, [&](bool f) { replaced = f; });
    player->replaceAllItems({DecodedPlayerItem::make(DecodedAsset::make(loop, clip30().path))});
    ASSERT_TRUE(runUntil(loop, [&] { return replaced.has_value(); }));
    EXPECT_EQ(replaced, false);
}

TEST(QueuePlayerQueue, InsertAfterRemoveAndAdvance) {
    ManualRunLoop loop;
    auto player = DecodedQueuePlayer::make(loop);
    auto asset = DecodedAsset::make(loop, clip30().path);
    auto a = DecodedPlayerItem::make(asset);
    auto b = DecodedPlayerItem::make(asset);
    auto c = DecodedPlayerItem::make(asset);
    player->insert(a);
    player->insert(c);
    player->insert(b, a);
    EXPECT_EQ(player->items(), (std::vector<QueuePlayer::ItemPtr>{a, b, c}));
    auto other = DecodedQueuePlayer::make(loop);
    EXPECT_FALSE(other->insert(b)) << "an item belongs to one player";
    player->remove(b);
    EXPECT_TRUE(other->insert(b));
    player->advanceToNextItem();
    EXPECT_EQ(player->current(), c);
    player->remove(c);
    EXPECT_EQ(player->current(), nullptr);
    EXPECT_DOUBLE_EQ(player->currentTime(), 0.0);

    // Nothing in the player keeps a removed item (and its decoder) alive.
    std::weak_ptr<PlayerItem> removed = c;
    c.reset();
    EXPECT_TRUE(removed.expired());
}

// A media clock that runs 0.1 % faster than host time and reads 10 s at host time 0.
class DriftingClock final : public MediaClock {
  public:
    ClockTime timeAt(HostTime host) const override {
        return ClockTime(10.0 + 1.001 * host.seconds());
    }
    HostTime hostTimeAt(ClockTime clockTime) const override {
        return HostTime((clockTime.seconds() - 10.0) / 1.001);
    }
};

TEST(QueuePlayerClock, PicturesAndObserversFollowTheMediaClockFromTheStartAsked) {
    ManualRunLoop loop;
    auto [player, item] = loadPlayer(loop, clip30().path);
    DecodedPlayerLayer layer(player);
    auto clock = std::make_shared<DriftingClock>();
    player->setClock(clock);
    player->setActionAtItemEnd(ActionAtItemEnd::Pause);
    std::vector<double> boundaries;
    std::vector<double> ends;
    auto onBoundary =
        player->addBoundaryTimeObserver({1.0}, [&] { boundaries.push_back(loop.now().seconds()); });
    auto onEnd = item->onDidPlayToEnd([&] { ends.push_back(loop.now().seconds()); });
    const ClockTime start = clock->timeAt(loop.now()) + 0.5;
    player->setRate(1.0f, start);
    advanceDecoded(loop, *player, 0.45);
    EXPECT_DOUBLE_EQ(player->currentTime(), 0.0) << "the time stands until the start";

    const double duration = item->duration();
    std::vector<int> shown;
    std::vector<int> expected;
    while (loop.now() < clock->hostTimeAt(start + duration) + 0.1) {
        advanceDecoded(loop, *player, kTick);
        const double t = std::clamp(clock->timeAt(loop.now()) - start, 0.0, duration);
        const double frame = t * 30.0;
        if (frame - std::floor(frame) < 1e-3 || std::ceil(frame) - frame < 1e-3) {
            continue;  // never sample on a frame boundary
        }
        expected.push_back(std::min(59, static_cast<int>(frame)));
        shown.push_back(readFrameNumber(layer.frameAt(loop.now())));
    }
    EXPECT_EQ(shown, expected);
    ASSERT_EQ(boundaries.size(), 1u);
    EXPECT_NEAR(boundaries[0], clock->hostTimeAt(start + 1.0).seconds(), 1e-9);
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_NEAR(ends[0], clock->hostTimeAt(start + duration).seconds(), 1e-9);
}

TEST(QueuePlayerThreads, PresentersReadPicturesWhileTheMainThreadEditsThePlayer) {
    ManualRunLoop loop;
    auto [player, item] = loadPlayer(loop, clip30().path);
    DecodedPlayerLayer layer(player);
    std::atomic<bool> stop{false};
    std::atomic<int> pictures{0};
    std::atomic<int> unreadable{0};
    std::thread presenter([&] {
        while (!stop.load()) {
            const QImage picture = layer.frameAt(loop.now());
            if (!picture.isNull()) {
                ++pictures;
                unreadable += readFrameNumber(picture) < 0 ? 1 : 0;
            }
        }
    });
    const auto filter = std::make_shared<const FrameFilter>([](const QImage& p) { return p; });
    player->play();
    for (int round = 0; round < 3; ++round) {
        advanceDecoded(loop, *player, 0.2);
        player->setRate(round == 1 ? 2.0f : 1.0f);
        player->current()->setFrameFilter(round == 2 ? nullptr : filter);
        std::optional<bool> sought;
        player->seek(0.3 * round, 0.0, 0.0, [&](bool f) { sought = f; });
        ASSERT_TRUE(runUntil(loop, [&] { return sought.has_value(); }));
        advanceDecoded(loop, *player, 0.1);
        player->replaceAllItems({DecodedPlayerItem::make(DecodedAsset::make(loop, clip30().path))});
        ASSERT_TRUE(runUntil(loop, [&] { return player->hasDisplayableFrame().get(); }));
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (pictures.load() == 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::yield();
    }
    stop = true;
    presenter.join();
    EXPECT_GT(pictures.load(), 0);
    EXPECT_EQ(unreadable.load(), 0);
}

TEST(QueuePlayerThreads, PicturesAppearAtTheirTimeWhileTheMainThreadIsHeldUp) {
    ManualRunLoop loop;
    auto [player, item] = loadPlayer(loop, clip30().path);
    DecodedPlayerLayer layer(player);
    player->play();
    ASSERT_TRUE(testing::waitForDecoded(loop, *item, 0.15));
    loop.stall(0.1 + kTick / 2);  // no run-loop work runs meanwhile
    EXPECT_EQ(readFrameNumber(layer.frameAt(loop.now())), 3);
}

}  // namespace
}  // namespace kestio::platform::media
