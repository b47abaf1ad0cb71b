#include "output/external_monitor_controller.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "output/external_monitor_content_view.h"
#include "support/fake_output_window.h"
#include "support/fake_screen_provider.h"
#include "surface_rig.h"

namespace kestio::output {
namespace {

using platform::ScreenDescriptor;
using platform::SizeF;
using test::FakeScreenProvider;

const ScreenDescriptor kLaptop = FakeScreenProvider::screen("eDP-1", {0, 0, 1440, 900}, 2.0);
const ScreenDescriptor kHdmi =
    FakeScreenProvider::screen("HDMI-1", {1440, 0, 1920, 1080}, 1.0, 60.0, "Projector");
const ScreenDescriptor kDp = FakeScreenProvider::screen("DP-2", {3360, 0, 1280, 1024}, 1.0, 75.0);

std::vector<std::uint32_t> idsOf(const std::vector<ScreenInfo>& screens) {
    std::vector<std::uint32_t> ids;
    for (const ScreenInfo& s : screens) {
        ids.push_back(s.id);
    }
    return ids;
}

class ExternalMonitorControllerTest : public ::testing::Test {
  protected:
    ExternalMonitorControllerTest() {
        screens.list = {kLaptop, kHdmi, kDp};
        screens.mainId = kLaptop.id;
    }

    ExternalMonitorController& controller() {
        if (!controller_) {
            controller_ = std::make_unique<ExternalMonitorController>(
                rig.loop, screens, windows.factory(), rig.wallClock);
        }
        return *controller_;
    }
    ScreenInfo info(const ScreenDescriptor& d) { return ScreenInfo::fromDescriptor(d); }

    test::SurfaceRig rig;
    FakeScreenProvider screens;
    test::FakeOutputWindowFactory windows;
    std::unique_ptr<ExternalMonitorController> controller_;
};

TEST_F(ExternalMonitorControllerTest, ListsTheScreensOtherThanTheMainOneByIdInPlatformOrder) {
    struct Case {
        const char* what;
        std::vector<ScreenDescriptor> list;
        std::uint32_t mainId;
        std::vector<std::uint32_t> expected;
    };
    const Case cases[] = {
        {"only the main display", {kLaptop}, kLaptop.id, {}},
        {"two externals after the main one", {kLaptop, kHdmi, kDp}, kLaptop.id, {kHdmi.id, kDp.id}},
        {"the main display in the middle", {kDp, kLaptop, kHdmi}, kLaptop.id, {kDp.id, kHdmi.id}},
        {"an external made the main display",
         {kLaptop, kHdmi, kDp},
         kHdmi.id,
         {kLaptop.id, kDp.id}},
        {"no display", {}, 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        screens.list = c.list;
        screens.mainId = c.mainId;
        controller().refreshScreens();
        EXPECT_EQ(idsOf(controller().availableScreens.get()), c.expected);
    }
}

TEST_F(ExternalMonitorControllerTest, ListsAndPresentsOnAnXScreenNamedAsTheMainOne) {
    // An X server's two screens: both "screen", both at the origin.
    screens.list = {FakeScreenProvider::screen("screen", {0, 0, 1920, 1080}),
                    FakeScreenProvider::screen("screen", {0, 0, 1280, 1024})};
    screens.mainId = screens.screens().at(0).id;
    const std::vector<ScreenInfo>& listed = controller().availableScreens.get();
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].nativeSize, (SizeF{1280.0, 1024.0}));
    EXPECT_NE(listed[0].id, screens.mainId);

