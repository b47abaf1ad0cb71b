#pragma once

#include <QPointer>
#include <QScreen>
#include <QWindow>
#include <memory>

#include "platform/ui/layer_view.h"
#include "platform/ui/opengl_layer_window.h"
#include "platform/ui/output_window.h"

namespace kestio::platform {

// A frameless, black, stays-on-top window covering one screen in full-screen mode, shown
// without activation and refusing focus, with the mouse cursor hidden over it.
//
// Where the platform has threaded OpenGL, its content is an OpenGLLayerWindow, which puts each
// picture on the screen from a thread of its own, so the audience's picture keeps going while the
// main thread is held up. Elsewhere (the offscreen platform among them) it is a LayerView, whose
// pictures are composed off the main thread but painted on it.
class QtOutputWindow final : public OutputWindow {
  public:
    enum class Path { openGL, widget };
    // OpenGL where OpenGLLayerWindow::isAvailable(), else the widget.
    static Path availablePath();

    // `path` openGL where it is not available falls back to the widget.
    QtOutputWindow(RunLoop& loop, QScreen* screen, Path path = availablePath());
    ~QtOutputWindow() override;

    void setContent(std::shared_ptr<Layer> root, std::function<void(SizeF)> onLayout,
                    std::shared_ptr<SharedCompositions> shared) override;
    SizeF contentSize() const override;
    void orderFrontRegardless() override;
    void close() override;

    Path path() const { return glWindow_ ? Path::openGL : Path::widget; }
    // The view of the path taken; the other is null.
    LayerView* widgetView() const { return view_.get(); }
    OpenGLLayerWindow* openGLWindow() const { return glWindow_.get(); }
    Presenter& presenter();
    // Refreshes per second; 0 (the default) follows the screen's refresh rate.
    void setFrameRate(double hz);
    // The window as the platform shows it; null before the widget is first shown.
    QWindow* windowHandle() const;

    // Windows on the connected screen with the descriptor's id; null when it is gone.
    static OutputWindowFactory factory(RunLoop& loop);

  private:
    std::unique_ptr<LayerView> view_;
    std::unique_ptr<OpenGLLayerWindow> glWindow_;
    QPointer<QScreen> screen_;
};

}  // namespace kestio::platform
