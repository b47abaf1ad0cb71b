#pragma once

#include <QMainWindow>
#include <functional>

#include "platform/runloop/run_loop.h"

namespace kestio::app {

class CanvasView;
class DesignCanvas;

// The main window: the scaled design canvas filling its content area (at least 1280 × 720,
// 1600 × 900 at first, smaller where the screen's free area with the window's frame is smaller,
// so that it is seen whole), a fixed title, and whatever is laid over the whole content area (the
// loading overlay). A close request goes to onCloseRequested, which decides; the window closes
// only once allowClose() has been called. onFirstShown runs once, on the first show.
//
// A key press that reaches the window may fire a cue, whose first steps come back to the main
// thread a few milliseconds later (the decoder's first picture, the sound opened, the take, and
// the output window's paint where it paints on this thread). The repaint of the panels that
// change with it (the slot's state, the player panel) takes longer than those steps at the
// window's size, so it waits for them: from the key press, the window's repaint is held until
// releaseRepaint() (the cue's first picture on the output) or kKeyRepaintHold at most; a take
// within that time holds it kTakeRepaintHold longer at most, for the output's paint. Then it is
// painted at once. Nothing is dropped: a key that fires no cue is painted within the next
// refresh, one that does within two.
class MainWindow : public QMainWindow {
  public:
    static constexpr const char* kTitle = "Kestio";

    MainWindow(platform::RunLoop& loop, QWidget* parent = nullptr);
    ~MainWindow() override;

    DesignCanvas& canvas() const;
    CanvasView& canvasView() const { return *view_; }
    // Lays `widget` over the whole content area, following its size.
    void addOverlay(QWidget* widget);

    void allowClose() { closeAllowed_ = true; }

    // The longest a key press holds the window's repaint, in seconds, and the longest a take
    // holds it on from then.
    static constexpr double kKeyRepaintHold = 0.012;
    static constexpr double kTakeRepaintHold = 0.020;
    // A repaint held now stays held until releaseRepaint() or kTakeRepaintHold from now at most.
    void holdRepaintForTake();
    // Paints what a key press held back now (nothing when nothing is held).
    void releaseRepaint();
    // Watches the application's key presses from now on, ahead of every application-wide key
    // filter installed before (the last installed sees an event first): call it after them.
    void watchKeyPresses();

    std::function<void()> onFirstShown;
    std::function<void()> onCloseRequested;

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool event(QEvent* event) override;

  private:
    void holdRepaint();
    void endHoldAfter(double seconds);

    platform::RunLoop& loop_;
    CanvasView* view_;
    QWidget* content_;
    std::vector<QWidget*> overlays_;
    bool shown_ = false;
    bool closeAllowed_ = false;
    bool repaintHeld_ = false;
    bool repaintDue_ = false;   // a repaint was asked for while held
    bool heldForTake_ = false;  // the hold was lengthened for a take
    platform::TimerHandle holdEnd_;
    std::shared_ptr<MainWindow*> lifetime_ = std::make_shared<MainWindow*>(this);
};

}  // namespace kestio::app