    controller().present(listed[0], rig.surface, {1920.0, 1080.0});
    ASSERT_EQ(windows.made.size(), 1u);
    EXPECT_EQ(windows.made[0]->screen.geometry, QRect(0, 0, 1280, 1024));
    EXPECT_TRUE(controller().isPresenting.get());
    // Listed again, it is the same screen: the window stays.
    screens.announceChange();
    rig.loop.runPending();
    EXPECT_TRUE(controller().isPresenting.get());
    EXPECT_TRUE(windows.made[0]->visible);
}

TEST(ScreenInfoTest, DescribesADisplayInPointsAndPixels) {
    const ScreenInfo retina = ScreenInfo::fromDescriptor(
        FakeScreenProvider::screen("DP-1", {0, 0, 1440, 900}, 2.0, 0.0, "Studio"));
    EXPECT_EQ(retina.name, "Studio");
    EXPECT_EQ(retina.nativeSize, (SizeF{1440.0, 900.0}));
    EXPECT_EQ(retina.physicalSize, (SizeF{2880.0, 1800.0}));
    EXPECT_EQ(retina.backingScale, 2.0);
    EXPECT_EQ(retina.refreshRate, 0.0);  // the mode could not be read
    EXPECT_EQ(retina.resolutionLabel(), "1440\u00D7900");

    ScreenInfo odd;
    odd.nativeSize = {1279.9, 719.5};
    EXPECT_EQ(odd.resolutionLabel(), "1279\u00D7719");  // fractions dropped, not rounded
    odd.nativeSize = {std::numeric_limits<double>::infinity(), 1e300};
    EXPECT_EQ(odd.resolutionLabel(), "0\u00D70");

    EXPECT_EQ(ScreenInfo::fromDescriptor(
                  FakeScreenProvider::screen("X", {0, 0, 10, 10}, 1.0,
                                             std::numeric_limits<double>::quiet_NaN()))
                  .refreshRate,
              0.0);
    EXPECT_FALSE(ExternalMonitorController::makeScreenInfo(kLaptop, kLaptop.id).has_value());
    EXPECT_EQ(ExternalMonitorController::makeScreenInfo(kHdmi, kLaptop.id),
              ScreenInfo::fromDescriptor(kHdmi));
}

TEST_F(ExternalMonitorControllerTest, RefreshesOnALaterTurnAfterEveryScreenChange) {
    int published = 0;
    auto sub = controller().availableScreens.subscribe([&](const auto&) { ++published; });
    screens.list = {kLaptop, kDp};
    screens.announceChange();
    // Never inside the platform's notification.
    EXPECT_EQ(published, 0);
    EXPECT_EQ(idsOf(controller().availableScreens.get()),
              (std::vector<std::uint32_t>{kHdmi.id, kDp.id}));
    screens.announceChange();
    rig.loop.runPending();
    EXPECT_EQ(published, 2);  // one rebuild per change, even when nothing changed
    EXPECT_EQ(idsOf(controller().availableScreens.get()), (std::vector<std::uint32_t>{kDp.id}));
}

TEST_F(ExternalMonitorControllerTest, PresentsABorderlessWindowOnTheChosenScreen) {
    const auto surfaceDrawings = std::make_shared<platform::SharedCompositions>();
    controller().shareCompositionsWith(surfaceDrawings);
    controller().present(info(kDp), rig.surface, {1920.0, 1080.0});
    ASSERT_EQ(windows.made.size(), 1u);
    const auto& window = *windows.made[0];
    // The window finds the surface's views' drawings where it would draw the same picture.
    EXPECT_EQ(window.shared, surfaceDrawings);
    EXPECT_EQ(window.screen.id, kDp.id);
    EXPECT_TRUE(window.visible);
    EXPECT_EQ(window.timesShown, 1);
    ASSERT_NE(controller().contentView(), nullptr);
    EXPECT_EQ(window.root, controller().contentView()->rootLayer());
    // The content was laid out for the window: 1920×1080 into 1280×1024.
    EXPECT_EQ(controller().contentView()->canvasLayer()->frame(),
              (platform::RectF{0.0, 152.0, 1280.0, 720.0}));
    EXPECT_TRUE(controller().isPresenting.get());
    EXPECT_EQ(controller().activeScreen.get(), info(kDp));
    EXPECT_EQ(controller().canvasSize.get(), (SizeF{1920.0, 1080.0}));
}

TEST_F(ExternalMonitorControllerTest, PresentingElsewhereClosesTheFirstWindowBeforeTheSecondOpens) {
    bool firstGoneWhenSecondMade = false;
    auto make = windows.factory();
    controller_ = std::make_unique<ExternalMonitorController>(
        rig.loop, screens,
        [&](const ScreenDescriptor& s) {
            if (!windows.made.empty()) {
                firstGoneWhenSecondMade =
                    windows.made[0]->destroyed && windows.made[0]->timesClosed == 1;
            }
            return make(s);
        },
        rig.wallClock);
    controller().present(info(kHdmi), rig.surface, {1920.0, 1080.0});
    controller().present(info(kDp), rig.surface, {1280.0, 720.0});
    ASSERT_EQ(windows.made.size(), 2u);
    EXPECT_TRUE(firstGoneWhenSecondMade);
    EXPECT_EQ(controller().activeScreen.get(), info(kDp));
    EXPECT_EQ(controller().canvasSize.get(), (SizeF{1280.0, 720.0}));
}

TEST_F(ExternalMonitorControllerTest, BadPresentsEndIdleWithTheCanvasStoredAndNoWindowLeft) {
    struct Case {
        const char* what;
        ScreenInfo screen;
        SizeF canvas;
        bool windowGone;  // the factory finds the screen gone
    };
    ScreenInfo vanished = info(kDp);
    vanished.id = platform::screenIdForName("HDMI-9");
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Case cases[] = {
        {"a screen id that no longer exists", vanished, {1280.0, 720.0}, false},
        {"a canvas of zero size", info(kDp), {0.0, 1080.0}, false},
        {"a canvas that is no number", info(kDp), {nan, 1080.0}, false},
        {"a screen gone while its window is made", info(kHdmi), {3840.0, 2160.0}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        windows.made.clear();
        windows.gone.clear();
        controller().present(info(kHdmi), rig.surface, {1920.0, 1080.0});
        ASSERT_EQ(windows.made.size(), 1u);
        if (c.windowGone) {
            windows.gone.insert(c.screen.id);
        }
        int presentingNotices = 0;
        auto sub = controller().isPresenting.subscribe([&](bool) { ++presentingNotices; });
        controller().present(c.screen, rig.surface, c.canvas);
        EXPECT_EQ(windows.made.size(), 1u);
        EXPECT_TRUE(windows.made[0]->destroyed);
        EXPECT_FALSE(windows.made[0]->visible);
        EXPECT_FALSE(controller().isPresenting.get());
        EXPECT_FALSE(controller().activeScreen.get().has_value());
        EXPECT_EQ(controller().contentView(), nullptr);
        EXPECT_EQ(controller().monitorWindow(), nullptr);
        EXPECT_EQ(controller().canvasSize.get().height, c.canvas.height);
        EXPECT_EQ(presentingNotices, 1);
    }
}

TEST_F(ExternalMonitorControllerTest, StopsWhenTheActiveScreenLeavesTheList) {
    struct Case {
        const char* what;
        std::vector<ScreenDescriptor> after;
        std::uint32_t mainAfter;
    };
    const Case cases[] = {
        {"unplugged", {kLaptop, kHdmi}, kLaptop.id},
        {"made the main display", {kLaptop, kHdmi, kDp}, kDp.id},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        screens.list = {kLaptop, kHdmi, kDp};
        screens.mainId = kLaptop.id;
        controller().refreshScreens();
        windows.made.clear();
        controller().present(info(kDp), rig.surface, {1920.0, 1080.0});
        ASSERT_TRUE(controller().isPresenting.get());

        screens.list = c.after;
        screens.mainId = c.mainAfter;
        screens.announceChange();
        EXPECT_TRUE(controller().isPresenting.get());  // until the refresh that follows
        rig.loop.runPending();
        EXPECT_FALSE(controller().isPresenting.get());
        EXPECT_FALSE(controller().activeScreen.get().has_value());
        ASSERT_EQ(windows.made.size(), 1u);
        EXPECT_TRUE(windows.made[0]->destroyed);
        EXPECT_EQ(windows.made[0]->timesClosed, 1);
    }
}

// The live display changes its mode (1920×1080 to 1280×720, 60 to 50 Hz): the output stays on
// it in the same window, and what the controller says of it follows.
TEST_F(ExternalMonitorControllerTest, TheActiveScreensNewDescriptionIsTakenWhileItPresents) {
    controller().present(info(kHdmi), rig.surface, {1920.0, 1080.0});
    ASSERT_TRUE(controller().isPresenting.get());
    const ScreenDescriptor smaller =
        FakeScreenProvider::screen("HDMI-1", {1440, 0, 1280, 720}, 1.0, 50.0, "Projector");
    screens.list = {kLaptop, smaller, kDp};
    screens.announceChange();
    rig.loop.runPending();
    EXPECT_TRUE(controller().isPresenting.get());
    ASSERT_TRUE(controller().activeScreen.get().has_value());
    EXPECT_EQ(*controller().activeScreen.get(), info(smaller));
    EXPECT_EQ(controller().activeScreen.get()->resolutionLabel(), "1280×720");
    EXPECT_EQ(controller().availableScreens.get().at(0), info(smaller));
    ASSERT_EQ(windows.made.size(), 1u);
    EXPECT_FALSE(windows.made[0]->destroyed);
    EXPECT_EQ(windows.made[0]->timesClosed, 0);
}

TEST_F(ExternalMonitorControllerTest, AScreenThatVanishesMidDissolveLeavesItIdleAndTheSurfaceSafe) {
    controller().present(info(kHdmi), rig.surface, {1920.0, 1080.0});
    ASSERT_TRUE(rig.surface.onDissolveStarted);
    rig.surface.onDissolveStarted(false, 1.0f, 1.0, rig.loop.now());
    ASSERT_TRUE(controller().contentView()->isDissolving());
    rig.loop.advance(0.4);

    screens.list = {kLaptop, kDp};
    screens.announceChange();
    rig.loop.advance(0.1);
    EXPECT_FALSE(controller().isPresenting.get());
    EXPECT_TRUE(windows.made[0]->destroyed);
    // The mirror's callbacks left on the surface do nothing; its end step never runs.
    rig.surface.onCutStarted(true);
    rig.surface.onDissolveStarted(true, 1.0f, 0.5, rig.loop.now());
    rig.loop.advance(2.0);
    EXPECT_EQ(rig.loop.pendingCount(), 0u);
}

TEST_F(ExternalMonitorControllerTest, StopAlwaysAnnouncesIdleAndTheDestructorClosesTheWindow) {
    int presenting = 0;
    int active = 0;
    auto s1 = controller().isPresenting.subscribe([&](bool) { ++presenting; });
    auto s2 = controller().activeScreen.subscribe([&](const auto&) { ++active; });
    controller().stop();
    controller().stop();
    EXPECT_EQ(presenting, 2);
    EXPECT_EQ(active, 2);

    controller().present(info(kHdmi), rig.surface, {1920.0, 1080.0});
    EXPECT_EQ(screens.observerCount(), 1u);
    controller_.reset();
    EXPECT_EQ(screens.observerCount(), 0u);
    EXPECT_TRUE(windows.made[0]->destroyed);
    EXPECT_EQ(windows.made[0]->timesClosed, 1);
    screens.announceChange();
    rig.loop.runPending();  // a change after the controller has gone finds nothing to refresh
}

}  // namespace
}  // namespace kestio::output
