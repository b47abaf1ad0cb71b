#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "control/midi_message.h"

namespace kestio {

// Decoded MIDI messages on their way from the MIDI thread to the main thread, held latest-only:
// one place per kind (note-on, note-off, control change), channel and note or controller number.
// A message that arrives while an older one of the same place still waits replaces it, so the
// queue never holds more than one message per place however fast a source sends (a stuck key, a
// device whose output is routed back to its input), and what the main thread takes is bounded.
//
// The MIDI thread puts; the main thread takes everything at once. At most one take is asked for
// at a time: put() says when the caller must hand a take to the main thread.
class MIDIInputQueue {
  public:
    struct Entry {
        MIDIMessage message;
        double arrivedAt = 0.0;  // host seconds
        std::uint64_t order = 0;
    };
    struct Batch {
        std::vector<Entry> entries;  // in the order their messages arrived
        std::size_t replaced = 0;    // messages put since the last take that a later one replaced
    };

    MIDIInputQueue();

    // Any thread. True when no take was pending: the caller posts one to the main thread.
    bool put(const MIDIMessage& message, double arrivedAt);
    // Takes what waits, oldest first, and lets the next put() ask for a take again.
    Batch take();

  private:
    static std::size_t placeOf(const MIDIMessage& message);

    std::mutex mutex_;
    std::vector<Entry> entries_;         // by place
    std::vector<bool> waiting_;          // by place
    std::vector<std::uint16_t> places_;  // the places that hold a message
    std::uint64_t nextOrder_ = 0;
    std::size_t replaced_ = 0;
    bool takePending_ = false;
};

}  // namespace kestio
