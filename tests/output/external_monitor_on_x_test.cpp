// The external monitor on a real X server with two X screens: the controller lists the second
// screen, presents on it through the real output window, and the X server's picture of that
// screen shows the program. Both of Qt's screens there are named "screen", so this is also the
// case of two displays under one name.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QWindow>
#include <chrono>

#include "output/external_monitor_controller.h"
#include "output/output_surface.h"
#include "platform/runloop/qt_run_loop.h"
#include "platform/ui/qt_output_window.h"
#include "platform/ui/qt_screen_provider.h"
#include "support/fake_clip_player.h"
#include "support/fake_media.h"
#include "support/null_audio_device.h"
#include "support/quadrant_picture.h"
#include "support/x_server_child.h"

namespace kestio::output {
namespace {

using namespace std::chrono_literals;

TEST(ExternalMonitorOnX, TheSecondScreenShowsTheProgramFittedToTheCanvas) {
    test::runOnXServer({"1920x1080x24", "1280x1024x24"}, "ExternalMonitorOnXChild.*");
}

// What the child sees of the second screen: the window, then its pixels from the X server.
TEST(ExternalMonitorOnXChild, OpensOnTheSecondScreenAndShowsTheProgram) {
    if (!test::isXServerChild()) {
        GTEST_SKIP() << "runs only inside the X server that ExternalMonitorOnX starts";
    }
    test::keepOpenGLLibrariesLoaded();
    const QList<QScreen*> screens = QGuiApplication::screens();
    ASSERT_EQ(screens.size(), 2);
    QScreen* second = screens[1];
    ASSERT_EQ(second->geometry().size(), QSize(1280, 1024));

    platform::QtRunLoop loop;
    test::FakeMediaFactory media(loop);
    OutputSurface surface(
        {loop, std::make_shared<test::NullAudioDevice>(), media,
         [&loop](std::shared_ptr<platform::media::QueuePlayer> player, AudioEngineController&) {
             return std::make_unique<test::FakeClipPlayer>(loop, std::move(player));
         }});
    surface.setViewSize({960, 540});
    surface.slotA().showStill(test::quadrantPicture(320, 180), ColorSettings{});
    surface.prepareForPlay(false);

    platform::QtScreenProvider provider;
    ExternalMonitorController controller(loop, provider, platform::QtOutputWindow::factory(loop));
    ASSERT_EQ(controller.availableScreens.get().size(), 1u);
    const ScreenInfo external = controller.availableScreens.get()[0];
    EXPECT_EQ(external.nativeSize, (platform::SizeF{1280.0, 1024.0}));
    EXPECT_EQ(platform::QtScreenProvider::findScreen(external.id), second);
    controller.present(external, surface, {1920, 1080});
    ASSERT_TRUE(controller.isPresenting.get());
    auto* window = dynamic_cast<platform::QtOutputWindow*>(controller.monitorWindow());
    ASSERT_NE(window, nullptr);
    // Mesa under Xvfb draws OpenGL in software, slower than the widget's copy: the window, left
    // to choose, paints as a widget.
    EXPECT_EQ(window->path(), platform::QtOutputWindow::Path::widget);

    // The canvas is 1280×720 at y = 152 (from the top as from the bottom); its quadrants are red
    // and green above, blue and white below.
    struct Probe {
        int x;
        int y;
        QColor colour;
    };
    const Probe probes[] = {
        {320, 332, Qt::red},    {960, 332, Qt::green},  {320, 692, Qt::blue},
        {960, 692, Qt::white},  {640, 100, Qt::black},  {640, 151, Qt::black},
        {640, 872, Qt::black},  {640, 1000, Qt::black}, {2, 153, Qt::red},
        {1277, 870, Qt::white},
    };
    QImage shot;
    auto matches = [&] {
        for (const Probe& p : probes) {
            if (shot.pixelColor(p.x, p.y) != p.colour) {
                return false;
            }
        }
        return true;
    };
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    do {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        shot = second->grabWindow(0).toImage();
    } while (!matches() && std::chrono::steady_clock::now() < deadline);

    ASSERT_EQ(shot.size(), QSize(1280, 1024));
    for (const Probe& p : probes) {
        EXPECT_EQ(shot.pixelColor(p.x, p.y).name(), p.colour.name()) << "at " << p.x << ", " << p.y;
    }
    const QPointer<QWindow> handle = window->windowHandle();
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(handle->screen(), second);
    EXPECT_EQ(handle->geometry(), second->geometry());
    EXPECT_EQ(handle->visibility(), QWindow::FullScreen);
    EXPECT_TRUE(handle->flags().testFlag(Qt::FramelessWindowHint));
    EXPECT_TRUE(handle->flags().testFlag(Qt::WindowDoesNotAcceptFocus));
    EXPECT_NE(QGuiApplication::focusWindow(), handle);
    controller.stop();
    EXPECT_EQ(controller.monitorWindow(), nullptr);
    EXPECT_TRUE(handle.isNull());
}

}  // namespace
}  // namespace kestio::output
