// The audience's picture against the operator's: the output surface and its mirror, each
// composed by a presenter of its own on the run loop's clock, compared pixel by pixel at the same
// refreshes through cuts, dissolves, stills and a playing clip.

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>
#include <set>
#include <utility>

#include "output/external_monitor_content_view.h"
#include "output/playback_slot.h"
#include "output/video_color_compositor.h"
#include "platform/graphics/layer_snapshot.h"
#include "platform/graphics/presenter.h"
#include "platform/graphics/shared_compositions.h"
#include "platform/media/player_layer.h"
#include "surface_rig.h"

namespace kestio::output {
namespace {

using platform::HostTime;
using platform::Presenter;
using platform::SizeF;
using platform::SnapshotPublisher;

constexpr double kRate = 64.0;  // a refresh period exact in binary
constexpr double kWait = 20.0;  // wall seconds, a guard only

QImage solid(QColor colour) {
    QImage image(32, 18, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

// The largest difference of any channel of any pixel.
int largestDifference(const QImage& a, const QImage& b) {
    if (a.size() != b.size()) {
        return 256;
    }
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    int worst = 0;
    for (int row = 0; row < x.height(); ++row) {
        const auto* p = reinterpret_cast<const QRgb*>(x.constScanLine(row));
        const auto* q = reinterpret_cast<const QRgb*>(y.constScanLine(row));
        for (int col = 0; col < x.width(); ++col) {
            worst = std::max({worst, std::abs(qRed(p[col]) - qRed(q[col])),
                              std::abs(qGreen(p[col]) - qGreen(q[col])),
                              std::abs(qBlue(p[col]) - qBlue(q[col]))});
        }
    }
    return worst;
}

// The operator's view at 192×108 and the output window at 384×216 showing a 1920×1080 canvas
// (fitted down to 384×216), each composed at its own size; the mirror's picture is compared
// at the operator's size.
class MirrorPixelsTest : public ::testing::Test {
  protected:
    MirrorPixelsTest()
        : surfacePublisher(rig.loop),
          mirrorPublisher(rig.loop),
          surfacePresenter(rig.loop.hostClock()),
          mirrorPresenter(rig.loop.hostClock()) {
        rig.surface.setViewSize({192, 108});
        view = std::make_unique<ExternalMonitorContentView>(rig.loop, rig.surface,
                                                            SizeF{1920, 1080}, rig.wallClock);
        view->layout({384, 216});
        surfacePublisher.setRoot(rig.surface.rootLayer());
        mirrorPublisher.setRoot(view->rootLayer());
        surfacePresenter.setSource(surfacePublisher.slot());
        mirrorPresenter.setSource(mirrorPublisher.slot());
        surfacePresenter.setSize({192, 108});
        mirrorPresenter.setSize({384, 216});
        start = rig.loop.now();
        for (Presenter* p : {&surfacePresenter, &mirrorPresenter}) {
            p->setRefreshRate(kRate);
            p->start();
            // Its refreshes count from when its thread begins: before the clock moves.
            EXPECT_TRUE(p->waitForRefresh(1, kWait));
        }
    }
    ~MirrorPixelsTest() override {
        surfacePresenter.stop();
        mirrorPresenter.stop();
    }

    // Moves the clock on by whole refreshes and takes both presenters' pictures of the refresh
    // then being composed.
    void advanceRefreshes(int refreshes) {
        rig.loop.advance(refreshes / kRate);
        const auto current = std::uint64_t(std::llround((rig.loop.now() - start) * kRate)) + 1;
        ASSERT_TRUE(surfacePresenter.waitForRefresh(current, kWait))
            << "newest " << surfacePresenter.newestFrame().refresh << " wanted " << current
            << " now " << (rig.loop.now() - start);
        ASSERT_TRUE(mirrorPresenter.waitForRefresh(current, kWait));
        const auto s = surfacePresenter.newestFrame();
        const auto m = mirrorPresenter.newestFrame();
        ASSERT_EQ(s.refresh, current);
        ASSERT_EQ(m.refresh, current);
        surfacePicture = s.image;
        mirrorPicture = m.image.scaled(192, 108, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    QColor centreOf(const QImage& image) { return image.pixelColor(96, 54); }
    void expectSamePicture(const char* when) {
        SCOPED_TRACE(when);
        EXPECT_LE(largestDifference(surfacePicture, mirrorPicture), 3);
    }

    test::SurfaceRig rig;
    std::unique_ptr<ExternalMonitorContentView> view;
    SnapshotPublisher surfacePublisher;
    SnapshotPublisher mirrorPublisher;
    Presenter surfacePresenter;
    Presenter mirrorPresenter;
    HostTime start;
    QImage surfacePicture;
    QImage mirrorPicture;
};

TEST_F(MirrorPixelsTest, TheMirrorFollowsACutADissolveAndAStillDissolvedInOnB) {
    rig.surface.slotA().showStill(solid(Qt::red), ColorSettings{});
    rig.surface.prepareForPlay(false);  // A on air
    advanceRefreshes(1);
    EXPECT_EQ(centreOf(surfacePicture), QColor(Qt::red));
    expectSamePicture("a still on A");

    rig.surface.slotB().showStill(solid(Qt::blue), ColorSettings{});
    rig.surface.cut(rig.surface.slotB());
    advanceRefreshes(1);
    EXPECT_EQ(centreOf(surfacePicture), QColor(Qt::blue));
    expectSamePicture("cut to B");

    rig.surface.slotA().showStill(solid(Qt::green), ColorSettings{});
    rig.surface.dissolve(rig.surface.slotA(), 1.0);
    for (int i = 0; i < 4; ++i) {
        advanceRefreshes(16);  // a quarter of a second
        expectSamePicture("dissolving toward A");
        if (i == 1) {
            // Half-way: half of each, no darker than either (the operator's view never dips).
            const QColor c = centreOf(surfacePicture);
            EXPECT_NEAR(c.green() + c.blue(), 255, 3);
            EXPECT_GT(c.green(), 100);
            EXPECT_GT(c.blue(), 100);
        }
    }
    advanceRefreshes(8);
    EXPECT_EQ(centreOf(surfacePicture), QColor(Qt::green));
    expectSamePicture("after the dissolve toward A");

    // A still dissolved in on B shows on the audience's output exactly as on the surface.
    rig.surface.slotB().showStill(solid(Qt::yellow), ColorSettings{});
    rig.surface.dissolve(rig.surface.slotB(), 0.5);
    advanceRefreshes(16);
    const QColor mid = centreOf(mirrorPicture);
    EXPECT_GT(mid.red(), 100);  // the yellow still is coming in
    expectSamePicture("a still dissolving in on B");
    advanceRefreshes(32);
    EXPECT_EQ(centreOf(mirrorPicture), QColor(Qt::yellow));
    expectSamePicture("after the dissolve toward B");
}

// The colour values of a still on air change as a slider moves them: only the slot's values
// are set, the still is corrected in the background, and the next refresh after that shows it
// corrected on both the surface and the mirror.
TEST_F(MirrorPixelsTest, AColourChangeOnAStillOnAirReachesBothPictures) {
    const QImage orange = solid(QColor(220, 120, 40));
    rig.surface.slotA().showStill(orange, ColorSettings{});
    rig.surface.prepareForPlay(false);  // A on air
    advanceRefreshes(1);
    EXPECT_EQ(centreOf(surfacePicture), QColor(220, 120, 40));

    VideoColorCompositor reference(rig.loop);
    ColorSettings settings;
    for (const float saturation : {0.0f, 0.5f, 1.6f}) {
        settings.saturation = saturation;
        settings.redGain = 1.0f + saturation / 4;
        SCOPED_TRACE(saturation);
        rig.surface.slotA().colorSettingsBox().setValue(settings);
        EXPECT_EQ(rig.surface.slotA().containerLayer()->contents().cacheKey(), orange.cacheKey())
            << "the still itself is left as it is";
        advanceRefreshes(1);
        rig.surface.compositor().finishStillWork();
        advanceRefreshes(1);
        const QColor expected = reference.applyToStill(orange, settings).pixelColor(0, 0);
        EXPECT_EQ(centreOf(surfacePicture), expected);
        EXPECT_EQ(centreOf(mirrorPicture), expected);
        expectSamePicture("after a colour change");
    }
}

TEST_F(MirrorPixelsTest, AClipPlayingInASlotShowsTheSamePictureInTheMirror) {
    rig.surface.slotA().load("clip.mov", 0.0, std::nullopt, ColorSettings{});
    rig.surface.slotA().clipPlayer().play(rig.surface.slotA().currentClip(),
                                          platform::ItemTime(0.0),
                                          platform::ClockTime(rig.loop.now().seconds()));
    rig.surface.prepareForPlay(true);
    advanceRefreshes(32);
    ASSERT_FALSE(rig.surface.slotA().playerLayerSource()->frameAt(rig.loop.now()).isNull())
        << "the clip never showed a picture";
    const auto shown =
        test::readFakeFrame(rig.surface.slotA().playerLayerSource()->frameAt(rig.loop.now()));
    ASSERT_TRUE(shown.has_value());
    EXPECT_NE(centreOf(surfacePicture), QColor(Qt::black));
    expectSamePicture("a playing clip");
    advanceRefreshes(20);
    expectSamePicture("the same clip later");
}

}  // namespace
}  // namespace kestio::output

namespace kestio::output {
namespace {

// A decoder's pictures: each frame one image, handed out again for as long as it shows (the
// scripted players make a new image at each call).
class DecodedPictures final : public platform::FrameSource {
  public:
    DecodedPictures() {
        for (QColor colour : {Qt::darkRed, Qt::darkGreen, Qt::darkBlue, Qt::darkCyan}) {
            pictures_.push_back(solid(colour));
        }
    }
    QImage frameAt(HostTime time) const override {
        return pictures_[std::size_t(std::llround(time.seconds() * 24.0)) % pictures_.size()];
    }

  private:
    std::vector<QImage> pictures_;
};

// An output window the size of an operator's view of the surface, sharing that view's drawings:
// each picture of a playing clip, a dissolve to another and a cut is drawn once between the two,
// and both show the very same image. (A still scaled to the view is scaled by each presenter's
// own compositor, so views of a still draw it each.)
TEST(MirrorSharingTest, AtTheSurfacesSizeTheMirrorShowsTheSurfacesDrawings) {
    test::SurfaceRig rig;
    rig.surface.setViewSize({384, 216});
    ExternalMonitorContentView view(rig.loop, rig.surface, SizeF{1920, 1080}, rig.wallClock);
    view.layout({384, 216});
    SnapshotPublisher surfaceTree(rig.loop);
    SnapshotPublisher mirrorTree(rig.loop);
    surfaceTree.setRoot(rig.surface.rootLayer());
    mirrorTree.setRoot(view.rootLayer());
    auto shared = std::make_shared<platform::SharedCompositions>();
    Presenter surface(rig.loop.hostClock());
    Presenter mirror(rig.loop.hostClock());
    surface.setSource(surfaceTree.slot(), shared);
    mirror.setSource(mirrorTree.slot(), shared);
    const HostTime start = rig.loop.now();
    for (Presenter* p : {&surface, &mirror}) {
        p->setSize({384, 216});
        p->setRefreshRate(kRate);
        p->start();
        ASSERT_TRUE(p->waitForRefresh(1, kWait));
    }

    // The clip on A: the mirror's video layer shows the slot's source, as it always does.
    const auto clip = std::make_shared<DecodedPictures>();
    rig.surface.slotA().videoLayer()->setFrameSource(clip);
    view.mirrorLayer(true)->setFrameSource(clip);
    rig.surface.prepareForPlay(true);
    int compared = 0;
    std::set<std::uint64_t> settling;
    // `settles`: the refreshes between the end of the surface's fade and the mirror's end step,
    // where the mirror still draws the outgoing slot under the incoming one at full opacity and
    // the surface no longer does: the same pixels, drawn each.
    const auto step = [&](int refreshes, const char* when, bool settles = false) {
        SCOPED_TRACE(when);
        for (int i = 0; i < refreshes; ++i) {
            rig.loop.advance(1.0 / kRate);
            const auto current = std::uint64_t(std::llround((rig.loop.now() - start) * kRate)) + 1;
            ASSERT_TRUE(surface.waitForRefresh(current, kWait));
            ASSERT_TRUE(mirror.waitForRefresh(current, kWait));
            const auto s = surface.newestFrame();
            const auto m = mirror.newestFrame();
            ASSERT_EQ(s.refresh, m.refresh);
            if (settles) {
                settling.insert(s.refresh);
                continue;
            }
            EXPECT_EQ(s.image.cacheKey(), m.image.cacheKey()) << "refresh " << s.refresh;
            ++compared;
        }
    };
    step(16, "a playing clip");
    const auto nextClip = std::make_shared<DecodedPictures>();
    rig.surface.slotB().videoLayer()->setFrameSource(nextClip);
    view.mirrorLayer(false)->setFrameSource(nextClip);
    rig.surface.dissolve(rig.surface.slotB(), 0.25);
    step(16, "dissolving to the clip on B");
    step(4, "the dissolve's end steps", true);
    step(4, "after the dissolve");
    rig.surface.cut(rig.surface.slotA());
    step(4, "cut to A");
    surface.stop();
    mirror.stop();

    // Each composing of a refresh (on its turn, or again for a snapshot stored before its time)
    // was drawn once between the two presenters, never by both. The two trees' snapshots are
    // stored one after the other: a refresh composed between the two stores draws the surface's
    // new tree and the mirror's old one, each their own, and is composed again by the one that
    // drew the old tree; only such a refresh may be drawn by both.
    std::map<std::pair<std::uint64_t, bool>, int> drawings;
    std::set<std::uint64_t> composedAgain;
    for (Presenter* p : {&surface, &mirror}) {
        for (const platform::RefreshRecord& r : p->takeRecords()) {
            drawings[{r.refresh, r.recomposed}] += r.drawn ? 1 : 0;
            if (r.recomposed) {
                composedAgain.insert(r.refresh);
            }
        }
    }
    EXPECT_EQ(compared, 40);
    for (const auto& [composing, drawn] : drawings) {
        const std::uint64_t refresh = composing.first;
        const bool mayBeDrawnTwice = settling.count(refresh) || composedAgain.count(refresh);
        EXPECT_LE(drawn, mayBeDrawnTwice ? 2 : 1) << "refresh " << refresh << " was drawn by both";
    }
}

}  // namespace
}  // namespace kestio::output
