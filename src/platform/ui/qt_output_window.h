#pragma once

#include <QPointer>
#include <QScreen>
#include <QWindow>
#include <memory>
#include <optional>
#include <string>

#include "platform/ui/layer_view.h"
#include "platform/ui/opengl_layer_window.h"
#include "platform/ui/output_window.h"
#include "platform/ui/present_path_choice.h"

namespace kestio::platform {

// A frameless, black, stays-on-top window covering one screen in full-screen mode, shown
// without activation and refusing focus, with the mouse cursor hidden over it. It follows its
// screen: when the screen's geometry changes (another mode, the display moved), the window takes
// the new geometry and its content is laid out again at the new size.
//
// Where the platform has threaded OpenGL drawn in hardware, its content is an OpenGLLayerWindow,
// which puts each picture on the screen from a thread of its own, so the audience's picture keeps
// going while the main thread is held up. Elsewhere (the offscreen platform, a software
// rasteriser) it is a LayerView, whose pictures are composed off the main thread but painted on
// it. An OpenGL path the window chose itself turns to the widget when its first presents take
// more than their budget (see presentCostOverBudget). Each choice is reported on the console.
class QtOutputWindow final : public OutputWindow {
  public:
    using Path = PresentPath;
    // The path a window takes when none is asked for (before any measure).
    static PresentPathChoice automaticChoice();
    static Path availablePath() { return automaticChoice().path; }

    // `forced` takes that path whatever the renderer and its cost; OpenGL where the platform has
    // no threaded OpenGL still falls back to the widget.
    QtOutputWindow(RunLoop& loop, QScreen* screen, std::optional<Path> forced = std::nullopt);
    // Takes `choice` as made (choosePresentPath); OpenGL only where the platform has it.
    QtOutputWindow(RunLoop& loop, QScreen* screen, const PresentPathChoice& choice);
    ~QtOutputWindow() override;

    void setContent(std::shared_ptr<Layer> root, std::function<void(SizeF)> onLayout,
                    std::shared_ptr<SharedCompositions> shared) override;
    SizeF contentSize() const override;
    void orderFrontRegardless() override;
    void close() override;
    void afterNextPicture(std::function<void()> then) override;

    // The path taken now. When an OpenGL path the window chose turns to the widget, the view,
    // the presenter and the window handle below are replaced: take them afresh after a turn.
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
    void makeOpenGLWindow();
    void makeWidget();
    void followScreen();
    void turnToWidget(const std::string& why);

    RunLoop& loop_;
    double frameRate_ = 0.0;
    bool shown_ = false;
    // The content, kept to move it onto the widget when the OpenGL path turns out too slow.
    std::shared_ptr<Layer> root_;
    std::function<void(SizeF)> onLayout_;
    std::shared_ptr<SharedCompositions> shared_;
    std::unique_ptr<LayerView> view_;
    std::unique_ptr<OpenGLLayerWindow> glWindow_;
    QPointer<QScreen> screen_;
    std::unique_ptr<QObject> screenWatch_;  // the context of the screen's geometry signal
};

}  // namespace kestio::platform
