// The output surface shown as the program shows it: a layer view over the surface's root layer,
// its presenter composing on its own thread, paced by the run loop's virtual clock. Each step of
// the clock by one refresh period lets the presenter compose exactly one more refresh, read back
// by frame number and colour.

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <cmath>
#include <memory>

#include "output/output_surface.h"
#include "platform/audio/audio_engine.h"
#include "platform/media/decoded_media_factory.h"
#include "platform/media/decoded_player_item.h"
#include "platform/runloop/manual_run_loop.h"
#include "platform/ui/layer_view.h"
#include "support/frame_number_strip.h"
#include "support/media_fixtures.h"
#include "support/null_audio_device.h"
#include "support/playback_test_support.h"

namespace kestio::output {
namespace {

using platform::media::DecodedPlayerItem;
using platform::media::testing::runUntil;
using platform::media::testing::waitForDecoded;

constexpr double kRefresh = 50.0;
constexpr double kPeriod = 1.0 / kRefresh;
constexpr double kWait = 20.0;  // seconds of real time, generous

// The ease-in-ease-out curve, a cubic Bézier through (0,0), (0.42,0), (0.58,1), (1,1), solved
// here by bisection: the share of the change at time fraction `x`.
double easeInEaseOut(double x) {
    if (x <= 0.0) {
        return 0.0;
    }
    if (x >= 1.0) {
        return 1.0;
    }
    const auto bezier = [](double t, double p1, double p2) {
        const double u = 1.0 - t;
        return 3.0 * u * u * t * p1 + 3.0 * u * t * t * p2 + t * t * t;
    };
    double lo = 0.0;
    double hi = 1.0;
    for (int i = 0; i < 60; ++i) {
        const double mid = 0.5 * (lo + hi);
        (bezier(mid, 0.42, 0.58) < x ? lo : hi) = mid;
    }
    return bezier(0.5 * (lo + hi), 0.0, 1.0);
}

class OutputSurfaceOnAView : public ::testing::Test {
  protected:
    OutputSurfaceOnAView() {
        view.onLayout = [this](platform::SizeF) { surface.layout(); };
        view.setRootLayer(surface.rootLayer());
        view.setFrameRate(kRefresh);
        view.resize(320, 180);
        view.show();
        EXPECT_TRUE(view.presenter().waitForRefresh(1, kWait));
        refresh = view.presenter().newestFrame().refresh;
    }

    // Publishes what changed, moves the clock on to the presentation time of the refresh last
    // composed (the presenter then composes the next one, and only that one) and returns the
    // picture of that next refresh.
    platform::PresentedFrame nextRefresh() {
        loop.runPending();
        const double shownAt = view.presenter().newestFrame().targetTime.seconds();
        loop.advance(std::max(0.0, shownAt - loop.now().seconds()) + 1e-7);
        EXPECT_TRUE(view.presenter().waitForRefresh(refresh + 1, kWait)) << "no refresh composed";
        const auto frame = view.presenter().newestFrame();
        EXPECT_EQ(frame.refresh, refresh + 1) << "a refresh was skipped";
        refresh = frame.refresh;
        return frame;
    }

    // Loads `path` into `slot` and waits until its picture at `at` is decoded and displayable.
    void loadReady(PlaybackSlot& slot, const std::filesystem::path& path, double at,
                   const ColorSettings& colors = {}) {
        slot.load(path, 0.0, std::nullopt, colors);
        auto item = std::dynamic_pointer_cast<DecodedPlayerItem>(slot.player()->current());
        ASSERT_TRUE(item);
        ASSERT_TRUE(runUntil(
            loop, [&] { return item->statusValue() != platform::media::ItemStatus::Unknown; }));
        if (at > 0.0) {
            bool landed = false;
            slot.player()->seek(at, 0.0, 0.0, [&landed](bool) { landed = true; });
            ASSERT_TRUE(runUntil(loop, [&] { return landed; }));
        }
        ASSERT_TRUE(waitForDecoded(loop, *item, item->currentTime()));
        ASSERT_TRUE(runUntil(loop, [&] { return slot.playerLayer().readyForDisplay(); }));
    }

    static QImage solid(QColor colour) {
        QImage image(160, 90, QImage::Format_RGB32);
        image.fill(colour);
        return image;
    }

