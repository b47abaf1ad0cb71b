#include "app/main_window.h"

#include <QCloseEvent>
#include <QVBoxLayout>

#include "app/canvas_layout.h"
#include "app/canvas_view.h"
#include "app/design_canvas.h"

namespace kestio::app {

MainWindow::MainWindow(platform::RunLoop& loop, QWidget* parent)
    : QMainWindow(parent), loop_(loop) {
    content_ = new QWidget(this);
    auto* layout = new QVBoxLayout(content_);
    layout->setContentsMargins(0, 0, 0, 0);
    view_ = new CanvasView(new DesignCanvas, content_);
    layout->addWidget(view_);
    content_->installEventFilter(this);
    setCentralWidget(content_);
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    content_->setPalette(black);
    content_->setAutoFillBackground(true);
    resize(kDefaultWindowSize);
}

MainWindow::~MainWindow() = default;

DesignCanvas& MainWindow::canvas() const {
    return view_->canvas();
}

void MainWindow::addOverlay(QWidget* widget) {
    widget->setParent(content_);
    widget->setGeometry(content_->rect());
    overlays_.push_back(widget);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == content_ && event->type() == QEvent::Resize) {
        for (QWidget* overlay : overlays_) {
            overlay->setGeometry(content_->rect());
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    // The title is set on a later turn, once the window exists on the screen; it is the
    // application's name whatever the project.
    loop_.post([weak = std::weak_ptr<MainWindow*>(lifetime_)] {
        if (auto self = weak.lock()) {
            (*self)->setWindowTitle(QString::fromUtf8(kTitle));
        }
    });
    if (!shown_) {
        shown_ = true;
        if (onFirstShown) {
            onFirstShown();
        }
    }
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (closeAllowed_ || !onCloseRequested) {
        event->accept();
        return;
    }
    event->ignore();
    // The question is asked on a later turn, outside the window system's close handling.
    loop_.post([weak = std::weak_ptr<MainWindow*>(lifetime_)] {
        if (auto self = weak.lock(); self && (*self)->onCloseRequested) {
            (*self)->onCloseRequested();
        }
    });
}

}  // namespace kestio::app
