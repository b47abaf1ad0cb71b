#include "output/external_monitor_content_view.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <chrono>
#include <ctime>
#include <string>
#include <vector>

#include "output/playback_slot.h"
#include "platform/media/player_layer.h"
#include "surface_rig.h"

namespace kestio::output {
namespace {

using platform::Layer;
using platform::RectF;
using platform::SizeF;

// 12:03:04.567 today, local time.
std::chrono::system_clock::time_point fixedTimeOfDay() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    local.tm_hour = 12;
    local.tm_min = 3;
    local.tm_sec = 4;
    local.tm_isdst = -1;
    return std::chrono::system_clock::from_time_t(std::mktime(&local)) +
           std::chrono::milliseconds(567);
}

// A mirror in a 1920×1080 window of an operator's view of 960×540 on a 1920×1080 canvas. The
// tests set the slots' layers by hand or make the surface's own transitions.
class ContentViewTest : public ::testing::Test {
  protected:
    ContentViewTest() {
        rig.wallClock->set(fixedTimeOfDay());
        rig.surface.rootLayer()->setFrame({0, 0, 960, 540});
        for (PlaybackSlot* slot : {&slotA(), &slotB()}) {
            slot->containerLayer()->setFrame({0, 0, 960, 540});
            slot->videoLayer()->setFrame({0, 0, 960, 540});
        }
        slotA().containerLayer()->setOpacity(1.0f);
        slotB().containerLayer()->setOpacity(0.0f);
        view = std::make_unique<ExternalMonitorContentView>(rig.loop, rig.surface,
                                                            SizeF{1920, 1080}, rig.wallClock);
        view->onLog = [this](const std::string& line) { lines.push_back(line); };
        view->layout({1920, 1080});
    }

    PlaybackSlot& slotA() { return rig.surface.slotA(); }
    PlaybackSlot& slotB() { return rig.surface.slotB(); }
    float shownA() { return view->slotLayer(true)->presentationOpacity(); }
    float shownB() { return view->slotLayer(false)->presentationOpacity(); }
    // What the audience sees of a slot: its unit over what lies beneath (B over A).
    float weightOfB() { return shownB(); }
    float weightOfA() { return (1.0f - shownB()) * shownA(); }

