#include "platform/midi/jack_midi_queue.h"

#include <jack/midiport.h>

namespace kestio::platform {

JackMidiQueue::JackMidiQueue(std::size_t bytes) : ring_(jack_ringbuffer_create(bytes)) {}

JackMidiQueue::~JackMidiQueue() {
    jack_ringbuffer_free(ring_);
}

namespace {
struct Header {
    std::uint32_t size;
    std::uint32_t route;
};
}  // namespace

bool JackMidiQueue::push(const std::uint8_t* bytes, std::size_t length, std::uint32_t route) {
    const Header header{static_cast<std::uint32_t>(length), route};
    if (jack_ringbuffer_write_space(ring_) < sizeof header + header.size) {
        return false;
    }
    jack_ringbuffer_write(ring_, reinterpret_cast<const char*>(&header), sizeof header);
    jack_ringbuffer_write(ring_, reinterpret_cast<const char*>(bytes), header.size);
    return true;
}

void JackMidiQueue::drainInto(void* portBuffer, std::uint32_t currentRoute) {
    jack_midi_clear_buffer(portBuffer);
    Header header{};
    while (jack_ringbuffer_peek(ring_, reinterpret_cast<char*>(&header), sizeof header) ==
               sizeof header &&
           jack_ringbuffer_read_space(ring_) >= sizeof header + header.size) {
        // The difference, read as signed, orders two route numbers across a wrap-around.
        const auto age = static_cast<std::int32_t>(currentRoute - header.route);
        if (age < 0) {
            break;  // its route is not in place yet
        }
        if (age > 0) {
            jack_ringbuffer_read_advance(ring_, sizeof header + header.size);
            continue;
        }
        jack_midi_data_t* room = jack_midi_event_reserve(portBuffer, 0, header.size);
        if (room == nullptr) {
            break;
        }
        jack_ringbuffer_read_advance(ring_, sizeof header);
        jack_ringbuffer_read(ring_, reinterpret_cast<char*>(room), header.size);
    }
}

bool JackMidiQueue::pop(std::vector<std::uint8_t>& bytes) {
    Header header{};
    if (jack_ringbuffer_peek(ring_, reinterpret_cast<char*>(&header), sizeof header) !=
            sizeof header ||
        jack_ringbuffer_read_space(ring_) < sizeof header + header.size) {
        return false;
    }
    jack_ringbuffer_read_advance(ring_, sizeof header);
    bytes.resize(header.size);
    jack_ringbuffer_read(ring_, reinterpret_cast<char*>(bytes.data()), header.size);
    return true;
}

}  // namespace kestio::platform
