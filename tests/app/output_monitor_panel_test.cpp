// The output monitor panel over the external-monitor controller, with screens and output
// windows of the test's own.

#include <gtest/gtest.h>

#include <QTest>

#include "app/dialog_host.h"
#include "app/output_monitor_panel.h"
#include "output/external_monitor_content_view.h"
#include "output/external_monitor_controller.h"
#include "output/surface_rig.h"
#include "side_panel_fixture.h"
#include "support/fake_output_window.h"
#include "support/fake_screen_provider.h"

namespace kestio::app {
namespace {

using platform::ScreenDescriptor;
using test::FakeScreenProvider;
using test::near;
using test::setLanguage;

const ScreenDescriptor kLaptop = FakeScreenProvider::screen("eDP-1", {0, 0, 1440, 900}, 2.0);
const ScreenDescriptor kHdmi =
    FakeScreenProvider::screen("HDMI-1", {1440, 0, 1920, 1080}, 1.0, 60.0, "Projector");
const ScreenDescriptor kDp = FakeScreenProvider::screen("DP-2", {3360, 0, 1280, 1024}, 1.0, 59.94);

TEST(OutputMonitorText, CanvasLabelsAndInfoLines) {
    EXPECT_EQ(canvasLabel({1280, 720}), "720p");
    EXPECT_EQ(canvasLabel({1920, 1080}), "1080p");
    EXPECT_EQ(canvasLabel({3840, 2160}), "2160p");
    EXPECT_EQ(canvasLabel({1024.7, 768.2}), "1024\u00D7768");
    output::ScreenInfo screen;
    screen.nativeSize = {1920, 1080};
    screen.refreshRate = 59.94;
    EXPECT_EQ(screenInfoLine(screen), "1920\u00D71080  60 Hz");
    screen.refreshRate = 0;
    EXPECT_EQ(screenInfoLine(screen), "1920\u00D71080  \u2014");
}

class OutputMonitorPanelTest : public test::SidePanelFixture {
  protected:
    OutputMonitorPanelTest() {
        screens.list = {kLaptop, kHdmi, kDp};
        screens.mainId = kLaptop.id;
        monitor.refreshScreens();
    }

    test::SurfaceRig rig;
    FakeScreenProvider screens;
    test::FakeOutputWindowFactory windows;
    output::ExternalMonitorController monitor{rig.loop, screens, windows.factory(), rig.wallClock};
    OutputMonitorPanel panel{monitor, rig.surface, *show, QSize(230, 130)};

