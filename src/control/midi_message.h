#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kestio {

// A channel message that the show acts on, decoded from the bytes of one packet.
struct MIDIMessage {
    enum class Kind { noteOn, noteOff, controlChange };

    Kind kind = Kind::noteOn;
    std::uint8_t status = 0;   // the status byte as received (type and channel)
    std::uint8_t channel = 0;  // 0-15
    std::uint8_t data1 = 0;    // note or controller number
    std::uint8_t data2 = 0;    // velocity or controller value

    bool operator==(const MIDIMessage&) const = default;
};

// Decodes the note-on, note-off and control-change messages of one packet, in byte order.
// Each message is three bytes; there is no running status. A note-on with velocity 0 is a
// note-off. Any other byte is skipped on its own. A message cut short by the end of the
// packet ends the packet. Real-time bytes (0xF8 to 0xFF) may come between the bytes of a
// message and are passed over without disturbing it. Any other status byte (0x80 or above)
// where a data byte is due abandons the message begun before it, and decoding goes on at that
// status byte, so a malformed packet never yields a note or value above 127.
std::vector<MIDIMessage> parseMIDIPacket(const std::uint8_t* bytes, std::size_t length);

// "Note On   Ch1  Note60  Vel100", "Note Off  Ch1  Note60  Vel0", "CC  Ch1  CC7 = 100":
// the line shown for a received message (channel counted from 1).
std::string describeReceivedMIDIMessage(const MIDIMessage& message);

// The line shown for a sent message, built from the values as the caller passed them
// (channel counted from 1, nothing clamped). A sent note-off shows no velocity.
std::string describeSentMIDIMessage(std::uint8_t status, int data1, int data2, int channel);

}  // namespace kestio
