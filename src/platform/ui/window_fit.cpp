#include "platform/ui/window_fit.h"

#include <QApplication>
#include <QEvent>
#include <QPointer>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <functional>

namespace kestio::platform {

QRect fittedCentred(QSize wanted, QSize least, const QRect& available, const QMargins& frame) {
    const QSize room(available.width() - frame.left() - frame.right(),
                     available.height() - frame.top() - frame.bottom());
    const QSize size(std::max(least.width(), std::min(wanted.width(), room.width())),
                     std::max(least.height(), std::min(wanted.height(), room.height())));
    // Centred by the frame's outer edge; a window larger than the room (held at its least size)
    // keeps its title bar on the screen and runs off the bottom right.
    const int left =
        available.left() + frame.left() + std::max(0, (room.width() - size.width()) / 2);
    const int top =
        available.top() + frame.top() + std::max(0, (room.height() - size.height()) / 2);
    return {QPoint(left, top), size};
}

QScreen* activeWindowScreen() {
    const QWidget* active = QApplication::activeWindow();
    return active != nullptr ? active->screen() : QGuiApplication::primaryScreen();
}

QMargins frameOf(const QWidget& window) {
    const QWindow* handle = window.windowHandle();
    return handle != nullptr ? handle->frameMargins() : QMargins();
}

void placeFittedCentred(QWidget& window, QScreen& screen, QSize wanted, const QMargins& frame) {
    window.setScreen(&screen);
    window.setGeometry(
        fittedCentred(wanted, window.minimumSize(), screen.availableGeometry(), frame));
}

namespace {

// Calls back once the window manager has framed its window, with the frame, then goes. The frame
// is known by the window's first exposure on the screen (a window framed where it stands is not
// moved, so no move tells of it).
class OnceFramed final : public QObject {
  public:
    OnceFramed(QWidget& window, std::function<void(const QMargins&)> framed)
        : QObject(&window), window_(window), framed_(std::move(framed)) {
        window.installEventFilter(this);
        if (QWindow* handle = window.windowHandle()) {
            handle->installEventFilter(this);
        }
    }

  private:
    bool eventFilter(QObject* watched, QEvent* event) override {
        const bool onWindow = watched == &window_ &&
                              (event->type() == QEvent::Move || event->type() == QEvent::Resize ||
                               event->type() == QEvent::Show);
        const bool exposed = watched == window_.windowHandle() && event->type() == QEvent::Expose;
        if (!done_ && (onWindow || exposed)) {
            if (const QMargins frame = frameOf(window_); !frame.isNull()) {
                done_ = true;
                framed_(frame);
                deleteLater();
            }
        }
        return false;
    }

    QWidget& window_;
    std::function<void(const QMargins&)> framed_;
    bool done_ = false;
};

}  // namespace

void placeFittedCentredOnceFramed(QWidget& window, QScreen& screen, QSize wanted) {
    placeFittedCentred(window, screen, wanted, kAssumedWindowFrame);
    window.winId();  // made now, so that its exposure can be watched
    QPointer<QScreen> on = &screen;
    new OnceFramed(window, [&window, on, wanted](const QMargins& frame) {
        if (on) {
            placeFittedCentred(window, *on, wanted, frame);
        }
    });
}

void keepWholeOnScreen(QWidget& window, QScreen& screen) {
    const auto fit = [&window](QScreen& on, const QMargins& frame, bool placed) {
        const QRect available = on.availableGeometry();
        const QRect outer = window.geometry().marginsAdded(frame);
        // Before the first show the window manager places a window that fits; once placed, a
        // window seen whole is left where it is.
        const bool whole =
            placed ? available.contains(outer)
                   : outer.width() <= available.width() && outer.height() <= available.height();
        if (!whole) {
            placeFittedCentred(window, on, window.size(), frame);
        }
    };
    const QMargins frame = frameOf(window);
    fit(screen, frame.isNull() ? kAssumedWindowFrame : frame, false);
    if (frame.isNull()) {
        QPointer<QScreen> on = &screen;
        new OnceFramed(window, [fit, on](const QMargins& real) {
            if (on) {
                fit(*on, real, true);
            }
        });
    }
}

}  // namespace kestio::platform
