#pragma once

#include <QPointer>
#include <QScreen>
#include <memory>

#include "platform/ui/layer_view.h"
#include "platform/ui/output_window.h"

namespace kestio::platform {

// A frameless, black, stays-on-top window covering one screen in full-screen mode, shown
// without activation and refusing focus, with the mouse cursor hidden over it. Its content
// is a LayerView.
class QtOutputWindow final : public OutputWindow {
  public:
    QtOutputWindow(RunLoop& loop, QScreen* screen);
    ~QtOutputWindow() override;

    void setContent(std::shared_ptr<Layer> root, std::function<void(SizeF)> onLayout) override;
    SizeF contentSize() const override;
    void orderFrontRegardless() override;
    void close() override;

    LayerView& view() { return *view_; }
    // The window as the platform shows it; null before it is first shown.
    QWindow* windowHandle() const { return view_->windowHandle(); }

    // Windows on the connected screen with the descriptor's id; null when it is gone.
    static OutputWindowFactory factory(RunLoop& loop);

  private:
    std::unique_ptr<LayerView> view_;
    QPointer<QScreen> screen_;
};

}  // namespace kestio::platform