    test::SurfaceRig rig;
    std::unique_ptr<ExternalMonitorContentView> view;
    std::vector<std::string> lines;
};

TEST_F(ContentViewTest, TheCanvasIsCentredAndNeverEnlarged) {
    struct Case {
        SizeF window;
        SizeF canvas;
        RectF expected;
    };
    const Case cases[] = {
        {{3840, 2160}, {1920, 1080}, {960, 540, 1920, 1080}},  // fits: kept as it is
        {{1280, 1024}, {1920, 1080}, {0, 152, 1280, 720}},     // scaled by 1280 / 1920
        {{1920, 1200}, {3840, 2160}, {0, 60, 1920, 1080}},
        {{1000, 2000}, {1280, 720}, {0, 718.75, 1000, 562.5}},
        {{1920, 1080}, {1280, 720}, {320, 180, 1280, 720}},
    };
    for (const Case& c : cases) {
        view->setCanvasSize(c.canvas);
        view->layout(c.window);
        EXPECT_EQ(view->canvasLayer()->frame(), c.expected)
            << c.canvas.width << "x" << c.canvas.height << " in " << c.window.width << "x"
            << c.window.height;
    }
}

TEST_F(ContentViewTest, EmptySizesLeaveTheCanvasAndTheMirrorFramesAsTheyAre) {
    const RectF canvas = view->canvasLayer()->frame();
    const RectF unit = view->slotLayer(true)->frame();
    view->setCanvasSize({0, 1080});
    view->layoutCanvas();
    view->setCanvasSize({1920, 1080});
    view->layout({0, 0});
    EXPECT_EQ(view->canvasLayer()->frame(), canvas);
    view->layout({1920, 1080});
    rig.surface.rootLayer()->setFrame({0, 0, 0, 540});  // an empty operator's view
    slotA().containerLayer()->setFrame({10, 10, 100, 100});
    EXPECT_EQ(view->slotLayer(true)->frame(), unit);
}

TEST_F(ContentViewTest, MapsEachSlotsPlaceFromTheOperatorsViewOntoTheCanvas) {
    // A picture at half size in the canvas's centre, stretched, as custom geometry places it
    // in the 960×540 view: 480×270 at (240, 135). On the 1920×1080 canvas that is twice as big.
    slotB().containerLayer()->setFrame({240, 135, 480, 270});
    slotB().videoLayer()->setFrame({0, 0, 480, 270});
    slotB().videoLayer()->setVideoGravity(platform::Gravity::Resize);
    EXPECT_EQ(view->slotLayer(false)->frame(), (RectF{480, 270, 960, 540}));
    EXPECT_EQ(view->mirrorLayer(false)->frame(), (RectF{0, 0, 960, 540}));
    EXPECT_EQ(view->stillLayer(false)->frame(), (RectF{0, 0, 960, 540}));
    EXPECT_EQ(view->mirrorLayer(false)->videoGravity(), platform::Gravity::Resize);
    // A 1280×720 canvas squeezed into a 1280×1024 window gets two thirds of that.
    view->setCanvasSize({1920, 1080});
    view->layout({1280, 1024});
    EXPECT_EQ(view->slotLayer(false)->frame(), (RectF{320, 180, 640, 360}));
    // Slot A, untouched, fills the canvas.
    EXPECT_EQ(view->slotLayer(true)->frame(), (RectF{0, 0, 1280, 720}));
}

TEST_F(ContentViewTest, ShowsTheSlotsOwnPictureSourcesAndFollowsVisibility) {
    // The very sources of the slots' players: nothing is decoded a second time.
    EXPECT_EQ(view->mirrorLayer(true)->frameSource().get(),
              static_cast<const platform::FrameSource*>(slotA().playerLayerSource().get()));
    EXPECT_EQ(view->mirrorLayer(false)->frameSource().get(),
              static_cast<const platform::FrameSource*>(slotB().playerLayerSource().get()));
    EXPECT_EQ(view->slotLayer(true)->opacity(), 1.0f);
    EXPECT_EQ(view->slotLayer(false)->opacity(), 0.0f);
    slotB().containerLayer()->setOpacity(0.25f);
    slotA().videoLayer()->setHidden(true);
    EXPECT_EQ(view->slotLayer(false)->opacity(), 0.25f);
    EXPECT_TRUE(view->mirrorLayer(true)->isHidden());
    slotA().videoLayer()->setHidden(false);
    EXPECT_FALSE(view->mirrorLayer(true)->isHidden());
    // Slot B's picture lies above slot A's, and each still above its own video.
    EXPECT_LT(view->slotLayer(true)->zPosition(), view->slotLayer(false)->zPosition());
    const auto& unit = view->slotLayer(true)->sublayers();
    ASSERT_EQ(unit.size(), 2u);
    EXPECT_EQ(unit[0], view->mirrorLayer(true));
    EXPECT_EQ(unit[1], view->stillLayer(true));
}

TEST_F(ContentViewTest, AStillAppearsWithItsSlotAndGoesWhenCleared) {
    QImage red(16, 9, QImage::Format_RGB32);
    red.fill(Qt::red);
    slotB().containerLayer()->setContents(red);
    EXPECT_EQ(view->stillLayer(false)->contents().cacheKey(), red.cacheKey());
    EXPECT_EQ(view->stillLayer(false)->opacity(), 1.0f);
    // Hidden with its slot (opacity 0), then seen as the slot comes in.
    EXPECT_EQ(view->slotLayer(false)->opacity(), 0.0f);
    slotB().containerLayer()->setOpacity(1.0f);
    EXPECT_EQ(view->slotLayer(false)->opacity(), 1.0f);
    slotB().containerLayer()->setContents(QImage());
    EXPECT_TRUE(view->stillLayer(false)->contents().isNull());
    EXPECT_EQ(view->stillLayer(false)->opacity(), 0.0f);
}

TEST_F(ContentViewTest, ACutShowsTheIncomingSlotAndLogsIt) {
    slotA().containerLayer()->setOpacity(0.0f);
    slotB().containerLayer()->setOpacity(1.0f);
    rig.surface.onCutStarted(false);
    EXPECT_EQ(view->slotLayer(true)->opacity(), 0.0f);
    EXPECT_EQ(view->slotLayer(false)->opacity(), 1.0f);
    EXPECT_TRUE(lines.empty());  // handed over on a later turn
    rig.loop.runPending();
    EXPECT_EQ(lines,
              (std::vector<std::string>{"[12:03:04.567] [EXT] CUT \u2192 incoming=B",
                                        "[12:03:04.567] [EXT] CUT done  mirrorA=0.0 mirrorB=1.0"}));
}

TEST_F(ContentViewTest, AWarmUpCutKeepsTheIncomingSlotDarkAsTheSurfaceDoes) {
    rig.surface.setIsWarming(true);
    rig.surface.take({false, 0.0});
    EXPECT_EQ(view->slotLayer(false)->opacity(), 0.0f);
    EXPECT_EQ(view->slotLayer(true)->opacity(), 0.0f);
}

// The transitions below are the surface's own (its take), which the mirror follows.
TEST_F(ContentViewTest, ADissolveTowardBFadesBInOverAFullAAsTheSurfaceDoes) {
    rig.surface.take({true, 1.0});
    EXPECT_TRUE(view->isDissolving());
    rig.loop.advance(0.5);
    // Half-way through an eased fade: half of each, and A still fully lit beneath.
    EXPECT_NEAR(weightOfB(), 0.5f, 1e-4);
    EXPECT_NEAR(weightOfA(), 0.5f, 1e-4);
    EXPECT_EQ(shownA(), 1.0f);
    EXPECT_EQ(shownB(), rig.shown(slotB()));
    rig.loop.advance(0.549);
    EXPECT_TRUE(view->isDissolving());
    EXPECT_EQ(shownB(), 1.0f);
    rig.loop.advance(0.002);
    EXPECT_FALSE(view->isDissolving());
    EXPECT_EQ(view->slotLayer(true)->opacity(), 0.0f);
    EXPECT_EQ(view->slotLayer(false)->opacity(), 1.0f);
    EXPECT_TRUE(view->slotLayer(false)->animationKeys().empty());
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "[12:03:04.567] [EXT] DISSOLVE start duration=1.00s incoming=B",
                         "[12:03:04.567] [EXT] DISSOLVE done  mirrorA=0.0 mirrorB=1.0"}));
    // The source is followed.
    slotB().containerLayer()->setOpacity(0.75f);
    EXPECT_EQ(view->slotLayer(false)->opacity(), 0.75f);
}

