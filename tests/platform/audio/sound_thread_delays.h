#pragma once

// How late the threads carrying a sound test's sound ran, from the counters of the output
// device and of the recording (see support/sound_starvation.h). Each call takes what they
// counted since the last.

#include "platform/audio/pulse_audio_device.h"
#include "pulse_server.h"
#include "support/sound_starvation.h"
#include "timed_recording.h"

namespace kestio::test {

inline SoundThreadDelays delaysOf(platform::audio::PulseAudioDevice& device) {
    const auto output = device.takeTimings();
    SoundThreadDelays delays;
    delays.renderThread = output.latestWake;
    delays.underflows = output.underflows;
    return delays;
}

inline SoundThreadDelays delaysOf(platform::audio::PulseAudioDevice& device,
                                  TimedRecording& recording) {
    SoundThreadDelays delays = delaysOf(device);
    const auto recorded = recording.takeTimings();
    delays.recorder = recorded.latestPiece;
    delays.recordingHoles = recorded.holes;
    return delays;
}

inline SoundThreadDelays delaysOf(platform::audio::PulseAudioDevice& device,
                                  PulseServer::Recording& recording) {
    SoundThreadDelays delays = delaysOf(device);
    delays.recorder = recording.takeLatestPiece();
    return delays;
}

}  // namespace kestio::test
