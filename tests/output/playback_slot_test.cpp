// The playback slot on scripted media and a scripted clip player, in virtual time: loop ranges,
// the readiness wait, loading, stills and clearing.

#include <gtest/gtest.h>

#include <QColor>
#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "output/audio_engine_controller.h"
#include "output/still_display_size.h"
#include "platform/audio/audio_player_node.h"
#include "platform/graphics/compositor.h"
#include "surface_rig.h"

namespace kestio::output {
namespace {

using platform::media::TimeRange;
using test::FakeClipPlayer;
using test::FakeMediaScript;

class PlaybackSlotTest : public ::testing::Test {
  protected:
    PlaybackSlot& slot() { return rig.surface.slotB(); }
    FakeClipPlayer& clipPlayer() { return rig.clipPlayerOf(slot()); }

    // Starts a loop of `url` and waits until the clip player was asked to play it.
    std::optional<TimeRange> loopOf(const std::string& url, double start, std::optional<double> end,
                                    int* readyCalls = nullptr) {
        auto asset = rig.media.makeAsset(url);
        auto item = rig.media.makeItem(asset);
        const auto playsBefore = plays();
        slot().startLoop(url, asset, item, start, end, [readyCalls] {
            if (readyCalls) {
                ++*readyCalls;
            }
        });
        // Virtual time for the asset's loads, wall time for the sound chain's load thread.
        for (int i = 0; i < 2000 && plays() == playsBefore; ++i) {
            rig.loop.advance(0.01);
            rig.loop.waitForPosted(0.005);
        }
        if (plays() == playsBefore) {
            ADD_FAILURE() << "the loop never played";
            return std::nullopt;
        }
        return clipPlayer().calls().back().loop;
    }
    std::size_t plays() {
        std::size_t n = 0;
        for (const auto& call : clipPlayer().calls()) {
            n += call.kind == FakeClipPlayer::Call::Kind::Play;
        }
        return n;
    }

