#pragma once

#include <functional>
#include <memory>

#include "platform/graphics/geometry.h"
#include "platform/graphics/layer.h"
#include "platform/graphics/shared_compositions.h"
#include "platform/ui/screen_descriptor.h"

namespace kestio::platform {

// The borderless window that shows the program output full-screen on a display.
// QtOutputWindow is the real one; tests use a fake.
class OutputWindow {
  public:
    virtual ~OutputWindow() = default;

    // What the window shows: a layer tree filling the window (the root's frame follows the
    // window's size) and the content's layout pass, called with the size after each change.
    // `shared`, when given, holds the drawings of other views of the same picture (say, the
    // program's views in the main window): where the window would draw the same picture, it
    // shows theirs instead; null keeps its drawings to itself.
    virtual void setContent(std::shared_ptr<Layer> root, std::function<void(SizeF)> onLayout,
                            std::shared_ptr<SharedCompositions> shared) = 0;
    virtual SizeF contentSize() const = 0;
    // Shows the window above all others without activating the application or taking focus.
    virtual void orderFrontRegardless() = 0;
    // Hides the window; it can be shown again.
    virtual void close() = 0;
    // Calls `then` on this thread once the window has shown a picture composed after this call,
    // where showing one waits on this thread; at once where it does not.
    virtual void afterNextPicture(std::function<void()> then) = 0;
};

// Makes the output window for a display; null when the display is no longer connected.
using OutputWindowFactory =
    std::function<std::unique_ptr<OutputWindow>(const ScreenDescriptor& screen)>;

}  // namespace kestio::platform