    platform::ManualRunLoop loop{platform::HostTime(5.0)};
    std::shared_ptr<test::NullAudioDevice> device =
        std::make_shared<test::NullAudioDevice>(48000.0, 2, "Null Output", loop.hostClock());
    platform::media::DecodedMediaFactory media{loop};
    OutputSurface surface{OutputSurface::Services{loop, device, media}};
    platform::LayerView view{loop};
    std::uint64_t refresh = 0;
};

// On air: frame 30 of a clip. Slot B holds the same clip at its first frame, corrected to grey.
// The refresh composed after the cut shows B's first picture, corrected: no black refresh, no
// refresh of the old clip, and it stays.
TEST_F(OutputSurfaceOnAView, ACutShowsTheNewClipsFirstPictureOnTheNextRefresh) {
    const auto& clip = test::mediaFixtures().rateClip({30, 1});
    loadReady(surface.slotA(), clip.path, 1.0);
    surface.prepareForPlay(true);
    ColorSettings grey;
    grey.saturation = 0.0f;
    loadReady(surface.slotB(), clip.path, 0.0, grey);
    ASSERT_EQ(test::readFrameNumber(nextRefresh().image), 30);

    surface.cut(surface.slotB());
    for (int k = 0; k < 3; ++k) {
        SCOPED_TRACE("refresh " + std::to_string(k) + " after the cut");
        const QImage shown = nextRefresh().image;
        ASSERT_FALSE(shown.isNull());
        EXPECT_EQ(test::readFrameNumber(shown), 0);
        const QRgb quadrant = shown.pixel(80, 110);  // the red quadrant, below the number strip
        EXPECT_GT(qRed(quadrant), 40) << "black";
        EXPECT_NEAR(qRed(quadrant), qGreen(quadrant), 2) << "uncorrected";
        EXPECT_NEAR(qGreen(quadrant), qBlue(quadrant), 2) << "uncorrected";
    }
}

// A one-second dissolve asked to begin at an engine-clock time 0.1 s ahead: every refresh
// shows the outgoing picture until the begin time, then the two mixed as the eased curve says at
// the refresh's presentation time, then the incoming one alone. Both directions (B fades in over
// A; B fades out to uncover A).
TEST_F(OutputSurfaceOnAView, ADissolveFollowsItsCurveFromItsBeginTime) {
    const QColor red(200, 0, 0);
    const QColor blue(0, 0, 100);
    for (const bool toB : {true, false}) {
        SCOPED_TRACE(toB ? "to B" : "to A");
        surface.stopAll();
        PlaybackSlot& from = toB ? surface.slotA() : surface.slotB();
        PlaybackSlot& to = toB ? surface.slotB() : surface.slotA();
        if (toB) {
            surface.prepareForPlay(true);
        } else {
            surface.cut(surface.slotB());
        }
        from.showStill(solid(red), {});
        to.showStill(solid(blue), {});
        ASSERT_EQ(nextRefresh().image.pixelColor(160, 90), red);

        const auto& clock = *surface.sharedEngine().clock();
        const platform::ClockTime at = clock.timeAt(loop.now()) + 0.1;
        const double begin = clock.hostTimeAt(at).seconds();
        surface.dissolve(to, 1.0, at);
        int mixed = 0;
        while (loop.now().seconds() < begin + 1.2) {
            const auto frame = nextRefresh();
            const double share = easeInEaseOut(frame.targetTime.seconds() - begin);
            const QColor shown = frame.image.pixelColor(160, 90);
            SCOPED_TRACE("refresh at " + std::to_string(frame.targetTime.seconds() - begin));
            // Opacities are blended in 8 bits: within two steps of the exact mix.
            EXPECT_NEAR(shown.red(), 200.0 * (1.0 - share), 2.5);
            EXPECT_EQ(shown.green(), 0);
            EXPECT_NEAR(shown.blue(), 100.0 * share, 2.5);
            mixed += share > 0.0 && share < 1.0;
        }
        EXPECT_GE(mixed, 45);
        EXPECT_EQ(nextRefresh().image.pixelColor(160, 90), blue);
    }
}

}  // namespace
}  // namespace kestio::output