    test::SurfaceRig rig;
};

// Which range a loop repeats, by extension, in and out point and what the file tells.
TEST_F(PlaybackSlotTest, LoopRangesFollowTheClipAndItsPoints) {
    const double inf = std::numeric_limits<double>::infinity();
    FakeMediaScript fps25;
    fps25.video->frameRate = 25.0;
    FakeMediaScript fpsUnknown;
    fpsUnknown.video->frameRate = 0.0;
    FakeMediaScript noVideo;
    noVideo.video.reset();
    FakeMediaScript broken;
    broken.loads = false;

    struct Case {
        const char* name;
        const char* url;
        FakeMediaScript script;
        double start;
        std::optional<double> end;
        bool decidedAtOnce;
        TimeRange range;
    };
    const Case cases[] = {
        {"out point with in point 0", "/a/out.mp4", fps25, 0.0, 5.0, true, {0.0, 5.0}},
        {"in and out point", "/a/inout.mov", fps25, 2.0, 6.5, true, {2.0, 4.5}},
        {"whole mp4 at 25 fps", "/a/whole.mp4", fps25, 0.0, std::nullopt, false, {0.0, 9.96}},
        {"capital MP4", "/a/caps.MP4", fps25, 0.0, std::nullopt, false, {0.0, 9.96}},
        {"mp4 at an unknown rate",
         "/a/unknown.mp4",
         fpsUnknown,
         0.0,
         std::nullopt,
         false,
         {0.0, 10.0 - 1.0 / 60.0}},
        {"mp4 without video",
         "/a/novideo.mp4",
         noVideo,
         0.0,
         std::nullopt,
         false,
         {0.0, 10.0 - 1.0 / 60.0}},
        {"mp4 whose duration fails", "/a/broken.mp4", broken, 0.0, std::nullopt, false, {0.0, inf}},
        {"mov: the whole item", "/a/whole.mov", fps25, 0.0, std::nullopt, true, {0.0, inf}},
        {"in point without out point", "/a/in.mov", fps25, 2.0, std::nullopt, false, {2.0, 8.0}},
        {"in point, duration fails",
         "/a/inbroken.mov",
         broken,
         2.0,
         std::nullopt,
         false,
         {0.0, inf}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        rig.media.setScript(c.url, c.script);
        auto asset = rig.media.makeAsset(c.url);
        auto item = rig.media.makeItem(asset);
        slot().startLoop(c.url, asset, item, c.start, c.end, {});
        EXPECT_EQ(slot().loopRange().has_value(), c.decidedAtOnce);
        slot().stopLooping();
        const auto range = loopOf(c.url, c.start, c.end);
        ASSERT_TRUE(range);
        EXPECT_NEAR(range->start, c.range.start, 1e-9);
        if (std::isinf(c.range.duration)) {
            EXPECT_TRUE(std::isinf(range->end()));
        } else {
            EXPECT_NEAR(range->end(), c.range.end(), 1e-9);
        }
        EXPECT_TRUE(slot().isLooping());
    }
}

// A loop's range decided after the slot was given something else starts nothing.
TEST_F(PlaybackSlotTest, ALoopOvertakenByALoadNeverStarts) {
    auto asset = rig.media.makeAsset("/a/late.mp4");
    auto item = rig.media.makeItem(asset);
    slot().startLoop("/a/late.mp4", asset, item, 0.0, std::nullopt, {});
    slot().load("/a/other.mov", 0.0, std::nullopt, ColorSettings{});
    for (int i = 0; i < 20; ++i) {
        rig.loop.advance(0.1);
        rig.loop.waitForPosted(0.02);
    }
    EXPECT_EQ(plays(), 0u);
    EXPECT_FALSE(slot().isLooping());
}

// Loading a looping slot ends the loop and its observations; nothing starts, nothing shows.
TEST_F(PlaybackSlotTest, LoadEndsALoopAndQueuesOneItemWithoutPlayingOrShowing) {
    ASSERT_TRUE(loopOf("/a/loop.mov", 0.0, std::nullopt));
    bool observed = false;
    slot().currentItemObserver() = rig.surface.slotB().player()->observeCurrentItem(
        [&observed](const auto&, const auto&) { observed = true; });
    slot().containerLayer()->setContents(QImage(4, 4, QImage::Format_RGB32));
    ColorSettings warm;
    warm.redGain = 1.5f;

    slot().load("/a/next.mov", 1.5, 4.0, warm);

    EXPECT_FALSE(slot().isLooping());
    EXPECT_EQ(clipPlayer().calls().back().kind, FakeClipPlayer::Call::Kind::Stop);
    const auto kinds = [&] {
        std::vector<FakeClipPlayer::Call::Kind> k;
        for (const auto& call : clipPlayer().calls()) {
            k.push_back(call.kind);
        }
        return k;
    }();
    EXPECT_NE(std::find(kinds.begin(), kinds.end(), FakeClipPlayer::Call::Kind::EndLoop),
              kinds.end());
    observed = false;
    slot().player()->removeAllItems();
    slot().player()->insert(rig.media.makeItem(rig.media.makeAsset("/a/x.mov")));
    EXPECT_FALSE(observed) << "the loop's observation outlived the load";

    slot().load("/a/next.mov", 1.5, 4.0, warm);
    ASSERT_EQ(slot().player()->items().size(), 1u);
    EXPECT_EQ(slot().player()->current()->url(), "/a/next.mov");
    EXPECT_DOUBLE_EQ(slot().player()->current()->preferredForwardBufferDuration(), 1.0);
    EXPECT_EQ(slot().player()->rateValue(), 0.0f);
    EXPECT_EQ(slot().containerLayer()->opacity(), 0.0f);
    EXPECT_TRUE(slot().containerLayer()->contents().isNull());
    EXPECT_FALSE(slot().videoLayer()->isHidden());
    EXPECT_EQ(slot().colorSettingsBox().value(), warm);
    // The colour values are on the player before its first picture is composed.
    EXPECT_NE(slot().player()->frameFilter(), nullptr);
    EXPECT_FALSE(slot().isStill());
}

// The readiness wait calls back exactly once, whichever way readiness arrives.
TEST_F(PlaybackSlotTest, TheReadinessWaitCallsBackOnce) {
    struct Case {
        const char* name;
        double readyDelay;  // < 0: the item fails and the layer never gets a picture
        double expectAt;
    };
    const Case cases[] = {
        {"ready through the observation", 0.25, 0.25},
        {"ready before the first re-check", 0.05, 0.05},
        {"never ready: gives up after 20 re-checks", -1.0, 2.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::SurfaceRig local;
        PlaybackSlot& s = local.surface.slotA();
        FakeMediaScript script;
        script.readyDelay = c.readyDelay < 0 ? 0.05 : c.readyDelay;
        script.loads = c.readyDelay >= 0;
        local.media.setScript("/a/wait.mov", script);
        s.load("/a/wait.mov", 0.0, std::nullopt, ColorSettings{});
        const auto start = local.loop.now();
        int calls = 0;
        platform::HostTime calledAt{};
        s.waitForReadyForDisplay(PlaybackSlot::kReadyAttempts, [&] {
            ++calls;
            calledAt = local.loop.now();
        });
        local.loop.advance(c.expectAt - 0.001);
        EXPECT_EQ(calls, 0);
        local.loop.advance(0.002);
        EXPECT_EQ(calls, 1);
        EXPECT_NEAR(calledAt - start, c.expectAt, 0.0011);
        // The layer goes dark and ready again with another clip: the wait is over.
        s.load("/a/other.mov", 0.0, std::nullopt, ColorSettings{});
        local.loop.advance(3.0);
        EXPECT_EQ(calls, 1);
        EXPECT_FALSE(s.isWaitingForDisplay());
    }
}

// A layer already ready: the callback is posted (not run inside the call) and nothing is
// observed. A second wait replaces the first, whose callback never runs.
TEST_F(PlaybackSlotTest, AReadyLayerAnswersOnTheNextTurnAndANewWaitReplacesTheOld) {
    slot().load("/a/ready.mov", 0.0, std::nullopt, ColorSettings{});
    rig.loop.advance(0.2);
    ASSERT_TRUE(slot().playerLayer().readyForDisplay());
    int calls = 0;
    slot().waitForReadyForDisplay(20, [&] { ++calls; });
    EXPECT_EQ(calls, 0);
    EXPECT_FALSE(slot().isWaitingForDisplay());
    rig.loop.runPending();
    EXPECT_EQ(calls, 1);

    slot().load("/a/slow.mov", 0.0, std::nullopt, ColorSettings{});
    int first = 0;
    int second = 0;
    slot().waitForReadyForDisplay(20, [&] { ++first; });
    slot().waitForReadyForDisplay(20, [&] { ++second; });
    rig.loop.advance(3.0);
    EXPECT_EQ(first, 0);
    EXPECT_EQ(second, 1);
}

// A loop plays at once on the clip player, and says it is ready once its first picture is.
TEST_F(PlaybackSlotTest, ALoopPlaysItsRangeAndReportsReadyOnce) {
    int ready = 0;
    const auto range = loopOf("/a/loop.mov", 1.0, 3.0, &ready);
    ASSERT_TRUE(range);
    const auto& play = clipPlayer().calls().back();
    EXPECT_DOUBLE_EQ(play.itemTime.seconds(), 1.0);
    rig.loop.advance(2.5);
    EXPECT_EQ(ready, 1);
    EXPECT_TRUE(slot().isLooping());
    EXPECT_GT(slot().player()->rateValue(), 0.0f);
}

// A still replaces the video in the container, corrected where it is composed; opacity is left
// to the surface.
TEST_F(PlaybackSlotTest, AStillIsShownCorrectedInTheContainer) {
    slot().load("/a/clip.mov", 0.0, std::nullopt, ColorSettings{});
    QImage still(8, 6, QImage::Format_RGB32);
    still.fill(QColor(200, 100, 50));

    slot().showStill(still, ColorSettings{});
    EXPECT_TRUE(slot().isStill());
    EXPECT_TRUE(slot().player()->items().empty());
    EXPECT_TRUE(slot().videoLayer()->isHidden());
    EXPECT_EQ(slot().originalStillImage(), still);
    EXPECT_EQ(slot().containerLayer()->contents(), still);  // the defaults change nothing
    EXPECT_EQ(slot().containerLayer()->contentsGravity(), platform::Gravity::ResizeAspect);
    EXPECT_EQ(slot().containerLayer()->opacity(), 0.0f);

    ColorSettings grey;
    grey.saturation = 0.0f;
    slot().showStill(still, grey);
    EXPECT_EQ(slot().containerLayer()->contents().cacheKey(), still.cacheKey());
    slot().containerLayer()->setFrame({0, 0, 8, 6});
    slot().containerLayer()->setOpacity(1.0f);
    const QRgb c =
        platform::Compositor().render(*slot().containerLayer(), rig.loop.now(), {8, 6}).pixel(3, 3);
    EXPECT_EQ(qRed(c), qGreen(c));
    EXPECT_EQ(qGreen(c), qBlue(c));
    EXPECT_EQ(slot().originalStillImage(), still);

    // Emptied, the container keeps no corrected copy of the still.
    const auto filter = slot().containerLayer()->contentsFilter();
    slot().clear();
    EXPECT_NE(slot().containerLayer()->contentsFilter(), filter);
}

// A 4000x3000 photo on air, decoded for a 1920x1080 box; its geometry changes on air. A box
// larger than the picture decoded has it decoded again at the size the box needs, in the
// background, while the picture before stays; it is swapped in unless another still, a clear or
// a later refit took over meanwhile, or the decode failed.
TEST_F(PlaybackSlotTest, AStillShownLargerOnAirIsDecodedAgainForItsNewSize) {
    const QSize own(4000, 3000);
    struct Case {
        const char* name;
        QSize shownAt;
        std::function<void(PlaybackSlot&)> meanwhile;  // between the refit and its decode
        bool fails;
        std::vector<QSize> decodedFor;  // the boxes decoded for
        QSize shown;                    // the picture in the container in the end
    };
    const QSize first = own.scaled(1920, 1080, Qt::KeepAspectRatio);
    const auto refitAgain = [](PlaybackSlot& s) { s.refitStill({3000, 3000}); };
    const auto clearing = [](PlaybackSlot& s) { s.clear(); };
    const auto stillAnew = [](PlaybackSlot& s) {
        s.showStill(QImage(300, 200, QImage::Format_RGB32), {}, {300, 200}, "/b/other.png");
    };
    const Case cases[] = {
        {"SameBox", {1920, 1080}, {}, false, {}, first},
        {"SmallerZoom", {960, 540}, {}, false, {}, first},
        {"WiderBoxSameHeight", {2560, 1080}, {}, false, {}, first},
        {"OriginalSize", {}, {}, false, {QSize()}, own},
        {"Zoom200", {3840, 2160}, {}, false, {{3840, 2160}}, {2880, 2160}},
        {"DecodeFails", {}, {}, true, {QSize()}, first},
        {"LaterRefitWins", {}, refitAgain, false, {{3000, 3000}}, {3000, 2250}},
        {"ClearedMeanwhile", {}, clearing, false, {}, {0, 0}},
        {"AnotherStillMeanwhile", {}, stillAnew, false, {}, {300, 200}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::function<void()>> jobs;
        std::vector<QSize> asked;
        slot().setStillDecoder(
            [&](const std::filesystem::path& file, QSize shownAt, const platform::StillStop&) {
                EXPECT_EQ(file, std::filesystem::path("/a/photo.jpg"));
                asked.push_back(shownAt);
                platform::DecodedStill still;
                if (!c.fails) {
                    still.image = QImage(stillSizeNeeded(own, shownAt), QImage::Format_RGB32);
                    still.fullSize = own;
                } else {
                    still.error = "unreadable";
                }
                return still;
            },
            [&](std::function<void()> job) { jobs.push_back(std::move(job)); });
        const QImage decoded(first, QImage::Format_RGB32);
        slot().showStill(decoded, {}, own, "/a/photo.jpg");
        slot().refitStill(c.shownAt);
        EXPECT_EQ(slot().containerLayer()->contents().cacheKey(), decoded.cacheKey())
            << "the picture before stays until the new one is decoded";
        if (c.meanwhile) {
            c.meanwhile(slot());
        }
        for (std::size_t i = 0; i < jobs.size(); ++i) {
            jobs[i]();
        }
        rig.loop.runPending();
        EXPECT_EQ(asked, c.decodedFor);
        EXPECT_EQ(slot().containerLayer()->contents().size(), c.shown);
        if (slot().isStill()) {
            EXPECT_EQ(slot().originalStillImage().size(), c.shown);
        }
        slot().clear();
    }
}

// Clearing mid-fade leaves the slot hidden, empty and without the dissolve's animations.
TEST_F(PlaybackSlotTest, ClearingDuringAFadeLeavesTheSlotHiddenAndEmpty) {
    slot().load("/a/clip.mov", 0.0, std::nullopt, ColorSettings{});
    QImage still(4, 4, QImage::Format_RGB32);
    still.fill(Qt::white);
    slot().containerLayer()->setContents(still);
    slot().containerLayer()->addAnimation(PlaybackSlot::kFadeIn,
                                          OutputSurface::makeOpacityAnimation(0.0f, 1.0f, 1.0));
    slot().containerLayer()->addAnimation("other",
                                          OutputSurface::makeOpacityAnimation(1.0f, 1.0f, 1.0));
    rig.loop.advance(0.5);
    const auto clears = slot().clearCount();

    slot().clear();
    EXPECT_EQ(slot().containerLayer()->opacity(), 0.0f);
    EXPECT_FALSE(slot().containerLayer()->hasAnimation(PlaybackSlot::kFadeIn));
    EXPECT_TRUE(slot().containerLayer()->hasAnimation("other"));
    EXPECT_TRUE(slot().containerLayer()->contents().isNull());
    EXPECT_TRUE(slot().player()->items().empty());
    EXPECT_FALSE(slot().audio().playerNode()->isPlaying());
    EXPECT_FALSE(slot().isStill());
    EXPECT_EQ(slot().clearCount(), clears + 1);
}

}  // namespace
}  // namespace kestio::output
