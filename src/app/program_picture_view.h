#pragma once

#include <QWidget>

namespace kestio::output {
class OutputSurface;
}
namespace kestio::platform {
class LayerView;
class RunLoop;
}  // namespace kestio::platform

namespace kestio::app {

// The program output in the main window: the output surface's own layer tree shown through a
// LayerView of its own presenter (no second decoder), as a 16:9 picture centred in the widget
// and letter-boxed on black.
class ProgramPictureView : public QWidget {
  public:
    // `surface` must outlive the view.
    ProgramPictureView(platform::RunLoop& loop, output::OutputSurface& surface,
                       QWidget* parent = nullptr);
    ~ProgramPictureView() override;

    platform::LayerView& layerView() const { return *view_; }
    // The picture's rectangle in the widget.
    QRect pictureRect() const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    platform::LayerView* view_;
};

}  // namespace kestio::app
