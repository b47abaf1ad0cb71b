#include "platform/ui/qt_output_window.h"

#include "platform/ui/qt_screen_provider.h"

namespace kestio::platform {

namespace {

constexpr Qt::WindowFlags kFlags =
    Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus;

}  // namespace

QtOutputWindow::Path QtOutputWindow::availablePath() {
    return OpenGLLayerWindow::isAvailable() ? Path::openGL : Path::widget;
}

QtOutputWindow::QtOutputWindow(RunLoop& loop, QScreen* screen, Path path) : screen_(screen) {
    if (path == Path::openGL && OpenGLLayerWindow::isAvailable()) {
        glWindow_ = std::make_unique<OpenGLLayerWindow>(loop, screen);
        glWindow_->setFlags(kFlags);
        glWindow_->setCursor(Qt::BlankCursor);
        glWindow_->setTitle(QStringLiteral("Kestio Output"));
        if (screen) {
            glWindow_->setGeometry(screen->geometry());
        }
        return;
    }
    view_ = std::make_unique<LayerView>(loop);
    view_->setWindowFlags(kFlags);
    view_->setAttribute(Qt::WA_ShowWithoutActivating);
    view_->setFocusPolicy(Qt::NoFocus);
    view_->setCursor(Qt::BlankCursor);
    view_->setWindowTitle(QStringLiteral("Kestio Output"));
    if (screen) {
        view_->setScreen(screen);
        view_->setGeometry(screen->geometry());
    }
}

QtOutputWindow::~QtOutputWindow() = default;

void QtOutputWindow::setContent(std::shared_ptr<Layer> root, std::function<void(SizeF)> onLayout,
                                std::shared_ptr<SharedCompositions> shared) {
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

void QtOutputWindow::orderFrontRegardless() {
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
