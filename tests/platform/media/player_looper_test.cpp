#include "platform/media/decoded_player_looper.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <functional>
#include <limits>
#include <optional>
#include <vector>

#include "platform/media/decoded_asset.h"
#include "platform/media/decoded_player_layer.h"
#include "platform/runloop/manual_run_loop.h"
#include "support/fake_media.h"
#include "support/frame_number_strip.h"
#include "support/media_fixtures.h"
#include "support/playback_test_support.h"

namespace kestio::platform::media {
namespace {

using kestio::test::mediaFixtures;
using kestio::test::readFrameNumber;
using testing::advanceDecoded;
using testing::runUntil;

constexpr double kTick = 1.0 / 60.0;
constexpr double kFps = 30.0;

const kestio::test::MediaFile& clip30() {
    return mediaFixtures().rateClip({30, 1});
}

struct LoopRig {
    ManualRunLoop loop;
    std::shared_ptr<QueuePlayer> player = DecodedQueuePlayer::make(loop);
    DecodedPlayerLayer layer{player};
    std::vector<std::pair<QueuePlayer::ItemPtr, QueuePlayer::ItemPtr>> changes;
    Subscription watch =
        player->observeCurrentItem([this](const auto& oldItem, const auto& newItem) {
            changes.emplace_back(oldItem, newItem);
        });

    std::shared_ptr<DecodedPlayerItem> templateItem(const std::filesystem::path& path) {
        return DecodedPlayerItem::make(DecodedAsset::make(loop, path));
    }

