#include "platform/ui/qt_output_window.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QScreen>

#include "platform/runloop/manual_run_loop.h"
#include "platform/ui/qt_screen_provider.h"
#include "support/fake_output_window.h"

namespace kestio::platform {
namespace {

// The view's presenter runs on the loop's manual clock: moves it on until a picture whose
// composing began after this call is ready; false if none is within a few seconds.
bool advanceUntilNewFrame(ManualRunLoop& loop, const Presenter& presenter) {
    const std::uint64_t wanted = presenter.newestFrame().refresh + 2;
    for (int step = 0; step < 50; ++step) {
        loop.advance(0.05);
        if (presenter.waitForRefresh(wanted, 0.2)) {
            return true;
        }
    }
    return false;
}

TEST(QtOutputWindow, IsABorderlessUnfocusedTopWindowWithoutACursor) {
    ManualRunLoop loop;
    QScreen* screen = QGuiApplication::primaryScreen();
    // The offscreen platform has no threaded OpenGL to present through, even when asked.
    EXPECT_EQ(QtOutputWindow::availablePath(), QtOutputWindow::Path::widget);
    QtOutputWindow window(loop, screen, QtOutputWindow::Path::openGL);
    ASSERT_EQ(window.path(), QtOutputWindow::Path::widget);
    ASSERT_NE(window.widgetView(), nullptr);
    const Qt::WindowFlags flags = window.widgetView()->windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::FramelessWindowHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowDoesNotAcceptFocus));
    EXPECT_TRUE(window.widgetView()->testAttribute(Qt::WA_ShowWithoutActivating));
    EXPECT_EQ(window.widgetView()->cursor().shape(), Qt::BlankCursor);
    EXPECT_EQ(window.widgetView()->screen(), screen);
}

TEST(QtOutputWindow, CoversItsScreenShowsTheContentAndCloses) {
    ManualRunLoop loop;
    QScreen* screen = QGuiApplication::primaryScreen();
    QtOutputWindow window(loop, screen);
    auto root = Layer::create(loop);
    root->setBackgroundColor(QColor(Qt::red));
    std::vector<SizeF> layouts;
    window.setContent(
        root, [&](SizeF size) { layouts.push_back(size); }, nullptr);
    ASSERT_FALSE(layouts.empty());

    window.orderFrontRegardless();
    EXPECT_TRUE(window.widgetView()->isVisible());
    EXPECT_TRUE(window.widgetView()->isFullScreen());
    EXPECT_EQ(window.widgetView()->geometry(), screen->geometry());
    const SizeF size = window.contentSize();
    EXPECT_EQ(size,
              (SizeF{double(screen->geometry().width()), double(screen->geometry().height())}));
    EXPECT_EQ(root->frame(), (RectF{0, 0, size.width, size.height}));
    EXPECT_EQ(layouts.back(), size);
    ASSERT_TRUE(advanceUntilNewFrame(loop, window.widgetView()->presenter()));
    EXPECT_EQ(window.widgetView()->grab().toImage().pixelColor(3, 3), QColor(Qt::red));

    window.close();
    EXPECT_FALSE(window.widgetView()->isVisible());
    window.orderFrontRegardless();  // can be shown again
    EXPECT_TRUE(window.widgetView()->isVisible());
    window.close();
}

TEST(QtOutputWindow, TheFactoryMakesNoWindowForAScreenThatIsGone) {
    ManualRunLoop loop;
    auto factory = QtOutputWindow::factory(loop);
    QtScreenProvider screens;
    ScreenDescriptor gone = screens.screens().front();
    gone.id = screenIdForName("DP-99");
    EXPECT_EQ(factory(gone), nullptr);
    auto window = factory(screens.screens().front());
    ASSERT_NE(window, nullptr);
    window->close();
}

TEST(FakeOutputWindow, RecordsWhatWasAskedOfIt) {
    ManualRunLoop loop;
    test::FakeOutputWindowFactory windows;
    ScreenDescriptor screen;
    screen.id = 7;
    screen.geometry = QRect(0, 0, 1280, 1024);
    windows.gone.insert(8);
    OutputWindowFactory factory = windows.factory();
    ScreenDescriptor other = screen;
    other.id = 8;
    EXPECT_EQ(factory(other), nullptr);
    {
        auto window = factory(screen);
        auto root = Layer::create(loop);
        SizeF laidOut;
        auto shared = std::make_shared<SharedCompositions>();
        window->setContent(
            root, [&](SizeF s) { laidOut = s; }, shared);
        EXPECT_EQ(windows.made.at(0)->shared, shared);
        EXPECT_EQ(laidOut, (SizeF{1280, 1024}));
        EXPECT_EQ(root->frame(), (RectF{0, 0, 1280, 1024}));
        window->orderFrontRegardless();
        window->close();
    }
    ASSERT_EQ(windows.made.size(), 1u);
    EXPECT_EQ(windows.made[0]->timesShown, 1);
    EXPECT_EQ(windows.made[0]->timesClosed, 1);
    EXPECT_FALSE(windows.made[0]->visible);
    EXPECT_TRUE(windows.made[0]->destroyed);
}

}  // namespace
}  // namespace kestio::platform
