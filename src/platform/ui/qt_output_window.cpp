#include "platform/ui/qt_output_window.h"

#include "platform/ui/qt_screen_provider.h"

namespace kestio::platform {

QtOutputWindow::QtOutputWindow(RunLoop& loop, QScreen* screen)
    : view_(std::make_unique<LayerView>(loop)), screen_(screen) {
    view_->setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                          Qt::WindowDoesNotAcceptFocus);
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

void QtOutputWindow::setContent(std::shared_ptr<Layer> root, std::function<void(SizeF)> onLayout) {
    view_->onLayout = std::move(onLayout);
    view_->setRootLayer(std::move(root));
    if (view_->onLayout) {
        view_->onLayout(contentSize());
    }
}

SizeF QtOutputWindow::contentSize() const {
    return {double(view_->width()), double(view_->height())};
}

void QtOutputWindow::orderFrontRegardless() {
    if (screen_) {
        view_->setScreen(screen_);
        view_->setGeometry(screen_->geometry());
    }
    view_->showFullScreen();
    view_->raise();
}

void QtOutputWindow::close() {
    view_->hide();
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
