#include "platform/midi/midi_port_names.h"

#include <gtest/gtest.h>

namespace kestio::platform {
namespace {

TEST(MIDIPortNames, OurOwnClientsAndTheirRenamedTwinsAreRecognised) {
    const std::set<std::string> own{"KestioMIDIClient", "KestioMIDIOutputClient"};
    EXPECT_TRUE(isOwnMIDIPort("KestioMIDIClient:KestioInputPort", own));
    EXPECT_TRUE(isOwnMIDIPort("KestioMIDIClient-01:KestioInputPort", own));
    EXPECT_TRUE(isOwnMIDIPort("KestioMIDIOutputClient-12:KestioOutputPort", own));
    EXPECT_TRUE(isOwnMIDIPort("KestioMIDIClient:KestioInputPort 130:0", own));

    EXPECT_FALSE(isOwnMIDIPort("KestioMIDIClientX:in", own));
    EXPECT_FALSE(isOwnMIDIPort("KestioMIDIClient-ab:in", own));
    EXPECT_FALSE(isOwnMIDIPort("KestioMIDIClient-:in", own));
    EXPECT_FALSE(isOwnMIDIPort("nanoKONTROL2:nanoKONTROL2 MIDI 1 24:0", own));
    EXPECT_FALSE(isOwnMIDIPort("Other:KestioMIDIClient", own));
}

TEST(MIDIPortNames, MidiThroughIsTheAlsaLoopbackOnly) {
    EXPECT_TRUE(isMIDIThroughPort("Midi Through:Midi Through Port-0 14:0"));
    EXPECT_FALSE(isMIDIThroughPort("Midi Throughput:x 20:0"));
}

TEST(MIDIPortNames, DisplayNamesDropTheAlsaAddressOnly) {
    EXPECT_EQ(midiDisplayName("nanoKONTROL2:nanoKONTROL2 MIDI 1 24:0", true),
              "nanoKONTROL2:nanoKONTROL2 MIDI 1");
    EXPECT_EQ(midiDisplayName("Synth:in 2:x", true), "Synth:in 2:x");
    EXPECT_EQ(midiDisplayName("a2j:Port 24:0", false), "a2j:Port 24:0");
    EXPECT_EQ(midiDisplayName("", false), std::nullopt);
    EXPECT_EQ(midiDisplayName(" 20:0", true), std::nullopt);
}

}  // namespace
}  // namespace kestio::platform
