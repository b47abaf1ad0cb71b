// The output window on a real X server with Mesa's OpenGL. Asked to present through OpenGL from
// its own thread, it does, and while the main thread is busy for 200 ms the picture on the X
// screen, read back by another X connection on another thread, keeps advancing on time. Left to
// choose, it paints as a widget there, since Mesa under Xvfb draws in software, and says so.
#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "platform/runloop/console.h"
#include "platform/runloop/qt_run_loop.h"
#include "platform/ui/qt_output_window.h"
#include "support/frame_number_strip.h"
#include "support/x_server_child.h"

namespace kestio::platform {
namespace {

constexpr double kWait = 20.0;  // seconds of real time, generous
constexpr double kRefreshRate = 60.0;
constexpr double kPictureRate = 30.0;
constexpr QSize kScreen(640, 360);

// Moving pictures on the host clock: picture n (its number drawn in the frame-number strip) from
// `start` + n / kPictureRate on.
class NumberedPictures final : public FrameSource {
  public:
    explicit NumberedPictures(double start) : start_(start) {
        for (int n = 0; n < kCount; ++n) {
            pictures_.push_back(test::pictureWithFrameNumber(n, QSize(320, 180)));
        }
    }
    int numberAt(double hostTime) const {
        const double n = std::floor((hostTime - start_) * kPictureRate);
        return static_cast<int>(std::clamp(n, 0.0, double(kCount - 1)));
    }
    QImage frameAt(HostTime hostTime) const override {
        return pictures_[std::size_t(numberAt(hostTime.seconds()))];
    }

  private:
    static constexpr int kCount = 30 * 60;
    double start_;
    std::vector<QImage> pictures_;
};

// Reads the default X screen's pixels over a connection of its own, from any one thread.
class ScreenGrabber {
  public:
    ScreenGrabber() {
        int number = 0;
        connection_ = xcb_connect(nullptr, &number);
        xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection_));
        for (; number > 0; --number) {
            xcb_screen_next(&it);
        }
        root_ = it.data->root;
    }
    ~ScreenGrabber() { xcb_disconnect(connection_); }
    ScreenGrabber(const ScreenGrabber&) = delete;
    ScreenGrabber& operator=(const ScreenGrabber&) = delete;

    QImage grab(QSize size) {
        const xcb_get_image_cookie_t cookie =
            xcb_get_image(connection_, XCB_IMAGE_FORMAT_Z_PIXMAP, root_, 0, 0,
                          std::uint16_t(size.width()), std::uint16_t(size.height()), ~0u);
        xcb_get_image_reply_t* reply = xcb_get_image_reply(connection_, cookie, nullptr);
        if (!reply) {
            return {};
        }
        // A depth-24 screen holds 32 bits a pixel, rows padded to 32 bits.
        QImage image = QImage(xcb_get_image_data(reply), size.width(), size.height(),
                              size.width() * 4, QImage::Format_RGB32)
                           .copy();
        std::free(reply);
        return image;
    }

  private:
    xcb_connection_t* connection_ = nullptr;
    xcb_window_t root_ = 0;
};

struct Grab {
    double hostTime;  // when the grab's answer arrived
    int number;       // the number read from the screen, -1 when unreadable
};

