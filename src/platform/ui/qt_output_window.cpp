#include "platform/ui/qt_output_window.h"

#include <cstdio>

#include "platform/runloop/console.h"
#include "platform/ui/qt_screen_provider.h"

namespace kestio::platform {

namespace {

constexpr Qt::WindowFlags kFlags =
    Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus;

std::string milliseconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f ms", seconds * 1000.0);
    return text;
}

}  // namespace

PresentPathChoice QtOutputWindow::automaticChoice() {
    return choosePresentPath(OpenGLLayerWindow::support());
}

QtOutputWindow::QtOutputWindow(RunLoop& loop, QScreen* screen, std::optional<Path> forced)
    : QtOutputWindow(loop, screen, choosePresentPath(OpenGLLayerWindow::support(), forced)) {}

QtOutputWindow::QtOutputWindow(RunLoop& loop, QScreen* screen, const PresentPathChoice& choice)
    : loop_(loop), screen_(screen), screenWatch_(std::make_unique<QObject>()) {
    Console::log(describe(choice));
    if (screen_) {
        QObject::connect(screen_, &QScreen::geometryChanged, screenWatch_.get(),
                         [this] { followScreen(); });
    }
    if (choice.path == Path::widget || !OpenGLLayerWindow::isAvailable()) {
        makeWidget();
        return;
    }
    makeOpenGLWindow();
    if (choice.automatic) {
        glWindow_->onFirstPresents = [this](const std::vector<double>& seconds) {
            const double rate = glWindow_->frameRate();
            if (presentCostOverBudget(seconds, rate)) {
                turnToWidget("its first presents took over " +
                             milliseconds(kPresentBudgetShare / rate) + " each");
            }
        };
    }
}

QtOutputWindow::~QtOutputWindow() = default;

void QtOutputWindow::followScreen() {
    if (!screen_) {
        return;
    }
    const QRect geometry = screen_->geometry();
    Console::log("Output window: screen " + screen_->name().toStdString() + " is now " +
                 std::to_string(geometry.width()) + "x" + std::to_string(geometry.height()) +
                 " at " + std::to_string(geometry.x()) + "," + std::to_string(geometry.y()));
    if (glWindow_) {
        glWindow_->setGeometry(geometry);
    } else {
        view_->setGeometry(geometry);
    }
}

void QtOutputWindow::makeOpenGLWindow() {
    glWindow_ = std::make_unique<OpenGLLayerWindow>(loop_, screen_);
    glWindow_->setFlags(kFlags);
    glWindow_->setCursor(Qt::BlankCursor);
    glWindow_->setTitle(QStringLiteral("Kestio Output"));
    if (screen_) {
        glWindow_->setGeometry(screen_->geometry());
    }
}

void QtOutputWindow::makeWidget() {
    view_ = std::make_unique<LayerView>(loop_);
    view_->setWindowFlags(kFlags);
    view_->setAttribute(Qt::WA_ShowWithoutActivating);
    view_->setFocusPolicy(Qt::NoFocus);
    view_->setCursor(Qt::BlankCursor);
    view_->setWindowTitle(QStringLiteral("Kestio Output"));
    if (screen_) {
        view_->setScreen(screen_);
        view_->setGeometry(screen_->geometry());
    }
}

void QtOutputWindow::turnToWidget(const std::string& why) {
    Console::log(describe({Path::widget, why, true}));
    glWindow_.reset();
    makeWidget();
    if (frameRate_ > 0.0) {
        view_->setFrameRate(frameRate_);
    }
    if (root_ || onLayout_) {
        setContent(root_, onLayout_, shared_);
    }
    if (shown_) {
        orderFrontRegardless();
    }
}

void QtOutputWindow::setContent(std::shared_ptr<Layer> root, std::function<void(SizeF)> onLayout,
                                std::shared_ptr<SharedCompositions> shared) {
    root_ = root;
    onLayout_ = onLayout;
    shared_ = shared;
    if (glWindow_) {
        glWindow_->setSharedCompositions(std::move(shared));
        glWindow_->onLayout = std::move(onLayout);
        glWindow_->setRootLayer(std::move(root));
        if (glWindow_->onLayout) {
            glWindow_->onLayout(contentSize());
        }
        return;
    }
    view_->setSharedCompositions(std::move(shared));
    view_->onLayout = std::move(onLayout);
    view_->setRootLayer(std::move(root));
    if (view_->onLayout) {
        view_->onLayout(contentSize());
    }
}

SizeF QtOutputWindow::contentSize() const {
    if (glWindow_) {
        return {double(glWindow_->width()), double(glWindow_->height())};
    }
    return {double(view_->width()), double(view_->height())};
}

void QtOutputWindow::afterNextPicture(std::function<void()> then) {
    // The OpenGL window presents on a thread of its own.
    if (view_ && !glWindow_) {
        view_->afterNextPicture(std::move(then));
    } else {
        then();
    }
}

void QtOutputWindow::orderFrontRegardless() {
    shown_ = true;
    if (glWindow_) {
        if (screen_) {
            glWindow_->setScreen(screen_);
            glWindow_->setGeometry(screen_->geometry());
        }
        // Full screen and shown, without showFullScreen()'s request to activate the window.
        glWindow_->setWindowStates(Qt::WindowFullScreen);
        glWindow_->setVisible(true);
        glWindow_->raise();
        return;
    }
    if (screen_) {
        view_->setScreen(screen_);
        view_->setGeometry(screen_->geometry());
    }
    view_->showFullScreen();
    view_->raise();
}

void QtOutputWindow::close() {
    shown_ = false;
    if (glWindow_) {
        glWindow_->hide();
    } else {
        view_->hide();
    }
}

Presenter& QtOutputWindow::presenter() {
    return glWindow_ ? glWindow_->presenter() : view_->presenter();
}

void QtOutputWindow::setFrameRate(double hz) {
    frameRate_ = hz;
    if (glWindow_) {
        glWindow_->setFrameRate(hz);
    } else {
        view_->setFrameRate(hz);
    }
}

QWindow* QtOutputWindow::windowHandle() const {
    return glWindow_ ? glWindow_.get() : view_->windowHandle();
}

OutputWindowFactory QtOutputWindow::factory(RunLoop& loop) {
    return [&loop](const ScreenDescriptor& screen) -> std::unique_ptr<OutputWindow> {
        QScreen* qscreen = QtScreenProvider::findScreen(screen.id);
        if (!qscreen) {
            return nullptr;
        }
        return std::make_unique<QtOutputWindow>(loop, qscreen);
    };
}

}  // namespace kestio::platform
