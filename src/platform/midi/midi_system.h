#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestio::platform {

// Result of a MIDI set-up operation: 0 for success, else a status code of the backend.
using MIDIStatus = int;
inline constexpr MIDIStatus kMIDIStatusOK = 0;

// One source (a port that sends to us) or destination (a port we can send to).
struct MIDIEndpoint {
    std::string id;                          // stable while the endpoint exists
    std::optional<std::string> displayName;  // none when the system gives no name
    bool operator==(const MIDIEndpoint&) const = default;
};

// Receives the bytes of one incoming packet, exactly as the sender wrote them. Runs on a
// thread of the MIDI system, never on the main thread.
using MIDIPacketHandler = std::function<void(const std::uint8_t* bytes, std::size_t length)>;

// One named client of the MIDI system with at most one input port (to which any number of
// sources can be connected) and one output port. Our own ports never appear in sources() or
// destinations(). Everything here is called on the main thread.
class MIDIClient {
  public:
    virtual ~MIDIClient() = default;

    // The current endpoints, in the system's order.
    virtual std::vector<MIDIEndpoint> sources() = 0;
    virtual std::vector<MIDIEndpoint> destinations() = 0;

    // The input port. onPacket receives the packets of every connected source.
    virtual MIDIStatus createInputPort(const std::string& name, MIDIPacketHandler onPacket) = 0;
    virtual MIDIStatus connectSource(const std::string& sourceId) = 0;
    virtual void disconnectSource(const std::string& sourceId) = 0;

    // The output port, and sending one packet through it to a destination now.
    virtual MIDIStatus createOutputPort(const std::string& name) = 0;
    // Readies the way to a destination ahead of the first send, so that the first message
    // is not lost while the system sets the connection up.
    virtual void prepareDestination(const std::string& destinationId) { (void)destinationId; }
    virtual MIDIStatus send(const std::string& destinationId,
                            const std::vector<std::uint8_t>& bytes) = 0;
};

// The MIDI system of the machine (or an in-memory one in tests).
class MIDISystem {
  public:
    struct ClientResult {
        std::unique_ptr<MIDIClient> client;  // none on failure
        MIDIStatus status = kMIDIStatusOK;
    };

    virtual ~MIDISystem() = default;

    // Creates a named client. onSetupChanged runs on the main thread whenever sources or
    // destinations may have come or gone; it is never called after the client is destroyed.
    virtual ClientResult createClient(const std::string& name,
                                      std::function<void()> onSetupChanged) = 0;
};

}  // namespace kestio::platform