template <class Done>
bool runEventsUntil(const RunLoop& loop, Done done) {
    const double deadline = loop.now().seconds() + kWait;
    while (!done()) {
        if (loop.now().seconds() > deadline) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

TEST(OutputWindowOnX, PresentsThroughOpenGLOnTimeWhileTheMainThreadIsBusy) {
    test::runOnXServer({"640x360x24"}, "OutputWindowOnXChild.*");
}

TEST(OutputWindowOnXChild, KeepsPresentingWhileTheMainThreadIsBusy) {
    if (!test::isXServerChild()) {
        GTEST_SKIP() << "runs only inside the X server that OutputWindowOnX starts";
    }
    test::keepOpenGLLibrariesLoaded();
    ASSERT_TRUE(OpenGLLayerWindow::isAvailable())
        << "no threaded OpenGL on " << QGuiApplication::platformName().toStdString();
    QScreen* screen = QGuiApplication::primaryScreen();
    ASSERT_EQ(screen->geometry().size(), kScreen);

    QtRunLoop loop;
    const std::shared_ptr<const HostClock> clock = loop.hostClock();
    const auto source = std::make_shared<NumberedPictures>(loop.now().seconds());
    auto root = Layer::create(loop);
    root->setBackgroundColor(QColor(Qt::black));
    auto player = Layer::create(loop);
    player->setFrameSource(source);
    root->addSublayer(player);
    // A software rasteriser would not be chosen: the threaded present is asked for by name.
    QtOutputWindow window(loop, screen, QtOutputWindow::Path::openGL);
    ASSERT_EQ(window.path(), QtOutputWindow::Path::openGL);
    OpenGLLayerWindow& gl = *window.openGLWindow();
    window.setContent(
        root,
        [&](SizeF size) {
            player->setFrame({0, 0, size.width, size.height});
        },
        nullptr);
    window.setFrameRate(kRefreshRate);
    window.orderFrontRegardless();
    ASSERT_TRUE(runEventsUntil(loop, [&] { return gl.waitForPresent(10, 0.0); }));

    std::atomic<bool> sampling{true};
    std::mutex grabsMutex;
    std::vector<Grab> grabs;
    std::thread sampler([&] {
        ScreenGrabber grabber;
        while (sampling.load()) {
            const QImage shot = grabber.grab(kScreen);
            const Grab grab{clock->now().seconds(), test::readFrameNumber(shot)};
            std::lock_guard lock(grabsMutex);
            grabs.push_back(grab);
        }
    });

    ASSERT_TRUE(runEventsUntil(loop, [&] {
        std::lock_guard lock(grabsMutex);
        return grabs.size() >= 10;
    }));
    double stallBegin = 0.0;
    double stallEnd = 0.0;
    loop.post([&] {
        stallBegin = clock->now().seconds();
        while (clock->now().seconds() - stallBegin < 0.2) {
            // the main thread is busy
        }
        stallEnd = clock->now().seconds();
    });
    ASSERT_TRUE(runEventsUntil(
        loop, [&] { return stallEnd > 0.0 && clock->now().seconds() > stallEnd + 0.1; }));
    sampling = false;
    sampler.join();
    const std::vector<OpenGLLayerWindow::PresentRecord> presents = gl.takePresentRecords();
    window.close();

    // Each refresh due in the stall was put on the screen before its time was a period old. A
    // loaded machine may hold the threads up now and then, so up to a quarter may miss; a stall
    // that reached the present thread would make them all miss.
    const double period = 1.0 / kRefreshRate;
    std::set<std::uint64_t> onTime;
    std::uint64_t firstDue = 0;
    std::uint64_t lastDue = 0;
    for (const auto& p : presents) {
        const double target = p.targetTime.seconds();
        if (target > stallBegin && target < stallEnd) {
            firstDue = firstDue == 0 ? p.refresh : std::min(firstDue, p.refresh);
            lastDue = std::max(lastDue, p.refresh);
            if (p.presentedAt.seconds() <= target + period) {
                onTime.insert(p.refresh);
            }
        }
    }
    const auto due = std::uint64_t(std::floor((stallEnd - stallBegin) * kRefreshRate)) - 1;
    EXPECT_GE(lastDue - firstDue + 1, due) << "refreshes due in the stall were never presented";
    EXPECT_LE((due - std::min<std::uint64_t>(due, onTime.size())) * 4, due)
        << onTime.size() << " of " << due << " refreshes in the stall presented on time";

    // What the X server showed during the stall: the picture due then (a refresh is put on the
    // screen up to a period before its time, and read back a little after), advancing through
    // most of the stall's pictures.
    std::set<int> seen;
    int readInStall = 0;
    for (const Grab& g : grabs) {
        if (g.hostTime <= stallBegin + 2 * period || g.hostTime >= stallEnd) {
            continue;
        }
        ++readInStall;
        ASSERT_GE(g.number, 0) << "unreadable picture at " << g.hostTime - stallBegin;
        EXPECT_GE(g.number, source->numberAt(g.hostTime - 3 * period))
            << "at " << g.hostTime - stallBegin << " s into the stall";
        EXPECT_LE(g.number, source->numberAt(g.hostTime + period))
            << "at " << g.hostTime - stallBegin << " s into the stall";
        seen.insert(g.number);
    }
    EXPECT_GE(readInStall, 10);
    EXPECT_GE(seen.size(), 4u) << "the screen's picture stood still while the main thread was busy";
}

TEST(OutputWindowOnXChild, LeftToChooseOnASoftwareRendererPaintsAsAWidgetAndSaysWhy) {
    if (!test::isXServerChild()) {
        GTEST_SKIP() << "runs only inside the X server that OutputWindowOnX starts";
    }
    test::keepOpenGLLibrariesLoaded();
    const OpenGLSupport& gl = OpenGLLayerWindow::support();
    ASSERT_TRUE(gl.threaded);
    ASSERT_TRUE(isSoftwareRenderer(gl.renderer)) << gl.renderer << " is not Mesa's software";

    QtRunLoop loop;
    Console::Capture console;
    QtOutputWindow window(loop, QGuiApplication::primaryScreen());
    EXPECT_EQ(window.path(), QtOutputWindow::Path::widget);
    ASSERT_EQ(console.lines().size(), 1u);
    EXPECT_EQ(console.lines()[0],
              "output window: paints as a widget on the main thread: the "
              "OpenGL renderer \"" +
                  gl.renderer + "\" draws in software");
}

// A window that chose OpenGL itself measures its first presents; at 1000 refreshes a second a
// present may take 0.5 ms, which Mesa's software rasteriser cannot keep, so the window turns to the
// widget, with the same content, still shown.
TEST(OutputWindowOnXChild, AChosenOpenGLPathOverItsBudgetTurnsToTheWidget) {
    if (!test::isXServerChild()) {
        GTEST_SKIP() << "runs only inside the X server that OutputWindowOnX starts";
    }
    test::keepOpenGLLibrariesLoaded();
    QtRunLoop loop;
    Console::Capture console;
    QtOutputWindow window(loop, QGuiApplication::primaryScreen(),
                          PresentPathChoice{PresentPath::openGL, "as if in hardware", true});
    ASSERT_EQ(window.path(), QtOutputWindow::Path::openGL);
    auto root = Layer::create(loop);
    root->setBackgroundColor(QColor(Qt::red));
    SizeF laidOut;
    window.setContent(
        root, [&](SizeF size) { laidOut = size; }, nullptr);
    window.setFrameRate(1000.0);
    window.orderFrontRegardless();
    ASSERT_TRUE(runEventsUntil(loop, [&] { return window.path() == QtOutputWindow::Path::widget; }))
        << "the OpenGL path was kept";
    ASSERT_TRUE(runEventsUntil(loop, [&] {
        return window.widgetView()->isVisible() && laidOut == SizeF{640.0, 360.0};
    }));
    EXPECT_EQ(window.widgetView()->rootLayer(), root);
    EXPECT_EQ(window.windowHandle()->screen(), QGuiApplication::primaryScreen());
    ASSERT_EQ(console.lines().size(), 2u);
    EXPECT_EQ(console.lines()[1],
              "output window: paints as a widget on the main thread: its first presents took "
              "over 0.5 ms each");
    window.close();
}

}  // namespace
}  // namespace kestio::platform
