#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/midi/midi_system.h"
#include "platform/runloop/run_loop.h"

namespace kestio::platform {

// A MIDI system that lives in memory: sources and destinations are added and removed by the
// caller, packets sent from a source reach every input port connected to it, and packets
// sent to a destination are recorded. Set-up changes are announced to every client on the
// run loop, as a real system announces them. Packets may be sent from any thread; they are
// delivered on the sending thread, as a MIDI system delivers them on its own thread.
class LoopbackMIDISystem final : public MIDISystem {
  public:
    explicit LoopbackMIDISystem(RunLoop& loop);
    ~LoopbackMIDISystem() override;

    ClientResult createClient(const std::string& name,
                              std::function<void()> onSetupChanged) override;

    // Endpoints. A name of none stands for an endpoint whose name cannot be read.
    std::string addSource(std::optional<std::string> displayName);
    void removeSource(const std::string& id);
    std::string addDestination(std::optional<std::string> displayName);
    void removeDestination(const std::string& id);

    // Sends one packet from a source to every input port connected to it (any thread).
    void sendFromSource(const std::string& sourceId, const std::vector<std::uint8_t>& bytes);
    // The packets that reached a destination, in order (any thread).
    std::vector<std::vector<std::uint8_t>> received(const std::string& destinationId) const;
    // The sources connected to the input port of the client of that name.
    std::vector<std::string> connectedSources(const std::string& clientName) const;
    // The destinations prepared for sending, in the order they were prepared.
    std::vector<std::string> preparedDestinations() const;
    // Names of the live clients, in creation order.
    std::vector<std::string> clientNames() const;

    // Failures to give back, as a system that refuses would.
    void failClientCreation(MIDIStatus status) { failClient_ = status; }
    void failInputPortCreation(MIDIStatus status) { failInputPort_ = status; }
    void failOutputPortCreation(MIDIStatus status) { failOutputPort_ = status; }
    void failConnecting(const std::string& sourceId, MIDIStatus status);

  private:
    class Client;
    struct Endpoint {
        std::string id;
        std::optional<std::string> displayName;
    };
    struct Shared;

    void announce();

    RunLoop& loop_;
    std::shared_ptr<Shared> shared_;
    MIDIStatus failClient_ = kMIDIStatusOK;
    MIDIStatus failInputPort_ = kMIDIStatusOK;
    MIDIStatus failOutputPort_ = kMIDIStatusOK;
};

}  // namespace kestio::platform
