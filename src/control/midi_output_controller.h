#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/midi/midi_system.h"
#include "platform/runloop/published.h"
#include "platform/runloop/run_loop.h"

namespace kestio {

// Sends three-byte channel messages through the client "KestioMIDIOutputClient" and its port
// "KestioOutputPort" to the destination the user picked by name, else to the first one.
class MIDIOutputController {
  public:
    MIDIOutputController(platform::RunLoop& loop, platform::MIDISystem& system);
    ~MIDIOutputController();
    MIDIOutputController(const MIDIOutputController&) = delete;
    MIDIOutputController& operator=(const MIDIOutputController&) = delete;

    platform::Published<bool> isConnected{false};
    platform::Published<std::string> lastMessageDescription{std::string("—")};
    platform::Published<std::vector<std::string>> availableDestinationNames;
    // The user's choice; cleared by a rescan in which no destination has that name.
    platform::Published<std::optional<std::string>> selectedDestinationName;

    // Creates the client and the port once and scans the destinations.
    void setup();
    // Rescans the destinations (also on every set-up change of the system).
    void refreshDestinations();
    // Sends status | (channel - 1), data1, data2 (channel counted from 1; every value is
    // clamped to its range on the wire) to the chosen destination. Nothing is sent without a
    // port or a destination. The description follows on the main thread.
    void sendMessage(std::uint8_t status, int data1, int data2, int channel);
    // Releases the port and the client.
    void teardown();

    bool hasClient() const { return client_ != nullptr; }
    bool hasOutputPort() const { return hasOutputPort_; }
    const std::vector<std::string>& destinations() const { return destinations_; }

  private:
    std::optional<std::string> chosenDestination() const;
    // Readies the way to the destination messages will go to, so the first is not lost.
    void prepareChosen();

    platform::RunLoop& loop_;
    platform::MIDISystem& system_;
    std::unique_ptr<platform::MIDIClient> client_;
    bool hasOutputPort_ = false;
    std::vector<std::string> destinations_;  // index-aligned with availableDestinationNames
    platform::Subscription selectionWatch_;
    std::shared_ptr<MIDIOutputController*> lifetime_;
};

}  // namespace kestio
