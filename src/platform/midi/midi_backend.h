#pragma once

#include <memory>

#include "platform/midi/midi_system.h"
#include "platform/runloop/run_loop.h"

namespace kestio::platform {

// Which server carries MIDI. `automatic` takes the ALSA sequencer when its device can be
// opened, else JACK.
enum class MIDIApi { automatic, alsa, jack };

// The server `automatic` stands for on this machine now (never `automatic`).
MIDIApi resolveMIDIApi(MIDIApi api);

// The machine's MIDI system on the chosen server; clients compare their endpoint lists every
// `pollInterval` seconds on the run loop.
std::unique_ptr<MIDISystem> makeMIDISystem(RunLoop& loop, MIDIApi api = MIDIApi::automatic,
                                           double pollInterval = 1.0);

}  // namespace kestio::platform
