#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/audio/channel_map.h"

namespace kestio::platform::audio {
class AudioFile;
}

namespace kestio {

// The sound of a clip between its start and end times, ready to stream: an open file (read
// through a channel selection where the channels had to be reduced), and the span to play in
// that file's frames. Made off the main thread by loadClipSound.
struct ClipSound {
    // The media has a sound track that could be opened.
    bool hasAudio = false;
    // Set when the span holds at least one frame.
    std::shared_ptr<platform::audio::AudioFile> file;
    int64_t startFrame = 0;
    uint64_t frameCount = 0;
    // Channels of the sound as it will be scheduled.
    uint32_t channelCount = 2;
    // Console lines of the load, in order, for the main thread to print.
    std::vector<std::string> lines;
};

// Which channels of a sound are streamed: the sound of a video always as two channels (its
// first two, a mono sound on both); an audio file as it is when the output has as many
// channels, else as the output's count with the file's first two channels on the first two
// outputs and the others silent. An empty selection streams the file's own channels.
platform::audio::ChannelMap clipChannelSelection(uint32_t sourceChannels, uint32_t outputChannels,
                                                 bool videoSound);

// Opens `path` and works out the span from `startTime` (seconds; negative or not finite counts
// as 0) to `endTime` (none, or not finite: the end of the sound), clamped to the sound's end.
// Blocks on the disk and the decoder's probe: never call it on the main thread. `label` names
// the slot in the console lines.
ClipSound loadClipSound(const std::filesystem::path& path, double startTime,
                        std::optional<double> endTime, uint32_t outputChannels,
                        const std::string& label);

}  // namespace kestio
