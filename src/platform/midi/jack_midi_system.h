#pragma once

#include <memory>
#include <set>
#include <string>

#include "platform/midi/midi_system.h"
#include "platform/runloop/run_loop.h"

namespace kestio::platform {

// MIDI through a JACK server, on libjack directly. Each client is one JACK client with at most
// one input port (sources are connected to it) and one output port (connected to the one
// destination last sent to, so a message reaches only the destination it was sent to).
//
// The server may stop, restart or be slow to come up during a show, and none of that may take
// the application down:
// - Ports are only ever registered while the JACK client is inactive (libjack walks its port
//   list from its process thread without a lock).
// - The server's shutdown notice marks the client dead; from then on nothing but the close is
//   called on it, and that close runs on a thread of its own (it can take a while, and libjack
//   does not allow it from its own notification thread).
// - The main thread never waits for the server: every libjack call that can block (opening and
//   closing, registering ports, listing them, connecting) runs on a thread of the client's own,
//   which hands its findings back through the run loop. Those calls run one at a time across the
//   process, and a client opens only once every other client's server has answered
//   (jack_client_gate): libjack's state is one per process. A new client has no endpoints until the
//   server's first answer arrives; the endpoints then show as a set-up change.
// - A client without a server (lost, or never found) is reopened at each poll until a server
//   answers; its ports and connections come back with it.
// Losing and regaining the server shows as a set-up change: the endpoints disappear, then
// return. Ports of our own clients are never listed.
class JackMIDISystem final : public MIDISystem {
  public:
    explicit JackMIDISystem(RunLoop& loop, double pollInterval = 1.0);
    ~JackMIDISystem() override;

    // Always gives a client (even with no server yet), at once; status is kMIDIStatusOK.
    ClientResult createClient(const std::string& name,
                              std::function<void()> onSetupChanged) override;

    // Status codes of this backend.
    static constexpr MIDIStatus kNoServer = 1;         // no server answers (yet)
    static constexpr MIDIStatus kUnknownEndpoint = 2;  // no such source or destination
    static constexpr MIDIStatus kNoPort = 3;           // the port was not created first
    static constexpr MIDIStatus kRefused = 4;          // the server refused the request
    static constexpr MIDIStatus kQueueFull = 5;        // too much is waiting to be sent

  private:
    class Client;
    class ClosingClients;
    class ServerNews;

    RunLoop& loop_;
    double pollInterval_;
    std::shared_ptr<std::set<std::string>> ownClientNames_;
    // The system's end waits here for the JACK clients still closing.
    std::shared_ptr<ClosingClients> closingClients_;
    // What every client noticed of the server, said once for them all.
    std::shared_ptr<ServerNews> news_;
};

}  // namespace kestio::platform
