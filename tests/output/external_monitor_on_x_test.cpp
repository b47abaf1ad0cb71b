// The output window on a real X server with two screens: the test starts Xvfb, then runs its
// child case in a second process of this program on that server (the test program's own
// QApplication runs offscreen). The child opens the output window on the second screen and
// grabs that screen from the X server.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QWindow>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "output/external_monitor_content_view.h"
#include "output/output_surface.h"
#include "platform/runloop/qt_run_loop.h"
#include "platform/ui/qt_output_window.h"
#include "support/fake_clip_player.h"
#include "support/fake_media.h"
#include "support/null_audio_device.h"
#include "support/process_runner.h"
#include "support/quadrant_picture.h"
#include "support/temporary_folder.h"

namespace kestio::output {
namespace {

using namespace std::chrono_literals;

constexpr const char* kChildVariable = "KESTIO_EXTERNAL_MONITOR_ON_X";

bool onPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string rest = path ? path : "";
    while (!rest.empty()) {
        const auto colon = rest.find(':');
        const std::string folder = rest.substr(0, colon);
        if (std::filesystem::exists(std::filesystem::path(folder) / program)) {
            return true;
        }
        rest = colon == std::string::npos ? "" : rest.substr(colon + 1);
    }
    return false;
}

TEST(ExternalMonitorOnX, TheSecondScreenShowsTheProgramFittedToTheCanvas) {
#if defined(__SANITIZE_THREAD__)
    // Xlib, Xrender and xcb take and release each other's locks, which ThreadSanitizer cannot
    // follow through uninstrumented libraries; the threads of ours in this test (the presenter's)
    // are checked by the offscreen tests.
    GTEST_SKIP() << "not under ThreadSanitizer";
#endif
    if (!onPath("Xvfb")) {
        GTEST_SKIP() << "Xvfb is not installed";
    }
    // Two X screens: Qt lists each as a QScreen (one screen with +xinerama shows as one).
    test::BackgroundProcess xvfb({"Xvfb", "-displayfd", "1", "-nolisten", "tcp", "-screen", "0",
                                  "1920x1080x24", "-screen", "1", "1280x1024x24"});
    ASSERT_TRUE(xvfb.started()) << xvfb.failure();
    std::string number;
    for (int i = 0; i < 40 && number.find('\n') == std::string::npos; ++i) {
        for (const auto& chunk : xvfb.take(500ms)) {
            number += chunk.bytes;
        }
    }
    ASSERT_NE(number.find('\n'), std::string::npos) << "Xvfb never said its display";
    number.erase(number.find('\n'));

    // Under the xcb platform Qt talks to D-Bus, whose library keeps a buffer to the end of the
    // process; a sanitized child's leak check is told to leave it out.
    const test::TemporaryFolder folder;
    const std::filesystem::path suppressions = folder.path() / "lsan_suppressions.txt";
    std::ofstream(suppressions) << "leak:libdbus-1.so\n";

    const std::vector<std::string> child = {
        "env",
        "LSAN_OPTIONS=suppressions=" + suppressions.string(),
        "QT_QPA_PLATFORM=xcb",
        "DISPLAY=:" + number,
        std::string(kChildVariable) + "=1",
        std::filesystem::read_symlink("/proc/self/exe").string(),
        "--gtest_filter=ExternalMonitorOnXChild.*"};
    const test::ProcessResult result = test::runProcess(child, 180s);
    EXPECT_TRUE(result.succeeded()) << test::describeFailure(child, result) << result.output;
    EXPECT_NE(result.output.find("[  PASSED  ] 1 test"), std::string::npos) << result.output;
    EXPECT_EQ(result.output.find("SKIPPED"), std::string::npos) << result.output;
}

// What the child sees of the second screen: the window, then its pixels from the X server.
TEST(ExternalMonitorOnXChild, OpensOnTheSecondScreenAndShowsTheProgram) {
    if (std::getenv(kChildVariable) == nullptr) {
        GTEST_SKIP() << "runs only inside the X server that ExternalMonitorOnX starts";
    }
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

    ExternalMonitorContentView view(loop, surface, {1920, 1080});
    platform::QtOutputWindow window(loop, second);
    window.setContent(view.rootLayer(), [&view](platform::SizeF size) { view.layout(size); });
    window.orderFrontRegardless();

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
    QWidget& widget = window.view();
    ASSERT_NE(widget.windowHandle(), nullptr);
    EXPECT_EQ(widget.windowHandle()->screen(), second);
    EXPECT_EQ(widget.geometry(), second->geometry());
    EXPECT_TRUE(widget.isFullScreen());
    EXPECT_TRUE(widget.windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_TRUE(widget.windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus));
    EXPECT_NE(QGuiApplication::focusWindow(), widget.windowHandle());
    window.close();
}

}  // namespace
}  // namespace kestio::output