TEST_F(ContentViewTest, ADissolveTowardAShowsAAtOnceUnderBFadingOut) {
    rig.surface.take({false, 0.0});
    rig.surface.take({true, 2.0});
    EXPECT_EQ(shownA(), 1.0f);
    EXPECT_NEAR(shownB(), 1.0f, 1e-6);
    rig.loop.advance(1.0);
    EXPECT_NEAR(shownB(), 0.5f, 1e-4);
    EXPECT_EQ(shownB(), rig.shown(slotB()));
    rig.loop.advance(1.051);
    EXPECT_FALSE(view->isDissolving());
    EXPECT_EQ(shownA(), 1.0f);
    EXPECT_EQ(shownB(), 0.0f);
}

TEST_F(ContentViewTest, FadesBeginWhenTheSurfacesDo) {
    // A slot B fading in from 0.2 s from now, as the surface's fades begin at the incoming
    // clip's start.
    auto fade = OutputSurface::makeOpacityAnimation(0.0f, 1.0f, 1.0);
    fade.beginTime = rig.loop.now() + 0.2;
    slotB().containerLayer()->addAnimation(PlaybackSlot::kFadeIn, fade);
    rig.surface.onDissolveStarted(false, 1.0f, 1.0, rig.loop.now() + 0.2);
    rig.loop.advance(0.2);
    EXPECT_EQ(shownB(), 0.0f);
    rig.loop.advance(0.5);
    EXPECT_NEAR(shownB(), 0.5f, 1e-4);
    rig.loop.advance(0.549);
    EXPECT_TRUE(view->isDissolving());
    rig.loop.advance(0.002);
    EXPECT_FALSE(view->isDissolving());
}

TEST_F(ContentViewTest, OnlyTheLatestTransitionsEndActs) {
    rig.surface.take({true, 1.0});
    rig.loop.advance(0.3);
    const float bNow = shownB();
    rig.surface.take({true, 1.0});
    EXPECT_NEAR(shownB(), bNow, 1e-6);  // it goes on from what is on screen
    rig.loop.advance(0.75);             // past the first one's end step
    EXPECT_TRUE(view->isDissolving());
    EXPECT_GT(shownB(), 0.0f);
    rig.loop.advance(0.3);
    EXPECT_FALSE(view->isDissolving());
    EXPECT_EQ(shownA(), 1.0f);
    EXPECT_EQ(shownB(), 0.0f);

    // A cut during a cross-fade ends it: no end step follows.
    rig.surface.take({true, 1.0});
    rig.loop.advance(0.5);
    rig.surface.take({false, 0.0});
    EXPECT_FALSE(view->isDissolving());
    EXPECT_EQ(shownA(), 1.0f);
    EXPECT_EQ(shownB(), 0.0f);
    rig.loop.runPending();
    lines.clear();
    rig.loop.advance(1.0);
    EXPECT_TRUE(lines.empty());
}

TEST_F(ContentViewTest, GoneViewsLeaveTheSurfacesCallbacksHarmless) {
    rig.surface.onDissolveStarted(false, 1.0f, 1.0, rig.loop.now());
    view.reset();
    rig.surface.onCutStarted(true);
    rig.surface.onDissolveStarted(true, 1.0f, 1.0, rig.loop.now());
    slotA().containerLayer()->setOpacity(0.5f);
    rig.loop.advance(2.0);
    EXPECT_EQ(rig.loop.pendingCount(), 0u);
}

}  // namespace
}  // namespace kestio::output
