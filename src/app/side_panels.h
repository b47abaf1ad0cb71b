#pragma once

#include <memory>

#include "app/recent_projects_menu.h"

namespace kestio {
class MIDIInputController;
class MIDIOutputController;
class ShowController;
class SignalOutput;
namespace output {
class ExternalMonitorController;
class OutputSurface;
}  // namespace output
namespace platform {
class RunLoop;
namespace audio {
class AudioOutputDevice;
}
}  // namespace platform
}  // namespace kestio

namespace kestio::app {

class DesignCanvas;
class PanelFrames;
class SoundOutputStatus;

// Puts the side panels of the main window in their places: the project toolbar and the bank
// list into their cards, the output monitor, the utility buttons and the MIDI status panel in
// place of their plain cards.
class SidePanels {
  public:
    struct Services {
        ShowController& show;
        // The program output the monitor panel shows, and the colour bars and test tone of the
        // utility buttons; both must outlive the panels.
        output::OutputSurface& program;
        SignalOutput& signals;
        output::ExternalMonitorController& monitor;
        MIDIInputController& midi;
        MIDIOutputController& midiOut;
        RecentProjectsMenuModel::Services recent;
        // What the MIDI status panel says of the sound output follows this device.
        platform::audio::AudioOutputDevice& soundOutput;
        platform::RunLoop& loop;
    };

    SidePanels(DesignCanvas& canvas, const PanelFrames& frames, Services services);
    ~SidePanels();

  private:
    std::unique_ptr<SoundOutputStatus> sound_;
};

}  // namespace kestio::app
