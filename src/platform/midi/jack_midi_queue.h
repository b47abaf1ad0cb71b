#pragma once

#include <jack/ringbuffer.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestio::platform {

// MIDI messages between a JACK client's process callback and another thread, through libjack's
// lock-free ring: one writer, one reader, nothing locked or allocated on the process callback's
// side. The client's output queue is written by a thread of ours and drained into the port by
// the process callback; its input queue is written by the process callback and read by the
// thread that hands the messages on.
//
// Each message carries the number of the route (the output port's connection) it was sent for.
// The port is connected on another thread, a little after the message is queued: the reader
// holds a message back while its route is newer than the one in place, and drops one whose route
// was already replaced, so that no message reaches a destination it was not sent to.
class JackMidiQueue {
  public:
    explicit JackMidiQueue(std::size_t bytes);
    ~JackMidiQueue();
    JackMidiQueue(const JackMidiQueue&) = delete;
    JackMidiQueue& operator=(const JackMidiQueue&) = delete;

    // The writer's side: queues one message whole, for `route`; false when there is no room.
    bool push(const std::uint8_t* bytes, std::size_t length, std::uint32_t route);
    // The process callback's side: clears the port buffer of this cycle and writes into it, in
    // order, the queued messages of `currentRoute` that fit, dropping those of older routes. The
    // rest wait for the next cycle. Route numbers only grow (wrapping around).
    void drainInto(void* portBuffer, std::uint32_t currentRoute);
    // The reader's side of a queue without routes: takes the oldest message into `bytes`; false
    // when there is none.
    bool pop(std::vector<std::uint8_t>& bytes);

  private:
    jack_ringbuffer_t* ring_;
};

}  // namespace kestio::platform
