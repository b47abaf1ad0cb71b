#pragma once

#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace kestio::platform {

// Port names as the MIDI backends report them: "client:port" on JACK, and
// "client:port 20:0" (names, then the numeric address) on the ALSA sequencer.

// The client part of a port name: everything before the first ':'.
std::string_view midiClientPart(std::string_view portName);

// True when the port belongs to one of `ownClientNames`. The sound server renames a second
// client of the same name "name-01", "name-02", ...; those count as ours too.
bool isOwnMIDIPort(std::string_view portName, const std::set<std::string>& ownClientNames);

// True for the ALSA "Midi Through" loopback, which echoes whatever is sent to it.
bool isMIDIThroughPort(std::string_view portName);

// The name to show for a port: the ALSA numeric address is removed; an empty name gives none.
std::optional<std::string> midiDisplayName(std::string_view portName, bool alsa);

}  // namespace kestio::platform
