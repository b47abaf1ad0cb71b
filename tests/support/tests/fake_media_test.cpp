#include "support/fake_media.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/runloop/manual_run_loop.h"

namespace kestio::test {
namespace {

using platform::media::ActionAtItemEnd;
using platform::media::ItemStatus;
using platform::media::Loaded;
using platform::media::MediaInfo;
using platform::media::PlayerItem;
using platform::media::TimeRange;

constexpr double kExact = 1e-9;
const double kNaN = std::numeric_limits<double>::quiet_NaN();

// Host time plus an offset: a media clock that is not host time.
class OffsetClock final : public platform::MediaClock {
  public:
    explicit OffsetClock(double offset) : offset_(offset) {}
    platform::ClockTime timeAt(platform::HostTime hostTime) const override {
        return platform::ClockTime(hostTime.seconds() + offset_);
    }
    platform::HostTime hostTimeAt(platform::ClockTime clockTime) const override {
        return platform::HostTime(clockTime.seconds() - offset_);
    }

  private:
    double offset_;
};

class FakeMediaTest : public ::testing::Test {
  protected:
    std::shared_ptr<PlayerItem> item(const std::string& url) {
        return factory.makeItem(factory.makeAsset(url));
    }
    std::shared_ptr<FakeQueuePlayer> player() {
        return std::dynamic_pointer_cast<FakeQueuePlayer>(factory.makeQueuePlayer());
    }
    void expectTimes(const std::vector<double>& actual, const std::vector<double>& expected) {
        ASSERT_EQ(actual.size(), expected.size());
        for (std::size_t i = 0; i < actual.size(); ++i) {
            EXPECT_NEAR(actual[i], expected[i], kExact) << "at " << i;
        }
    }

