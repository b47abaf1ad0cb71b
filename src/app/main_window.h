#pragma once

#include <QMainWindow>
#include <functional>

#include "platform/runloop/run_loop.h"

namespace kestio::app {

class CanvasView;
class DesignCanvas;

// The main window: the scaled design canvas filling its content area (at least 1280 × 720,
// 1600 × 900 at first), a fixed title, and whatever is laid over the whole content area (the
// loading overlay). A close request goes to onCloseRequested, which decides; the window closes
// only once allowClose() has been called. onFirstShown runs once, on the first show.
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

    std::function<void()> onFirstShown;
    std::function<void()> onCloseRequested;

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    platform::RunLoop& loop_;
    CanvasView* view_;
    QWidget* content_;
    std::vector<QWidget*> overlays_;
    bool shown_ = false;
    bool closeAllowed_ = false;
    std::shared_ptr<MainWindow*> lifetime_ = std::make_shared<MainWindow*>(this);
};

}  // namespace kestio::app
