#pragma once

#include <memory>
#include <set>
#include <string>

#include "platform/midi/midi_system.h"
#include "platform/runloop/run_loop.h"

namespace kestio::platform {

// MIDI through the ALSA sequencer, by RtMidi. RtMidi cannot attach one port to many sources,
// so a client keeps one RtMidi input per connected source (all under the client's name and
// the input port's name) and one RtMidi output per destination it has sent to. RtMidi gives
// no notice of set-up changes: each client compares the port lists about once a second on
// the run loop and calls its onSetupChanged when they differ. Ports of our own clients (and
// ALSA's "Midi Through" loopback) are never listed, so nothing we send comes back in.
// (JACK is served by JackMIDISystem: RtMidi registers JACK ports on active clients and gives no
// notice when the server goes, either of which can crash the process.)
class RtMidiSystem final : public MIDISystem {
  public:
    explicit RtMidiSystem(RunLoop& loop, double pollInterval = 1.0);
    ~RtMidiSystem() override;

    ClientResult createClient(const std::string& name,
                              std::function<void()> onSetupChanged) override;

  private:
    class Client;

    RunLoop& loop_;
    double pollInterval_;
    std::shared_ptr<std::set<std::string>> ownClientNames_;
};

}  // namespace kestio::platform
