#pragma once

#include <filesystem>
#include <memory>
#include <optional>

#include "platform/midi/midi_backend.h"

namespace kestio::app {

// What the command line asks of the application.
struct LaunchOptions {
    // A project package to open once the main window is wired.
    std::optional<std::filesystem::path> package;
    // The MIDI server to use.
    platform::MIDIApi midiApi = platform::MIDIApi::automatic;
};

// The running application: every long-lived part on the real platform (the Qt run loop, the
// sound server, FFmpeg, MIDI, the screens, the settings), the main window with its menus, its
// questions and its start-up wiring, and the quit confirmation. Made on the main thread after
// the QApplication, destroyed before it.
class Application {
  public:
    explicit Application(const LaunchOptions& options);
    ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // Shows the main window and runs the event loop until the application quits; returns the
    // exit code.
    int run();

  private:
    struct Parts;
    void requestQuit();
    void onWindowFirstShown();

    LaunchOptions options_;
    std::unique_ptr<Parts> parts_;
    bool askingToQuit_ = false;
};

}  // namespace kestio::app
