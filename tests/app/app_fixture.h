#pragma once

#include <string>
#include <vector>

#include "app/app_delegate.h"
#include "app/main_view_wiring.h"
#include "platform/storage/notification_center.h"
#include "show/show_project_fixture.h"

namespace kestio::test {

// The show fixture with the application's notification centre, its delegate and the main
// view's wiring; what the wiring hands the playback controller and the output is recorded.
class AppFixture : public ShowProjectFixture {
  protected:
    platform::NotificationCenter notifications{&loop};
    app::AppDelegate delegate{dialogs, notifications};
    std::vector<std::string> steps;
    app::MainViewWiring::ProjectProvider provider;
    app::MainViewWiring::LayerLog layerLog;
    app::MainViewWiring wiring{app::MainViewWiring::Services{
        .show = *show,
        .playback = playback,
        .notifications = notifications,
        .delegate = &delegate,
        .midi = midi,
        .midiOut = midiOut,
        .keyboard = keyboard,
        .installProjectProvider =
            [this](app::MainViewWiring::ProjectProvider p) {
                steps.push_back("projectProvider");
                provider = std::move(p);
            },
        .installLayerLog =
            [this](app::MainViewWiring::LayerLog log) {
                steps.push_back("layerLog");
                layerLog = std::move(log);
            },
    }};
};

}  // namespace kestio::test