    // Plays from now, showing each display tick half a tick after it falls due (so never on
    // a frame boundary), and returns the frame number shown at each.
    std::vector<int> play(int ticks, bool fromHalfTick = true) {
        player->play();
        std::vector<int> shown;
        if (fromHalfTick) {
            advanceDecoded(loop, *player, kTick / 2);
        }
        for (int k = 0; k < ticks; ++k) {
            shown.push_back(readFrameNumber(layer.frameAt(loop.now())));
            advanceDecoded(loop, *player, kTick);
        }
        return shown;
    }
};

// The frames a range [first/30, end/30) shows at each tick over `passes` passes.
std::vector<int> expectedTicks(int first, int end, int ticks) {
    std::vector<int> frames;
    const double pass = (end - first) / kFps;
    for (int k = 0; k < ticks; ++k) {
        const double t = std::fmod((k + 0.5) * kTick, pass);
        frames.push_back(first + static_cast<int>(std::floor(t * kFps)));
    }
    return frames;
}

TEST(PlayerLooper, ARangeRepeatsFrameExactlyForFivePasses) {
    LoopRig rig;
    rig.player->setActionAtItemEnd(ActionAtItemEnd::Pause);
    DecodedPlayerLooper looper(
        rig.player, rig.templateItem(clip30().path),
        TimeRange::fromTo(MediaTime::seconds(10 / kFps), MediaTime::seconds(40 / kFps)));
    ASSERT_EQ(looper.loopingPlayerItems().size(), 2u) << "two decoders: this pass and the next";
    EXPECT_EQ(rig.player->current(), looper.loopingPlayerItems()[0]);
    EXPECT_EQ(rig.player->actionAtItemEnd(), ActionAtItemEnd::Advance);
    ASSERT_EQ(rig.changes.size(), 1u) << "the first replica becomes current at creation";
    EXPECT_EQ(rig.changes[0].first, nullptr);
    ASSERT_TRUE(runUntil(rig.loop, [&] { return rig.layer.readyForDisplay(); }));
    EXPECT_EQ(looper.statusValue(), LooperStatus::Ready);

    const int ticksPerPass = 60;  // 30 frames at 30 fps, two ticks each
    const auto shown = rig.play(5 * ticksPerPass + 1);
    EXPECT_EQ(shown, expectedTicks(10, 40, 5 * ticksPerPass + 1));
    // The seams: the last frame of the range, then its first frame on the next tick.
    for (int pass = 1; pass <= 5; ++pass) {
        EXPECT_EQ(shown[pass * ticksPerPass - 1], 39);
        EXPECT_EQ(shown[pass * ticksPerPass], 10);
    }
    EXPECT_EQ(rig.changes.size(), 6u) << "the current item changes at every seam";
    EXPECT_EQ(looper.loopCount(), 5);
    for (std::size_t i = 1; i < rig.changes.size(); ++i) {
        EXPECT_NE(rig.changes[i].first, rig.changes[i].second);
    }
}

TEST(PlayerLooper, AShortRangeStaysGaplessWithTwoDecoders) {
    LoopRig rig;
    // Three frames: 15, 16, 17.
    DecodedPlayerLooper looper(rig.player, rig.templateItem(clip30().path),
                               TimeRange::fromTo(15 / kFps, 18 / kFps));
    EXPECT_EQ(looper.loopingPlayerItems().size(), 2u);
    ASSERT_TRUE(runUntil(rig.loop, [&] { return rig.layer.readyForDisplay(); }));
    const auto shown = rig.play(60);
    EXPECT_EQ(shown, expectedTicks(15, 18, 60));
}

// A range of six pictures is shorter than a seek back and its first decoded picture: the
// passes after the first two are shown from the pictures each decoder keeps of the range (the
// kept range itself is ItemDecoderKeptRange's), every frame once per pass. A decoder marks its
// range whole a moment after it queued the last picture; in real time that moment lies well
// within a pass, so each tick lets the decoders finish what they are doing, as a pass would.
TEST(PlayerLooper, ASixFrameRangeShowsEveryFrameOncePerPassForTwoHundredPasses) {
    LoopRig rig;
    DecodedPlayerLooper looper(rig.player, rig.templateItem(clip30().path),
                               TimeRange::fromTo(15 / kFps, 21 / kFps));
    ASSERT_TRUE(runUntil(rig.loop, [&] { return rig.layer.readyForDisplay(); }));
    constexpr int kTicksPerPass = 12;
    constexpr int kWarmPasses = 2;
    const auto warm = rig.play(kWarmPasses * kTicksPerPass);
    ASSERT_EQ(warm, expectedTicks(15, 21, kWarmPasses * kTicksPerPass));

    constexpr int kPasses = 200;
    std::vector<int> shown;
    for (int k = 0; k < kPasses * kTicksPerPass; ++k) {
        shown.push_back(readFrameNumber(rig.layer.frameAt(rig.loop.now())));
        ASSERT_TRUE(testing::waitForDecodedAhead({rig.player.get()}));
        rig.loop.advance(kTick);
    }
    std::vector<int> expected = expectedTicks(15, 21, (kWarmPasses + kPasses) * kTicksPerPass);
    expected.erase(expected.begin(), expected.begin() + kWarmPasses * kTicksPerPass);
    EXPECT_EQ(shown, expected);
    EXPECT_EQ(looper.loopCount(), kWarmPasses + kPasses);
}

// Greys the picture below the frame number strip, so a picture tells which filter made it.
std::shared_ptr<const FrameFilter> greyFilter(int level, std::atomic<int>& calls) {
    return std::make_shared<const FrameFilter>([level, &calls](const QImage& decoded) {
        ++calls;
        QImage picture = decoded;
        for (int y = picture.height() / 2; y < picture.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(picture.scanLine(y));
            std::fill(line, line + picture.width(), qRgb(level, level, level));
        }
        return picture;
    });
}

int greyOf(const QImage& picture) {
    return qGray(picture.pixel(picture.width() / 2, picture.height() - 1));
}

TEST(PlayerLooper, AFilterChangedJustBeforeASeamHoldsOnBothSidesOfIt) {
    LoopRig rig;
    std::atomic<int> calls{0};
    auto templateItem = rig.templateItem(clip30().path);
    const auto first = greyFilter(128, calls);
    templateItem->setFrameFilter(first);
    DecodedPlayerLooper looper(rig.player, templateItem, TimeRange::fromTo(10 / kFps, 40 / kFps));
    for (const auto& pass : looper.loopingPlayerItems()) {
        EXPECT_EQ(pass->frameFilter(), first) << "every pass keeps the template's filter";
    }
    ASSERT_TRUE(runUntil(rig.loop, [&] { return rig.layer.readyForDisplay(); }));
    const auto shown = rig.play(59);  // the clock is now on the last frame of the pass
    EXPECT_EQ(greyOf(rig.layer.frameAt(rig.loop.now())), 128);

    const auto second = greyFilter(64, calls);
    for (const auto& pass : looper.loopingPlayerItems()) {
        pass->setFrameFilter(second);
    }
    const QImage last = rig.layer.frameAt(rig.loop.now());
    EXPECT_EQ(readFrameNumber(last), 39);
    EXPECT_EQ(greyOf(last), 64);
    const int callsBefore = calls.load();
    DecodedPlayerLayer mirror(rig.player);
    EXPECT_EQ(mirror.frameAt(rig.loop.now()).cacheKey(), last.cacheKey());
    EXPECT_EQ(calls.load(), callsBefore) << "a second view reuses the filtered picture";

    // Across the seam, before the run loop has handled it.
    auto& next = dynamic_cast<DecodedPlayerItem&>(*rig.player->items().at(1));
    ASSERT_TRUE(testing::waitForDecoded(rig.loop, next, 10 / kFps + kTick));
    rig.loop.stall(kTick);
    const QImage firstOfPass = rig.layer.frameAt(rig.loop.now());
    EXPECT_EQ(readFrameNumber(firstOfPass), 10);
    EXPECT_EQ(greyOf(firstOfPass), 64);
}

// The next pass is not decoded beside the first while the loop's first picture is awaited: it
// is queued (and starts decoding) once the first pass is ready, and a template ready already
// is queued with its next pass at once. Both loop on.
TEST(PlayerLooper, TheNextPassIsQueuedOnceTheFirstIsReady) {
    for (const bool preloaded : {false, true}) {
        SCOPED_TRACE(preloaded ? "template ready already" : "template loading");
        LoopRig rig;
        const auto templateItem = rig.templateItem(clip30().path);
        std::shared_ptr<QueuePlayer> holder;
        if (preloaded) {
            holder = DecodedQueuePlayer::make(rig.loop);
            holder->insert(templateItem);
            bool landed = false;
            templateItem->seek(10 / kFps, 0.0, 0.0, [&](bool) { landed = true; });
            ASSERT_TRUE(runUntil(rig.loop, [&] {
                return landed && templateItem->statusValue() == ItemStatus::ReadyToPlay;
            }));
            holder->removeAllItems();
        }
        DecodedPlayerLooper looper(rig.player, templateItem,
                                   TimeRange::fromTo(10 / kFps, 20 / kFps));
        const auto first = rig.player->items().front();
        EXPECT_EQ(rig.player->items().size(), preloaded ? 2u : 1u);
        if (!preloaded) {
            EXPECT_NE(first->statusValue(), ItemStatus::ReadyToPlay);
            EXPECT_EQ(looper.loopingPlayerItems().size(), 2u);
            ASSERT_TRUE(runUntil(rig.loop, [&] { return rig.player->items().size() == 2; }));
            EXPECT_EQ(first->statusValue(), ItemStatus::ReadyToPlay);
        }
        EXPECT_EQ(rig.player->items().back(), looper.loopingPlayerItems().back());
        ASSERT_TRUE(runUntil(rig.loop, [&] { return rig.layer.readyForDisplay(); }));
        EXPECT_EQ(rig.play(45), expectedTicks(10, 20, 45));
    }
}

TEST(PlayerLooper, TheWholeItemLoopsWhenNoRangeIsGiven) {
    LoopRig rig;
    DecodedPlayerLooper looper(rig.player, rig.templateItem(clip30().path));
    ASSERT_TRUE(runUntil(rig.loop, [&] { return rig.layer.readyForDisplay(); }));
    const double duration = rig.player->current()->duration();
    const auto shown = rig.play(300);
    for (int k = 0; k < 300; ++k) {
        const double t = std::fmod((k + 0.5) * kTick, duration);
        ASSERT_EQ(shown[k], std::min(59, static_cast<int>(std::floor(t * kFps)))) << "tick " << k;
    }
    EXPECT_FALSE(looper.range().has_value());
    EXPECT_GE(looper.loopCount(), 2);
}

TEST(PlayerLooper, DisablingLetsTheCurrentPassFinishThenRestoresTheEndAction) {
    LoopRig rig;
    rig.player->setActionAtItemEnd(ActionAtItemEnd::Pause);
    DecodedPlayerLooper looper(rig.player, rig.templateItem(clip30().path),
                               TimeRange::fromTo(10 / kFps, 40 / kFps));
    ASSERT_TRUE(runUntil(rig.loop, [&] { return rig.layer.readyForDisplay(); }));
    auto shown = rig.play(90);  // one pass and a half
    EXPECT_EQ(shown, expectedTicks(10, 40, 90));
    const auto current = rig.player->current();
    looper.disableLooping();
    EXPECT_FALSE(looper.isLooping());
    EXPECT_EQ(rig.player->items(), std::vector<QueuePlayer::ItemPtr>{current});
    EXPECT_EQ(rig.player->actionAtItemEnd(), ActionAtItemEnd::Pause);
    const auto changesBefore = rig.changes.size();
    const auto rest = rig.play(60, false);
    // The pass runs to the range end and stops on its last frame (the ticks go on from
    // 90.5 ticks after the start: 30.5 ticks into the second pass).
    for (int k = 0; k < 60; ++k) {
        EXPECT_EQ(rest[k], std::min(39, 25 + k / 2)) << "tick " << k;
    }
    EXPECT_EQ(rig.player->rateValue(), 0.0f);
    EXPECT_EQ(rig.changes.size(), changesBefore);
}

TEST(PlayerLooper, RangesBeyondTheItemAreClampedOnceItsDurationIsKnown) {
    LoopRig rig;
    const auto templateItem = rig.templateItem(clip30().path);
    {
        DecodedPlayerLooper looper(rig.player, templateItem, TimeRange::fromTo(1.5, 9.0));
        ASSERT_TRUE(testing::waitForStatus(rig.loop, *looper.loopingPlayerItems()[0]));
        const double duration = looper.loopingPlayerItems()[0]->duration();
        ASSERT_TRUE(looper.range().has_value());
        EXPECT_DOUBLE_EQ(looper.range()->start, 1.5);
        EXPECT_DOUBLE_EQ(looper.range()->end(), duration);
    }
    {
        DecodedPlayerLooper looper(rig.player, templateItem, TimeRange::fromTo(1.0, 0.5));
        ASSERT_TRUE(testing::waitForStatus(rig.loop, *looper.loopingPlayerItems()[0]));
        EXPECT_DOUBLE_EQ(looper.range()->start, 1.0);
        EXPECT_DOUBLE_EQ(looper.range()->end(), looper.loopingPlayerItems()[0]->duration());
        ASSERT_TRUE(runUntil(rig.loop, [&] { return rig.layer.readyForDisplay(); }));
        EXPECT_EQ(readFrameNumber(rig.layer.frameAt(rig.loop.now())), 30);
    }
}

// The clamping rules alone, including the case the real clip above does not reach.
TEST(PlayerLooper, RangeClampingRules) {
    const double kDuration = 4.0;
    const struct {
        TimeRange asked;
        TimeRange played;
    } cases[] = {
        {TimeRange::fromTo(1.0, 3.0), TimeRange::fromTo(1.0, 3.0)},  // inside: kept
        {TimeRange::fromTo(1.5, 9.0), TimeRange::fromTo(1.5, 4.0)},  // end past the item
        {TimeRange::fromTo(1.0, 0.5), TimeRange::fromTo(1.0, 4.0)},  // end before the start
        {TimeRange::fromTo(4.0, 6.0), TimeRange::fromTo(0.0, 4.0)},  // start at the end
        {TimeRange::fromTo(7.0, 8.0), TimeRange::fromTo(0.0, 4.0)},  // start past the end
    };
    for (const auto& c : cases) {
        EXPECT_EQ(loopRangeWithin(c.asked, kDuration), c.played)
            << c.asked.start << "-" << c.asked.end();
    }
    // Unknown duration: unchanged.
    EXPECT_EQ(loopRangeWithin(TimeRange::fromTo(7.0, 8.0), std::numeric_limits<double>::infinity()),
              TimeRange::fromTo(7.0, 8.0));
}

// Ranges the looper clamps, on scripted items (a 4 s clip at 30 fps, ready 0.1 s after it is
// queued, its seeks landing 0.05 s after they are asked): a preroll of the player finishes, the
// looper reports ready, and the passes seam where the clamped range ends, from the first seam
// on, with the picture of the clamped range's first frame.
TEST(PlayerLooper, ClampedRangesPrerollAndSeamOnTheClampedRange) {
    struct Case {
        const char* name;
        TimeRange asked;
        TimeRange played;
    };
    const Case cases[] = {
        {"inside", TimeRange::fromTo(1.0, 2.0), TimeRange::fromTo(1.0, 2.0)},
        {"end past the item", TimeRange::fromTo(3.0, 9.0), TimeRange::fromTo(3.0, 4.0)},
        {"start at the end", TimeRange::fromTo(4.0, 6.0), TimeRange::fromTo(0.0, 4.0)},
        {"start past the end", TimeRange::fromTo(5.0, 6.0), TimeRange::fromTo(0.0, 4.0)},
        {"start far past the end", TimeRange::fromTo(40.0, 41.0), TimeRange::fromTo(0.0, 4.0)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ManualRunLoop loop;
        kestio::test::FakeMediaFactory fakes(loop);
        kestio::test::FakeMediaScript script;
        script.duration = 4.0;
        script.video->frameRate = kFps;
        script.assetLoadDelay = 0.0;
        script.readyDelay = 0.1;
        script.seekDuration = 0.05;
        fakes.setScript("clip.mov", script);
        const auto player =
            std::dynamic_pointer_cast<kestio::test::FakeQueuePlayer>(fakes.makeQueuePlayer());
        const auto looper =
            fakes.makeLooper(player, fakes.makeItem(fakes.makeAsset("clip.mov")), c.asked);
        std::optional<bool> prerolled;
        std::function<void(bool)> ask = [&](bool finished) {
            if (finished) {
                prerolled = true;
            } else if (player->current()->statusValue() != ItemStatus::Failed) {
                player->preroll(1.0f, ask);  // a seek of the looper's came first
            } else {
                prerolled = false;
            }
        };
        player->preroll(1.0f, ask);
        loop.advance(1.0);
        ASSERT_EQ(prerolled, std::optional<bool>(true)) << "the picture never prerolled";
        EXPECT_EQ(looper->statusValue(), LooperStatus::Ready);
        ASSERT_TRUE(looper->range().has_value());
        EXPECT_EQ(*looper->range(), c.played);
        const int first = static_cast<int>(std::lround(c.played.start * kFps));
        EXPECT_EQ(player->frameShownAt(loop.now()), kestio::test::FakeFrame::of("clip.mov", first));

        const HostTime start = loop.now();
        player->play();
        const HostTime seam = start + c.played.duration;
        loop.advance(seam - 1e-4 - loop.now());
        const int last = static_cast<int>(std::lround(c.played.end() * kFps)) - 1;
        EXPECT_EQ(player->frameShownAt(loop.now()), kestio::test::FakeFrame::of("clip.mov", last));
        EXPECT_EQ(player->frameShownAt(seam), kestio::test::FakeFrame::of("clip.mov", first));
        loop.advance(2 * c.played.duration);
        EXPECT_EQ(looper->loopCount(), 2);
    }
}

// A range starting at or past the end of a real file (2 s, 60 frames) loops the whole item: the
// first pass is positioned past the end before the duration is known, its decoder reaches the
// end of the file from there, and the player still prerolls, on frame 0 once clamped.
TEST(PlayerLooper, ARangeStartingPastTheEndPrerollsAndLoopsTheWholeItem) {
    for (const double start : {2.0, 5.0, 40.0}) {
        SCOPED_TRACE(start);
        LoopRig rig;
        DecodedPlayerLooper looper(rig.player, rig.templateItem(clip30().path),
                                   TimeRange::fromTo(start, start + 1.0));
        std::optional<bool> prerolled;
        std::function<void(bool)> ask = [&](bool finished) {
            if (!finished && looper.statusValue() != LooperStatus::Failed) {
                rig.player->preroll(1.0f, ask);  // a seek of the looper's came first
                return;
            }
            prerolled = finished;
        };
        rig.player->preroll(1.0f, ask);
        ASSERT_TRUE(runUntil(rig.loop, [&] { return prerolled.has_value(); }));
        ASSERT_TRUE(*prerolled) << "the first pass never prerolled";
        EXPECT_EQ(looper.statusValue(), LooperStatus::Ready);
        const double duration = rig.player->current()->duration();
        ASSERT_TRUE(looper.range().has_value());
        EXPECT_EQ(*looper.range(), TimeRange::fromTo(0.0, duration));
        ASSERT_TRUE(runUntil(rig.loop, [&] { return rig.layer.readyForDisplay(); }));
        // The seek to the clamped range lands before playing: a loaded machine can be slow to it,
        // and the time stands until it does.
        ASSERT_TRUE(runUntil(rig.loop, [&] {
            const auto* item = dynamic_cast<const DecodedPlayerItem*>(rig.player->current().get());
            return item == nullptr || !item->isSeeking();
        }));
        const auto shown = rig.play(270);  // two seams
        EXPECT_EQ(shown, expectedTicks(0, 60, 270));
        EXPECT_EQ(looper.loopCount(), 2);
    }
}

// A rate change to 2 asked for ahead, with the run loop's thread held from the call on (scripted
// items: the range 2-3 s at 30 fps, the first seam at 1.1 s): the passes take it at its clock
// time by themselves, whether it falls before the seam or beyond it, in the next pass.
TEST(PlayerLooper, ARateChangeAskedAheadReachesTheNextPassWithoutTheRunLoop) {
    const struct {
        const char* name;
        double changeAt;
        // The picture shown at 1.31 s and at 1.51 s.
        int at131;
        int at151;
    } cases[] = {
        // Pass 0 ends at 1.0 + (3.0 - 2.9) / 2; pass 1 runs at 2 from then.
        {"before the seam", 1.0, 75, 87},
        // Pass 1 runs at 1 from 1.1 to 1.4 (to 2.3 s), at 2 from there.
        {"beyond the seam", 1.4, 66, 75},
        // Pass 1 runs at 1 throughout.
        {"after the next seam", 2.4, 66, 72},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ManualRunLoop loop;
        kestio::test::FakeMediaFactory fakes(loop);
        const auto player =
            std::dynamic_pointer_cast<kestio::test::FakeQueuePlayer>(fakes.makeQueuePlayer());
        const auto looper = fakes.makeLooper(player, fakes.makeItem(fakes.makeAsset("loop.mov")),
                                             TimeRange::fromTo(2.0, 3.0));
        player->play();
        loop.advance(0.5);
        ASSERT_EQ(player->frameShownAt(HostTime(1.1 - 1e-4)),
                  kestio::test::FakeFrame::of("loop.mov", 89));
        player->setRate(2.0f, ClockTime(c.changeAt));
        loop.stall(1.02);  // to 1.52 s
        EXPECT_EQ(looper->loopCount(), 0) << "the run loop ran";
        EXPECT_EQ(player->frameShownAt(HostTime(1.31)),
                  kestio::test::FakeFrame::of("loop.mov", c.at131));
        EXPECT_EQ(player->frameShownAt(HostTime(1.51)),
                  kestio::test::FakeFrame::of("loop.mov", c.at151));
        loop.advance(0.0);
        EXPECT_EQ(looper->loopCount(), 1);
        EXPECT_EQ(player->frameShownAt(HostTime(1.51)),
                  kestio::test::FakeFrame::of("loop.mov", c.at151))
            << "the run loop, handling the seam late, changed the picture";
    }
}

TEST(PlayerLooper, AnUnplayableTemplateFails) {
    LoopRig rig;
    const auto folder = std::filesystem::path(KESTIO_FIXTURE_DIR) / "media-tests" / "broken";
    const auto broken = testing::makeBrokenFiles(folder, clip30().path);
    DecodedPlayerLooper looper(rig.player, rig.templateItem(broken.noise),
                               TimeRange::fromTo(0.0, 1.0));
    ASSERT_TRUE(runUntil(rig.loop, [&] { return looper.statusValue() != LooperStatus::Unknown; }));
    EXPECT_EQ(looper.statusValue(), LooperStatus::Failed);
    rig.player->play();
    rig.loop.advance(3.0);
    EXPECT_EQ(looper.loopCount(), 0);
}

}  // namespace
}  // namespace kestio::platform::media
