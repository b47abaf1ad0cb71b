#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "output/screen_info.h"
#include "platform/graphics/geometry.h"
#include "platform/runloop/published.h"
#include "platform/runloop/run_loop.h"
#include "platform/runloop/wall_clock.h"
#include "platform/ui/output_window.h"
#include "platform/ui/screen_provider.h"

namespace kestio::output {

class ExternalMonitorContentView;
class OutputSurface;

// Keeps the list of displays other than the main one and shows the program output full-screen
// on one of them: a borderless window whose content is an ExternalMonitorContentView mirroring
// the output surface. The window closes on request, and when its display leaves the list.
//
// Main thread only. The list is rebuilt at creation and on a later turn of the run loop after
// every change of the displays (several changes give several rebuilds).
class ExternalMonitorController {
  public:
    // `screens` must outlive the controller; `makeWindow` opens output windows; `wallClock`
    // stamps the mirror's log lines (null: the system's).
    ExternalMonitorController(platform::RunLoop& loop, platform::ScreenProvider& screens,
                              platform::OutputWindowFactory makeWindow,
                              std::shared_ptr<const platform::WallClock> wallClock = nullptr);
    ~ExternalMonitorController();
    ExternalMonitorController(const ExternalMonitorController&) = delete;
    ExternalMonitorController& operator=(const ExternalMonitorController&) = delete;

    // The displays that can take the output, in the platform's order; never the main display.
    platform::Published<std::vector<ScreenInfo>> availableScreens;
    // The display showing the output window.
    platform::Published<std::optional<ScreenInfo>> activeScreen;
    // The canvas the mirror fits into its window. The panel may set it at any time; while
    // presenting it then passes it to contentView() itself.
    platform::Published<platform::SizeF> canvasSize{platform::SizeF{1920.0, 1080.0}};
    platform::Published<bool> isPresenting{false};

    // Rebuilds availableScreens; stops when the active display is no longer among them, and
    // takes its new description when it changed.
    void refreshScreens();
    // Opens the output window on `screen`, mirroring `playerView` on a canvas of `canvasSize`.
    // Always stops first, so at most one window exists. A display that has gone or a canvas of
    // no area leaves the controller idle. `playerView` must outlive the presentation.
    void present(const ScreenInfo& screen, OutputSurface& playerView, platform::SizeF canvasSize);
    // Closes the output window; safe when nothing is shown.
    void stop();

    // The drawings of the output surface's own views, which the output window shares: where it
    // would draw the very picture one of them drew (a view of the window's size showing the same
    // frame), it shows that one instead of drawing it again. Taken by the next present(); null
    // keeps the window's drawings to itself.
    void shareCompositionsWith(std::shared_ptr<platform::SharedCompositions> shared) {
        surfaceCompositions_ = std::move(shared);
    }

    // The window's content while presenting, else null.
    ExternalMonitorContentView* contentView() const { return contentView_.get(); }
    platform::OutputWindow* monitorWindow() const { return monitorWindow_.get(); }

    // The description of one display, or none for the main display.
    static std::optional<ScreenInfo> makeScreenInfo(const platform::ScreenDescriptor& screen,
                                                    std::uint32_t mainScreenId);

  private:
    platform::RunLoop& loop_;
    platform::ScreenProvider& screens_;
    platform::OutputWindowFactory makeWindow_;
    std::shared_ptr<const platform::WallClock> wallClock_;
    std::shared_ptr<platform::SharedCompositions> surfaceCompositions_;
    // The content view is destroyed after the window that shows its layers.
    std::unique_ptr<ExternalMonitorContentView> contentView_;
    std::unique_ptr<platform::OutputWindow> monitorWindow_;
    platform::Subscription screenObserver_;
    // Refreshes queued by screen changes hold this weakly and do nothing once it is gone.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace kestio::output
