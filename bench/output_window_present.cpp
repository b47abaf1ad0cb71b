// The cost of putting one composed picture of the program on a real X window, per frame, on both
// of the output window's paths: OpenGL from its own thread (texture upload, one textured quad and
// swap, as the window's present thread times them) and the widget painted on the main thread
// (QWidget::repaint(): the paint event's copy into the backing store and its flush to the X
// server). The picture changes every refresh, as a playing clip's does; composing it is not
// counted. Each path is asked for explicitly; the label names the one a window would choose
// (a software rasteriser's OpenGL is not chosen). Needs an X server with a 1920x1080 and a
// 3840x2160 screen and Qt's xcb platform:
//
//   xvfb-run -a -s "-screen 0 1920x1080x24 -screen 1 3840x2160x24"
//       env QT_QPA_PLATFORM=xcb bench_output_window_present   (one line)
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QScreen>
#include <chrono>
#include <string>

#include "changing_pictures.h"
#include "platform/graphics/layer.h"
#include "platform/runloop/qt_run_loop.h"
#include "platform/ui/qt_output_window.h"

namespace {

using namespace kestio::platform;

QApplication& application() {
    static int argc = 1;
    static char name[] = "bench_output_window_present";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        setenv("QT_QPA_PLATFORM", "xcb", 0);
        return new QApplication(argc, argv);
    }();
    return *app;
}

double steadySeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

void BM_PresentToXWindow(benchmark::State& state) {
    application();
    const QSize size(int(state.range(0)), int(state.range(1)));
    const auto path =
        state.range(2) != 0 ? QtOutputWindow::Path::openGL : QtOutputWindow::Path::widget;
    QScreen* screen = nullptr;
    for (QScreen* s : QGuiApplication::screens()) {
        screen = s->geometry().size() == size ? s : screen;
    }
    if (!screen) {
        state.SkipWithError("no screen of that size");
        return;
    }
    QtRunLoop loop;
    auto root = Layer::create(loop);
    auto player = Layer::create(loop);
    player->setFrameSource(
        std::make_shared<kestio::bench::ChangingPictures>(size.width(), size.height(), 60.0));
    root->addSublayer(player);
    QtOutputWindow window(loop, screen, path);
    if (window.path() != path) {
        state.SkipWithError("no threaded OpenGL on this platform");
        return;
    }
    window.setContent(
        root,
        [&](SizeF s) {
            player->setFrame({0, 0, s.width, s.height});
        },
        nullptr);
    window.setFrameRate(60.0);
    window.orderFrontRegardless();
    Presenter& presenter = window.presenter();
    for (int i = 0; i < 50 && !presenter.waitForRefresh(3, 0.0); ++i) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }

    OpenGLLayerWindow* gl = window.openGLWindow();
    std::uint64_t presented = 0;
    if (gl) {
        const auto earlier = gl->takePresentRecords();
        presented = earlier.empty() ? 0 : earlier.back().refresh;
    }
    for (auto _ : state) {
        QApplication::processEvents();
        if (gl) {
            if (!gl->waitForPresent(presented + 1, 5.0)) {
                state.SkipWithError("the window stopped presenting");
                return;
            }
            const auto records = gl->takePresentRecords();
            presented = records.back().refresh;
            state.SetIterationTime(records.back().presentSeconds);
        } else {
            if (!presenter.waitForNewFrame(5.0)) {
                state.SkipWithError("the presenter stopped composing");
                return;
            }
            const double began = steadySeconds();
            window.widgetView()->repaint();
            state.SetIterationTime(steadySeconds() - began);
        }
    }
    window.close();
    const bool chosen = QtOutputWindow::availablePath() == path;
    state.SetLabel(std::string(path == QtOutputWindow::Path::openGL ? "OpenGL, present thread"
                                                                    : "widget, main thread") +
                   (chosen ? " (the path chosen here)" : ""));
}

BENCHMARK(BM_PresentToXWindow)
    ->ArgNames({"w", "h", "opengl"})
    ->Args({1920, 1080, 1})
    ->Args({1920, 1080, 0})
    ->Args({3840, 2160, 1})
    ->Args({3840, 2160, 0})
    ->Iterations(120)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
