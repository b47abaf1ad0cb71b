#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "control/midi_input_queue.h"
#include "control/midi_message.h"
#include "platform/midi/midi_system.h"
#include "platform/runloop/published.h"
#include "platform/runloop/run_loop.h"

namespace kestio {

// Receives MIDI from every source of the system through the client "KestioMIDIClient" and
// its port "KestioInputPort", decodes notes and control changes on the MIDI thread, and hands
// the messages to the main thread, in the order they arrived, where each updates
// lastMessageDescription and, while isEnabled, calls the callbacks. Channels reach the callbacks
// as 0-15.
//
// Input may come faster than the show can act on it (a stuck key, a device whose output is routed
// back to its input), and none of it may pile up: the show must answer the next key at once when
// such a flood ends. So:
// - Messages wait latest-only, one per kind, channel and note or controller (MIDIInputQueue): a
//   message replaces the one of its note or controller still waiting, and the main thread takes
//   all that waits in one go, with at most one take on its way.
// - Within a take, a cue's note-on that has waited longer than kStaleNoteOnAfter when its turn
//   comes is dropped, unless it is the take's newest note-on. A note-on bound to a control of the
//   show (isControlNote: mute, stop, a bank, the transport) is never dropped for age: the cue
//   after it must find the show in the state the player set. Nor are control changes and
//   note-offs: their latest value is the state the player left.
// - What was dropped is counted and written to the console, one line a second at most.
class MIDIInputController {
  public:
    MIDIInputController(platform::RunLoop& loop, platform::MIDISystem& system);
    ~MIDIInputController();
    MIDIInputController(const MIDIInputController&) = delete;
    MIDIInputController& operator=(const MIDIInputController&) = delete;

    platform::Published<bool> isConnected{false};
    platform::Published<std::vector<std::string>> connectedSourceNames;
    platform::Published<std::string> lastMessageDescription{std::string("—")};
    platform::Published<bool> isEnabled{true};

    std::function<void(int slotIndex)> onPlaySlot;
    std::function<void(std::uint8_t note)> onNoteOff;
    std::function<void(std::uint8_t channel, std::uint8_t controller, std::uint8_t value)>
        onControlChange;
    std::function<void(std::uint8_t status, std::uint8_t data1, std::uint8_t data2)> onRawMessage;
    std::function<void(std::uint8_t channel, std::uint8_t note)> onLearnedNote;
    // Whether a note-on of this channel and note is bound to a control of the show rather than
    // a cue. None: every note is a cue's.
    std::function<bool(std::uint8_t channel, std::uint8_t note)> isControlNote;

    std::map<std::uint8_t, int> noteToSlotMap;
    std::optional<std::uint8_t> autoBaseNote;
    int slotCount = 40;

    // Creates the client and the input port and connects every source. Does nothing once a
    // client exists (also when its port could not be made).
    void start();
    // Connects the sources not yet connected, forgets those that are gone (so a device that
    // is plugged in again is connected again) and publishes the names of all sources.
    void connectAllSources();
    // Disconnects every source and releases the port and the client.
    void stop();

    bool hasClient() const { return client_ != nullptr; }
    bool hasInputPort() const { return hasInputPort_; }
    const std::vector<std::string>& connectedSources() const { return connectedSources_; }

    // A note-on that waited longer than this (seconds) for its turn is stale.
    static constexpr double kStaleNoteOnAfter = 0.05;
    static constexpr double kDropReportInterval = 1.0;

  private:
    void takeQueued();
    void reportDropped(std::size_t count);
    void controlChangeStep(const MIDIMessage& message);
    void noteStep(const MIDIMessage& message);
    void noteOffStep(std::uint8_t note);
    void noteToSlotStep(std::uint8_t note);

    platform::RunLoop& loop_;
    platform::MIDISystem& system_;
    std::unique_ptr<platform::MIDIClient> client_;
    bool hasInputPort_ = false;
    std::vector<std::string> connectedSources_;
    // Shared with the MIDI thread's handler, which may outlive the controller briefly.
    std::shared_ptr<MIDIInputQueue> queue_;
    std::size_t droppedSinceReport_ = 0;
    platform::TimerHandle dropReport_;
    // Work handed to the main thread holds this weakly and does nothing once it is gone.
    std::shared_ptr<MIDIInputController*> lifetime_;
};

}  // namespace kestio
