#include "app/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QScreen>
#include <QVBoxLayout>
#include <QWindow>

#include "app/canvas_layout.h"
#include "app/canvas_view.h"
#include "app/design_canvas.h"
#include "platform/ui/window_fit.h"

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

void MainWindow::watchKeyPresses() {
    qApp->removeEventFilter(this);
    qApp->installEventFilter(this);
}

void MainWindow::addOverlay(QWidget* widget) {
    widget->setParent(content_);
    widget->setGeometry(content_->rect());
    overlays_.push_back(widget);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && watched == static_cast<QObject*>(windowHandle()) &&
        !static_cast<QKeyEvent*>(event)->isAutoRepeat()) {
        holdRepaint();
    }
    if (watched == content_ && event->type() == QEvent::Resize) {
        for (QWidget* overlay : overlays_) {
            overlay->setGeometry(content_->rect());
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

bool MainWindow::event(QEvent* event) {
    // A repaint asked for while held is kept for the release; Qt asks for no other meanwhile.
    if (event->type() == QEvent::UpdateRequest && repaintHeld_) {
        repaintDue_ = true;
        return true;
    }
    return QMainWindow::event(event);
}

void MainWindow::holdRepaint() {
    // Presses in quick succession keep the first one's end: a repaint is never put off for
    // longer.
    if (repaintHeld_) {
        return;
    }
    repaintHeld_ = true;
    endHoldAfter(kKeyRepaintHold);
}

void MainWindow::holdRepaintForTake() {
    // Once per hold, so that the repaint is never put off for longer than both together.
    if (!repaintHeld_ || heldForTake_) {
        return;
    }
    heldForTake_ = true;
    endHoldAfter(kTakeRepaintHold);
}

void MainWindow::endHoldAfter(double seconds) {
    holdEnd_.cancel();
    holdEnd_ = loop_.after(seconds, [weak = std::weak_ptr<MainWindow*>(lifetime_)] {
        if (auto self = weak.lock()) {
            (*self)->releaseRepaint();
        }
    });
}

void MainWindow::releaseRepaint() {
    if (!repaintHeld_) {
        return;
    }
    repaintHeld_ = false;
    heldForTake_ = false;
    holdEnd_.cancel();
    if (repaintDue_) {
        repaintDue_ = false;
        // Posted, so the steps already waiting on the main thread run first.
        QCoreApplication::postEvent(this, new QEvent(QEvent::UpdateRequest), Qt::LowEventPriority);
    }
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
        // Before the window is mapped: at its default size it may not fit a small screen.
        if (QScreen* on = screen()) {
            platform::keepWholeOnScreen(*this, *on);
        }
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
