#include "show/live_playback.h"

#include "output/output_surface.h"
#include "playback/playback_controller.h"
#include "show/live_show_playback.h"
#include "show/live_signal_output.h"

namespace kestio {

// In the order they are made: the adapters hold the controller, which owns the surface.
struct LivePlayback::Parts {
    explicit Parts(Services services)
        : controller(PlaybackServices{
              .loop = services.loop,
              .view = std::make_unique<output::OutputSurface>(output::OutputSurface::Services{
                  services.loop, std::move(services.audioDevice), services.media}),
              .localization = services.localization,
              .media = &services.media}),
          show(controller),
          signals(controller) {}

    PlaybackController controller;
    LiveShowPlayback show;
    LiveSignalOutput signals;
};

LivePlayback::LivePlayback(Services services) : parts_(std::make_unique<Parts>(services)) {}

LivePlayback::~LivePlayback() = default;

ShowPlayback& LivePlayback::show() {
    return parts_->show;
}

output::OutputSurface& LivePlayback::program() {
    return parts_->controller.view();
}

SignalOutput& LivePlayback::signals() {
    return parts_->signals;
}

void LivePlayback::setProjectProvider(std::function<std::optional<ProjectData>()> provider) {
    parts_->controller.projectProvider = std::move(provider);
}

}  // namespace kestio
