#include "platform/midi/jack_midi_queue.h"

#include <jack/midiport.h>

namespace kestio::platform {

JackMidiQueue::JackMidiQueue(std::size_t bytes) : ring_(jack_ringbuffer_create(bytes)) {}

JackMidiQueue::~JackMidiQueue() {
    jack_ringbuffer_free(ring_);
}

bool JackMidiQueue::push(const std::uint8_t* bytes, std::size_t length) {
    const auto size = static_cast<std::uint32_t>(length);
    if (jack_ringbuffer_write_space(ring_) < sizeof size + size) {
        return false;
    }
    jack_ringbuffer_write(ring_, reinterpret_cast<const char*>(&size), sizeof size);
    jack_ringbuffer_write(ring_, reinterpret_cast<const char*>(bytes), size);
    return true;
}

void JackMidiQueue::drainInto(void* portBuffer) {
    jack_midi_clear_buffer(portBuffer);
    std::uint32_t size = 0;
    while (jack_ringbuffer_peek(ring_, reinterpret_cast<char*>(&size), sizeof size) ==
               sizeof size &&
           jack_ringbuffer_read_space(ring_) >= sizeof size + size) {
        jack_midi_data_t* room = jack_midi_event_reserve(portBuffer, 0, size);
        if (room == nullptr) {
            break;
        }
        jack_ringbuffer_read_advance(ring_, sizeof size);
        jack_ringbuffer_read(ring_, reinterpret_cast<char*>(room), size);
    }
}

}  // namespace kestio::platform
