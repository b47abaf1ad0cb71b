#pragma once

#include <memory>
#include <set>
#include <string>

#include "platform/midi/midi_system.h"
#include "platform/runloop/run_loop.h"

namespace kestio::platform {

// Which sound server carries MIDI. `automatic` takes the ALSA sequencer when its device can
// be opened, else JACK.
enum class MIDIApi { automatic, alsa, jack };

// The machine's MIDI system through RtMidi. RtMidi cannot attach one port to many sources,
// so a client keeps one RtMidi input per connected source (all under the client's name and
// the input port's name) and one RtMidi output per destination it has sent to. RtMidi gives
// no notice of set-up changes: each client compares the port lists about once a second on
// the run loop and calls its onSetupChanged when they differ. Ports of our own clients (and
// ALSA's "Midi Through" loopback) are never listed, so nothing we send comes back in.
class RtMidiSystem final : public MIDISystem {
  public:
    explicit RtMidiSystem(RunLoop& loop, MIDIApi api = MIDIApi::automatic,
                          double pollInterval = 1.0);
    ~RtMidiSystem() override;

    ClientResult createClient(const std::string& name,
                              std::function<void()> onSetupChanged) override;

    // The server chosen (never `automatic`).
    MIDIApi api() const { return api_; }

  private:
    class Client;

    RunLoop& loop_;
    MIDIApi api_;
    double pollInterval_;
    std::shared_ptr<std::set<std::string>> ownClientNames_;
};

}  // namespace kestio::platform
