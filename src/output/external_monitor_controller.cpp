#include "output/external_monitor_controller.h"

#include <algorithm>
#include <cmath>

#include "output/external_monitor_content_view.h"
#include "platform/runloop/console.h"

namespace kestio::output {

ExternalMonitorController::ExternalMonitorController(
    platform::RunLoop& loop, platform::ScreenProvider& screens,
    platform::OutputWindowFactory makeWindow, std::shared_ptr<const platform::WallClock> wallClock)
    : loop_(loop),
      screens_(screens),
      makeWindow_(std::move(makeWindow)),
      wallClock_(std::move(wallClock)) {
    refreshScreens();
    // The platform tells of a change from inside its own notification; the list is rebuilt on a
    // later turn, when the platform has finished updating its screens.
    screenObserver_ = screens_.onScreensChanged([this, weak = std::weak_ptr<int>(alive_)] {
        loop_.post([this, weak] {
            if (weak.lock()) {
                refreshScreens();
            }
        });
    });
}

ExternalMonitorController::~ExternalMonitorController() {
    screenObserver_.reset();
    if (monitorWindow_) {
        monitorWindow_->close();
    }
    monitorWindow_.reset();
    contentView_.reset();
}

std::optional<ScreenInfo> ExternalMonitorController::makeScreenInfo(
    const platform::ScreenDescriptor& screen, std::uint32_t mainScreenId) {
    if (screen.id == mainScreenId) {
        return std::nullopt;  // the main display never takes the output
    }
    return ScreenInfo::fromDescriptor(screen);
}

void ExternalMonitorController::refreshScreens() {
    const std::uint32_t mainId = screens_.mainScreenId();
    std::vector<ScreenInfo> list;
    for (const platform::ScreenDescriptor& screen : screens_.screens()) {
        if (auto info = makeScreenInfo(screen, mainId)) {
            list.push_back(std::move(*info));
        }
    }
    availableScreens = std::move(list);
    const std::optional<ScreenInfo> active = activeScreen.get();
    if (!active) {
        return;
    }
    const auto& available = availableScreens.get();
    const auto now = std::find_if(available.begin(), available.end(),
                                  [&](const ScreenInfo& s) { return s.id == active->id; });
    if (now == available.end()) {
        stop();
    } else if (*now != *active) {
        // The display stayed but changed (another mode, scale or rate): the output window
        // follows its display by itself; the description follows here.
        activeScreen = *now;
    }
}

void ExternalMonitorController::present(const ScreenInfo& screen, OutputSurface& playerView,
                                        platform::SizeF canvas) {
    stop();
    canvasSize = canvas;
    if (canvas.isEmpty() || !std::isfinite(canvas.width) || !std::isfinite(canvas.height)) {
        platform::Console::log("External monitor: canvas " + std::to_string(canvas.width) + "x" +
                               std::to_string(canvas.height) + " has no area; nothing shown");
        return;
    }
    const std::vector<platform::ScreenDescriptor> all = screens_.screens();
    const auto found =
        std::find_if(all.begin(), all.end(), [&](const auto& s) { return s.id == screen.id; });
    if (found == all.end()) {
        return;  // the display has gone since the list was made
    }
    std::unique_ptr<platform::OutputWindow> window = makeWindow_ ? makeWindow_(*found) : nullptr;
    if (!window) {
        return;  // it went while the window was being made
    }
    auto view = std::make_unique<ExternalMonitorContentView>(loop_, playerView, canvas, wallClock_);
    ExternalMonitorContentView* content = view.get();
    window->setContent(
        view->rootLayer(), [content](platform::SizeF size) { content->layout(size); },
        surfaceCompositions_);
    window->orderFrontRegardless();
    contentView_ = std::move(view);
    monitorWindow_ = std::move(window);
    activeScreen = screen;
    isPresenting = true;
}

void ExternalMonitorController::stop() {
    if (monitorWindow_) {
        monitorWindow_->close();
    }
    monitorWindow_.reset();
    contentView_.reset();
    activeScreen = std::nullopt;
    isPresenting = false;
}

}  // namespace kestio::output
