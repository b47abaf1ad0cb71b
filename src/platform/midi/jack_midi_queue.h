#pragma once

#include <jack/ringbuffer.h>

#include <cstddef>
#include <cstdint>

namespace kestio::platform {

// MIDI messages from one thread to a JACK client's process callback, through libjack's lock-free
// ring: one writer, one reader, nothing locked or allocated on either side.
class JackMidiQueue {
  public:
    explicit JackMidiQueue(std::size_t bytes);
    ~JackMidiQueue();
    JackMidiQueue(const JackMidiQueue&) = delete;
    JackMidiQueue& operator=(const JackMidiQueue&) = delete;

    // The writer's side: queues one message whole; false when there is no room for it.
    bool push(const std::uint8_t* bytes, std::size_t length);
    // The process callback's side: clears the port buffer of this cycle and writes into it, in
    // order, the queued messages that fit; the rest wait for the next cycle.
    void drainInto(void* portBuffer);

  private:
    jack_ringbuffer_t* ring_;
};

}  // namespace kestio::platform
