#include "control/midi_message.h"

namespace kestio {

namespace {
bool isStatusByte(std::uint8_t byte) {
    return byte >= 0x80;
}

// Timing clock, start, continue, stop, active sensing, reset (and the two undefined codes among
// them): a sender may slip them in anywhere, even between the bytes of another message.
bool isRealTimeByte(std::uint8_t byte) {
    return byte >= 0xF8;
}
}  // namespace

std::vector<MIDIMessage> parseMIDIPacket(const std::uint8_t* bytes, std::size_t length) {
    std::vector<MIDIMessage> messages;
    std::size_t i = 0;
    while (i < length) {
        const std::uint8_t status = bytes[i];
        const std::uint8_t kind = status & 0xF0;
        if (kind != 0x80 && kind != 0x90 && kind != 0xB0) {
            ++i;
            continue;
        }
        std::uint8_t data[2] = {};
        std::size_t count = 0;
        std::size_t next = i + 1;
        while (count < 2 && next < length) {
            const std::uint8_t byte = bytes[next];
            if (isRealTimeByte(byte)) {
                ++next;  // passes through without touching the message in progress
                continue;
            }
            if (isStatusByte(byte)) {
                break;
            }
            data[count++] = byte;
            ++next;
        }
        if (count < 2) {
            if (next >= length) {
                break;  // cut short by the end of the packet
            }
            i = next;  // a status byte where a data byte is due: start over there
            continue;
        }
        MIDIMessage message;
        message.status = status;
        message.channel = status & 0x0F;
        message.data1 = data[0];
        message.data2 = data[1];
        if (kind == 0xB0) {
            message.kind = MIDIMessage::Kind::controlChange;
        } else {
            const bool on = kind == 0x90 && message.data2 != 0;
            message.kind = on ? MIDIMessage::Kind::noteOn : MIDIMessage::Kind::noteOff;
        }
        messages.push_back(message);
        i = next;
    }
    return messages;
}

std::string describeReceivedMIDIMessage(const MIDIMessage& message) {
    const std::string channel = std::to_string(message.channel + 1);
    if (message.kind == MIDIMessage::Kind::controlChange) {
        return "CC  Ch" + channel + "  CC" + std::to_string(message.data1) + " = " +
               std::to_string(message.data2);
    }
    const char* head = message.kind == MIDIMessage::Kind::noteOn ? "Note On " : "Note Off";
    return std::string(head) + "  Ch" + channel + "  Note" + std::to_string(message.data1) +
           "  Vel" + std::to_string(message.data2);
}

std::string describeSentMIDIMessage(std::uint8_t status, int data1, int data2, int channel) {
    const std::string ch = std::to_string(channel);
    switch (status) {
        case 0x90:
            return "Note On   Ch" + ch + "  Note" + std::to_string(data1) + "  Vel" +
                   std::to_string(data2);
        case 0x80:
            return "Note Off  Ch" + ch + "  Note" + std::to_string(data1);
        case 0xB0:
            return "CC  Ch" + ch + "  CC" + std::to_string(data1) + " = " + std::to_string(data2);
        default:
            return "Ch" + ch + "  " + std::to_string(data1) + " " + std::to_string(data2);
    }
}

}  // namespace kestio