    platform::ManualRunLoop loop;
    FakeMediaFactory factory{loop};
};

TEST_F(FakeMediaTest, AssetsAndItemsAnswerAtTheirScriptedTimes) {
    FakeMediaScript slow;
    slow.assetLoadDelay = 0.2;
    slow.readyDelay = 0.35;
    slow.duration = std::numeric_limits<double>::infinity();
    slow.video->rotation = 90;
    FakeMediaScript broken;
    broken.loads = false;
    broken.error = "broken";
    FakeMediaScript soundOnly;
    soundOnly.video.reset();
    struct Case {
        const char* url;
        std::optional<FakeMediaScript> script;
        double answeredAt;  // the asset (inserted into the player at 0.5)
        double settledAt;   // the item
        ItemStatus status;
        QSize size;
        bool pictures;
    };
    const Case cases[] = {
        {"default.mov", std::nullopt, 0.1, 0.6, ItemStatus::ReadyToPlay, {1920, 1080}, true},
        {"slow.mov", slow, 0.2, 0.85, ItemStatus::ReadyToPlay, {1080, 1920}, true},
        {"broken.mov", broken, 0.1, 0.6, ItemStatus::Failed, {0, 0}, false},
        {"sound.wav", soundOnly, 0.1, 0.6, ItemStatus::ReadyToPlay, {0, 0}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        platform::ManualRunLoop caseLoop;
        FakeMediaFactory caseFactory(caseLoop);
        if (c.script) {
            caseFactory.setScript(c.url, *c.script);
        }
        auto asset = caseFactory.makeAsset(c.url);
        std::vector<double> answers;
        std::optional<Loaded<MediaInfo>> info;
        asset->loadInfo([&](const Loaded<MediaInfo>& loaded) {
            answers.push_back(caseLoop.now().seconds());
            info = loaded;
        });
        asset->loadDuration(
            [&](const Loaded<double>&) { answers.push_back(caseLoop.now().seconds()); });
        auto item = caseFactory.makeItem(asset);
        double settled = -1.0;
        auto sub = item->status().subscribe(
            [&](const ItemStatus&) { settled = caseLoop.now().seconds(); });
        auto queue = caseFactory.makeQueuePlayer();
        caseLoop.advance(0.5);
        ASSERT_TRUE(queue->insert(item));
        caseLoop.advance(1.0);

        expectTimes(answers, {c.answeredAt, c.answeredAt});
        EXPECT_EQ(info->ok(), c.status == ItemStatus::ReadyToPlay);
        EXPECT_NEAR(settled, c.settledAt, kExact);
        EXPECT_EQ(item->statusValue(), c.status);
        EXPECT_EQ(item->error(), c.status == ItemStatus::Failed ? "broken" : "");
        EXPECT_EQ(item->presentationSize(), c.size);
        EXPECT_EQ(queue->hasDisplayableFrame().get(), c.status == ItemStatus::ReadyToPlay);
        EXPECT_EQ(!queue->frameAt(caseLoop.now()).isNull(), c.pictures);
    }
}

TEST_F(FakeMediaTest, SeeksLandAfterTheirDurationAndSupersededOnesFailAtOnce) {
    struct Seek {
        double at;
        double target;
    };
    struct Completion {
        double at;
        bool finished;
        double time;  // the player's time then
    };
    struct Case {
        const char* name;
        std::vector<Seek> seeks;
        std::vector<Completion> completions;
        double timeAt2;
    };
    const Case cases[] = {
        {"lands", {{1.0, 5.0}}, {{1.05, true, 5.0}}, 5.95},
        {"superseded", {{1.0, 5.0}, {1.02, 7.0}}, {{1.02, false, 7.0}, {1.07, true, 7.0}}, 7.93},
        {"before ready", {{0.0, 3.0}}, {{0.1, true, 3.0}}, 4.9},
        {"past the end", {{1.0, 12.0}}, {{1.05, true, 10.0}}, 10.0},
        {"superseded before ready",
         {{0.0, 3.0}, {0.05, 4.0}},
         {{0.05, false, 4.0}, {0.1, true, 4.0}},
         5.9},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        platform::ManualRunLoop caseLoop;
        FakeMediaFactory caseFactory(caseLoop);
        auto queue = std::dynamic_pointer_cast<FakeQueuePlayer>(caseFactory.makeQueuePlayer());
        queue->setActionAtItemEnd(ActionAtItemEnd::None);
        queue->insert(caseFactory.makeItem(caseFactory.makeAsset("clip.mov")));
        queue->play();
        std::vector<Completion> completions;
        for (const auto& seek : c.seeks) {
            caseLoop.advance(seek.at - caseLoop.now().seconds());
            queue->seek(seek.target, 0.0, 0.5, [&](bool finished) {
                completions.push_back({caseLoop.now().seconds(), finished, queue->currentTime()});
            });
            EXPECT_TRUE(completions.empty() || completions.back().at < caseLoop.now().seconds());
        }
        caseLoop.advance(2.0 - caseLoop.now().seconds());
        ASSERT_EQ(completions.size(), c.completions.size());
        for (std::size_t i = 0; i < completions.size(); ++i) {
            EXPECT_NEAR(completions[i].at, c.completions[i].at, kExact) << i;
            EXPECT_EQ(completions[i].finished, c.completions[i].finished) << i;
            EXPECT_NEAR(completions[i].time, c.completions[i].time, kExact) << i;
        }
        EXPECT_NEAR(queue->currentTime(), c.timeAt2, kExact);
        const auto logged = queue->callsOf(FakeQueuePlayer::Call::Kind::Seek);
        ASSERT_EQ(logged.size(), c.seeks.size());
        EXPECT_EQ(logged.back().time, c.seeks.back().target);
        EXPECT_EQ(logged.back().toleranceAfter, 0.5);
    }
}

TEST_F(FakeMediaTest, BoundariesAndPeriodicCallsFollowTheMediaClock) {
    struct Case {
        const char* name;
        float rate;
        double startAtClock;  // NaN: at once
        double clockOffset;
        std::vector<double> boundaries;
        std::vector<double> boundaryHostTimes;
        std::vector<double> periodicHostTimes;  // every 0.5 s of item time, in (0.2, 2)
    };
    const Case cases[] = {
        {"normal speed", 1.0f, kNaN, 0.0, {1.0, 2.5}, {1.1, 2.6}, {0.6, 1.1, 1.6}},
        {"double speed",
         2.0f,
         kNaN,
         0.0,
         {1.0, 2.5},
         {0.6, 1.35},
         {0.35, 0.6, 0.85, 1.1, 1.35, 1.6, 1.85}},
        {"started at a clock time", 1.0f, 100.5, 100.0, {1.0}, {1.5}, {1.0, 1.5}},
        {"standing on a boundary at the start",
         1.0f,
         kNaN,
         0.0,
         {0.0, 1.0},
         {1.1},
         {0.6, 1.1, 1.6}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        platform::ManualRunLoop caseLoop;
        FakeMediaFactory caseFactory(caseLoop);
        auto queue = caseFactory.makeQueuePlayer();
        queue->setClock(std::make_shared<OffsetClock>(c.clockOffset));
        queue->insert(caseFactory.makeItem(caseFactory.makeAsset("clip.mov")));
        std::isnan(c.startAtClock) ? queue->setRate(c.rate)
                                   : queue->setRate(c.rate, platform::ClockTime(c.startAtClock));
        std::vector<double> crossed;
        std::vector<double> periodic;
        auto boundary = queue->addBoundaryTimeObserver(
            c.boundaries, [&] { crossed.push_back(caseLoop.now().seconds()); });
        auto ticks = queue->addPeriodicTimeObserver(0.5, [&](double) {
            if (caseLoop.now().seconds() > 0.2 && caseLoop.now().seconds() < 2.0) {
                periodic.push_back(caseLoop.now().seconds());
            }
        });
        caseLoop.advance(3.0);
        expectTimes(crossed, c.boundaryHostTimes);
        expectTimes(periodic, c.periodicHostTimes);
    }
}

TEST_F(FakeMediaTest, ItemsEndExactlyAtTheirEndTimeAndActAsTold) {
    struct Case {
        const char* name;
        ActionAtItemEnd action;
        double forwardEnd;  // NaN: the duration (2 s)
        double endedAt;
        int lastFrame;
        bool advanced;
        float rateAfter;
        double timeAt3;
    };
    const Case cases[] = {
        {"advance", ActionAtItemEnd::Advance, kNaN, 2.1, 59, true, 1.0f, 0.9},
        {"advance at a forward end", ActionAtItemEnd::Advance, 1.5, 1.6, 44, true, 1.0f, 1.4},
        {"pause", ActionAtItemEnd::Pause, kNaN, 2.1, 59, false, 0.0f, 2.0},
        {"none", ActionAtItemEnd::None, kNaN, 2.1, 59, false, 1.0f, 2.0},
    };
    FakeMediaScript shortClip;
    shortClip.duration = 2.0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        platform::ManualRunLoop caseLoop;
        FakeMediaFactory caseFactory(caseLoop);
        caseFactory.setScript("a.mov", shortClip);
        auto queue = std::dynamic_pointer_cast<FakeQueuePlayer>(caseFactory.makeQueuePlayer());
        auto a = caseFactory.makeItem(caseFactory.makeAsset("a.mov"));
        auto b = caseFactory.makeItem(caseFactory.makeAsset("b.mov"));
        a->setForwardPlaybackEndTime(c.forwardEnd);
        queue->setActionAtItemEnd(c.action);
        queue->insert(a);
        queue->insert(b);
        queue->play();
        std::vector<double> ends;
        std::vector<double> changes;
        auto endSub = a->onDidPlayToEnd([&] { ends.push_back(caseLoop.now().seconds()); });
        auto changeSub = queue->observeCurrentItem(
            [&](const auto&, const auto&) { changes.push_back(caseLoop.now().seconds()); });

        caseLoop.advance(c.endedAt - 0.01);
        EXPECT_EQ(queue->frameShownAt(platform::HostTime(c.endedAt - 1e-4)),
                  FakeFrame::of("a.mov", c.lastFrame));
        if (c.advanced) {
            // The next item is on screen from the end instant, before the loop handles it.
            EXPECT_EQ(queue->frameShownAt(platform::HostTime(c.endedAt)),
                      FakeFrame::of("b.mov", 0));
        }
        caseLoop.advance(3.0 - caseLoop.now().seconds());
        expectTimes(ends, {c.endedAt});
        expectTimes(changes, c.advanced ? std::vector<double>{c.endedAt} : std::vector<double>{});
        EXPECT_EQ(queue->current(), c.advanced ? b : a);
        EXPECT_EQ(queue->rateValue(), c.rateAfter);
        EXPECT_NEAR(queue->currentTime(), c.timeAt3, kExact);
    }
}

TEST_F(FakeMediaTest, LoopersSeamExactlyAtTheRangeEnd) {
    struct Case {
        const char* name;
        std::optional<TimeRange> range;
        std::optional<TimeRange> clamped;
        std::vector<double> seams;  // within 3.5 s
        int lastFrame;
        int firstFrame;
    };
    const Case cases[] = {
        {"range", TimeRange{2.0, 1.0}, TimeRange{2.0, 1.0}, {1.1, 2.1, 3.1}, 89, 59},
        // Clamping repositions the passes: the first seam moves by the seek's duration.
        {"end past the item",
         TimeRange{9.5, 2.5},
         TimeRange{9.5, 0.5},
         {0.65, 1.15, 1.65, 2.15, 2.65, 3.15},
         299,
         284},
        {"end at the start", TimeRange{8.0, 0.0}, TimeRange{8.0, 2.0}, {2.15}, 299, 239},
        {"whole item", std::nullopt, std::nullopt, {}, 299, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        platform::ManualRunLoop caseLoop;
        FakeMediaFactory caseFactory(caseLoop);
        auto queue = std::dynamic_pointer_cast<FakeQueuePlayer>(caseFactory.makeQueuePlayer());
        auto looper = caseFactory.makeLooper(
            queue, caseFactory.makeItem(caseFactory.makeAsset("loop.mov")), c.range);
        std::vector<double> seams;
        std::vector<std::shared_ptr<PlayerItem>> currents;
        auto sub = queue->observeCurrentItem([&](const auto&, const auto& newItem) {
            seams.push_back(caseLoop.now().seconds());
            currents.push_back(newItem);
        });
        queue->play();
        if (!c.seams.empty()) {
            const double seam = c.seams.front();
            caseLoop.advance(seam - 0.01);
            EXPECT_EQ(queue->frameShownAt(platform::HostTime(seam - 1e-4)),
                      FakeFrame::of("loop.mov", c.lastFrame));
            EXPECT_EQ(queue->frameShownAt(platform::HostTime(seam)),
                      FakeFrame::of("loop.mov", c.firstFrame));
        }
        caseLoop.advance(3.5 - caseLoop.now().seconds());
        EXPECT_EQ(looper->range(), c.clamped);
        EXPECT_EQ(looper->statusValue(), platform::media::LooperStatus::Ready);
        expectTimes(seams, c.seams);
        EXPECT_EQ(looper->loopCount(), static_cast<int>(c.seams.size()));
        const auto& passes = looper->loopingPlayerItems();
        for (std::size_t i = 0; i < currents.size(); ++i) {
            EXPECT_EQ(currents[i], passes[(i + 1) % 2]) << i;
        }
    }
}

TEST_F(FakeMediaTest, PicturesNameTheirFrameAndPassTheFilterInForce) {
    auto queue = player();
    auto clip = item("clip.mov");
    queue->insert(clip);
    queue->play();
    loop.advance(1.1);
    EXPECT_EQ(queue->frameShownAt(loop.now()), FakeFrame::of("clip.mov", 29));  // 1.0 s × 29.97

    const QRgb red = qRgb(255, 0, 0);
    clip->setFrameFilter(std::make_shared<const platform::FrameFilter>([red](QImage p) {
        p.setPixel(15, 8, red);
        return p;
    }));
    const QImage filtered = queue->frameAt(loop.now());
    EXPECT_EQ(filtered.pixel(15, 8), red);
    EXPECT_EQ(readFakeFrame(filtered), FakeFrame::of("clip.mov", 29));
    // A filter that changes the size is not applied.
    clip->setFrameFilter(std::make_shared<const platform::FrameFilter>(
        [](const QImage& p) { return p.scaled(4, 4); }));
    EXPECT_EQ(queue->frameAt(loop.now()).size(), QSize(16, 9));
    EXPECT_FALSE(readFakeFrame(QImage()).has_value());
}

}  // namespace
}  // namespace kestio::test