    void click(QRectF rect) {
        QTest::mouseClick(&panel, Qt::LeftButton, {}, rect.center().toPoint());
    }
    std::optional<std::uint32_t> liveId() {
        if (!monitor.isPresenting.get() || !monitor.activeScreen.get()) {
            return std::nullopt;
        }
        return monitor.activeScreen.get()->id;
    }
};

TEST_F(OutputMonitorPanelTest, SingleDisplay) {
    screens.list = {kLaptop};
    monitor.refreshScreens();
    EXPECT_FALSE(panel.model().switchEnabled());
    click(panel.switchRect());
    EXPECT_FALSE(monitor.isPresenting.get());
    EXPECT_FALSE(show->confirmStopMonitor.get());
    EXPECT_EQ(panel.model().statusName(), "Output Stopped");
    const QImage image = shots(panel, "output_monitor_single_display");
    // The outline in white 0.28 on the card's edge, a grey dot in the status row.
    EXPECT_TRUE(near(image.pixelColor(115, 0), ui::palette::white(0.28), 12));
    EXPECT_TRUE(near(image.pixelColor(11, 130 - 12), ui::palette::white(0.3), 12));
    setLanguage(AppLanguage::ja);
    EXPECT_EQ(panel.model().statusName(), "出力停止中");
}

TEST_F(OutputMonitorPanelTest, SwitchOnUsesFirstScreen) {
    click(panel.switchRect());
    EXPECT_EQ(liveId(), kHdmi.id);
    ASSERT_EQ(windows.made.size(), 1u);
    const auto rows = panel.model().rows();
    EXPECT_TRUE(rows[0].live);
    EXPECT_EQ(rows[0].badge, "LIVE");
    EXPECT_EQ(rows[1].badge, "SELECT");
    EXPECT_EQ(panel.model().statusName(), "Projector");
    EXPECT_EQ(panel.model().statusCanvas(), "1080p");
    const QImage image = shots(panel, "output_monitor_live");
    const QRectF live = panel.badgeRect(0);
    EXPECT_TRUE(near(image.pixelColor(int(live.left()) + 2, int(live.center().y())),
                     ui::palette::green(), 3));
    EXPECT_GT(image.pixelColor(115, 0).green(), image.pixelColor(115, 0).red() + 20);
    setLanguage(AppLanguage::ja);
    EXPECT_EQ(panel.model().rows()[0].badge, "出力中");
}

TEST_F(OutputMonitorPanelTest, SelectMovesOutput) {
    click(panel.switchRect());
    click(panel.badgeRect(1));
    EXPECT_EQ(liveId(), kDp.id);
    EXPECT_FALSE(panel.model().rows()[0].live);
    EXPECT_TRUE(panel.model().rows()[1].live);
    // One window at a time: the first was closed before the second opened.
    ASSERT_EQ(windows.made.size(), 2u);
    EXPECT_FALSE(windows.made[0]->visible);
    EXPECT_EQ(windows.made[1]->screen.id, kDp.id);
    shots(panel, "output_monitor_two_screens_live");
}

TEST_F(OutputMonitorPanelTest, SwitchOffAsks) {
    DialogHost host(loop, *show, dialogs, [this] { monitor.stop(); });
    click(panel.switchRect());
    dialogs.alertAnswers.push_back(1);  // Cancel
    click(panel.switchRect());
    EXPECT_TRUE(show->confirmStopMonitor.get());
    EXPECT_TRUE(monitor.isPresenting.get());
    loop.runPending();
    ASSERT_EQ(dialogs.callsOf("alert").size(), 1u);
    EXPECT_EQ(dialogs.callsOf("alert")[0].texts.at(0), "Stop external monitor output?");
    EXPECT_TRUE(monitor.isPresenting.get());
    EXPECT_FALSE(show->confirmStopMonitor.get());

    dialogs.alertAnswers.push_back(0);  // Stop, clicked on the LIVE badge this time
    click(panel.badgeRect(0));
    loop.runPending();
    EXPECT_FALSE(monitor.isPresenting.get());
    EXPECT_EQ(panel.model().statusName(), "Output Stopped");
}

TEST_F(OutputMonitorPanelTest, CanvasWhileLiveRelayouts) {
    click(panel.canvasButtonRect(0));
    EXPECT_TRUE(panel.model().isSelected({1280, 720}));
    EXPECT_FALSE(monitor.isPresenting.get());
    click(panel.canvasButtonRect(1));
    click(panel.switchRect());
    ASSERT_NE(monitor.contentView(), nullptr);
    click(panel.canvasButtonRect(0));
    EXPECT_EQ(monitor.contentView()->canvasSize().width, 1280);
    EXPECT_EQ(monitor.contentView()->canvasSize().height, 720);
    EXPECT_EQ(panel.model().statusCanvas(), "720p");
    EXPECT_TRUE(monitor.isPresenting.get());
}

TEST_F(OutputMonitorPanelTest, AScreenThatGoesWhileLiveStopsTheOutput) {
    click(panel.switchRect());
    screens.list = {kLaptop, kDp};
    screens.announceChange();
    rig.loop.runPending();
    EXPECT_FALSE(monitor.isPresenting.get());
    EXPECT_EQ(panel.model().rows().size(), 1u);
    EXPECT_EQ(panel.model().statusName(), "Output Stopped");
    // A refresh with nothing changed keeps the list.
    click(panel.refreshRect());
    EXPECT_EQ(panel.model().rows().size(), 1u);
    shots(panel, "output_monitor_screen_gone");
}

}  // namespace
}  // namespace kestio::app
