#include "platform/midi/midi_backend.h"

#include <fcntl.h>
#include <unistd.h>

#include "platform/midi/jack_midi_system.h"
#include "platform/midi/rtmidi_system.h"

namespace kestio::platform {

namespace {

bool alsaSequencerOpens() {
    const int fd = ::open("/dev/snd/seq", O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    ::close(fd);
    return true;
}

}  // namespace

MIDIApi resolveMIDIApi(MIDIApi api) {
    if (api != MIDIApi::automatic) {
        return api;
    }
    return alsaSequencerOpens() ? MIDIApi::alsa : MIDIApi::jack;
}

std::unique_ptr<MIDISystem> makeMIDISystem(RunLoop& loop, MIDIApi api, double pollInterval) {
    if (resolveMIDIApi(api) == MIDIApi::alsa) {
        return std::make_unique<RtMidiSystem>(loop, pollInterval);
    }
    return std::make_unique<JackMIDISystem>(loop, pollInterval);
}

}  // namespace kestio::platform
