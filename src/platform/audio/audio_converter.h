#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/audio/audio_format.h"
#include "platform/audio/channel_map.h"
#include "platform/audio/pcm_buffer.h"

namespace kestio::platform::audio {

// Converts whole buffers between float formats: channel count (through a channel map),
// sample rate and layout (interleaved or not), with libswresample. Not for the render thread.
class AudioConverter {
  public:
    // Null when either format is invalid.
    static std::unique_ptr<AudioConverter> make(const AudioFormat& from, const AudioFormat& to);

    const AudioFormat& inputFormat() const { return from_; }
    const AudioFormat& outputFormat() const { return to_; }

    // One entry per output channel: the input channel it carries, or -1 for silence. Starts as
    // defaultChannelMap. False (and no change) when the map has the wrong size or names a
    // channel the input does not have.
    bool setChannelMap(const ChannelMap& map);
    const ChannelMap& channelMap() const { return map_; }

    // The frames `inputFrames` input frames become.
    uint32_t outputFramesFor(uint32_t inputFrames) const;

    // Converts every frame of `in` into `out` and sets out's frame length. Each call is a
    // stream of its own (the resampler starts afresh and is drained at the end). Returns the
    // reason on failure: formats that differ from the converter's, or too small an output.
    std::optional<std::string> convert(PcmBuffer& out, const PcmBuffer& in);

  private:
    AudioConverter(const AudioFormat& from, const AudioFormat& to);

    AudioFormat from_;
    AudioFormat to_;
    ChannelMap map_;
};

}  // namespace kestio::platform::audio
