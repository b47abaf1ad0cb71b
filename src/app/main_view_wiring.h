#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "model/project_data.h"
#include "platform/runloop/published.h"

namespace kestio {
class KeyboardShortcutHandler;
class MIDIInputController;
class MIDIOutputController;
class ShowController;
class ShowPlayback;
namespace platform {
class NotificationCenter;
}
}  // namespace kestio

namespace kestio::app {

class AppDelegate;

// The main window's start-up wiring and the handlers that keep things in step while it lives.
//
// onAppearSetup(), run once when the window is first shown, hands the playback its project,
// play and preload requests and the output's layer log, registers the application's four
// notifications, reopens the play log of a project that already has a location, and starts the
// keyboard and the MIDI inputs. The change handlers, attached at construction, keep the
// delegate's open-project flag on (location or unsaved changes) and copy the MIDI input switch,
// the assignment labels switch and follow-jump into the project, marking it unsaved only when
// the value differs from the project's (so loading a project marks nothing).
//
// Main thread only. Nothing is unwired while the object lives.
class MainViewWiring {
  public:
    using ProjectProvider = std::function<std::optional<ProjectData>()>;
    using LayerLog = std::function<void(const std::string&)>;

    struct Services {
        ShowController& show;
        ShowPlayback& playback;
        platform::NotificationCenter& notifications;
        // The delegate whose open-project flag follows the window (may be null).
        AppDelegate* delegate;
        MIDIInputController& midi;
        MIDIOutputController& midiOut;
        KeyboardShortcutHandler& keyboard;
        // Hands the playback controller the closure it reads the project through.
        std::function<void(ProjectProvider)> installProjectProvider;
        // Hands the output surface the receiver of its layer-log lines.
        std::function<void(LayerLog)> installLayerLog;
    };

    explicit MainViewWiring(Services services);
    ~MainViewWiring();
    MainViewWiring(const MainViewWiring&) = delete;
    MainViewWiring& operator=(const MainViewWiring&) = delete;

    // The start-up action; later calls do nothing.
    void onAppearSetup();
    bool isWired() const { return wired_; }

    // Passes a layer-log line of the output on to the play log.
    void forwardLayerLog(const std::string& line);

  private:
    void updateOpenProjectFlag();
    // Copies a switch into the project when it differs, marking the project unsaved.
    void copySwitch(bool value, bool ProjectData::*field);

    Services s_;
    bool wired_ = false;
    std::vector<platform::Subscription> subscriptions_;
};

}  // namespace kestio::app
