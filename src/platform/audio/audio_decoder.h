#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/audio/audio_format.h"
#include "platform/ffmpeg/ffmpeg_handles.h"
#include "platform/ffmpeg/guarded_input.h"

namespace kestio::platform::audio {

// Decodes the sound track of a media file with FFmpeg into float frames at exact positions.
// Frame 0 is the first sample meant to be heard (after MP3/AAC encoder delay), the length ends
// before the encoder's end padding, and any frame can be read: a jump decodes from before the
// target and drops what comes before it. Frames count from the container's start (the earliest
// start of its tracks), so that the sound keeps its offset from the pictures; a sound track
// that starts later is silent until its first sample. The file is opened with
// ffmpeg::openGuardedInput. Used by AudioFile; one thread at a time.
class AudioDecoder {
  public:
    static std::unique_ptr<AudioDecoder> open(const std::filesystem::path& path,
                                              std::string& error);
    ~AudioDecoder();

    // Non-interleaved float at the stream's rate and channel count.
    AudioFormat format() const { return format_; }
    int64_t length() const { return length_; }
    bool containsVideo() const { return containsVideo_; }

    // Reads up to `frames` frames from frame `position` into `planes` (one per channel).
    // Returns the number read (fewer at the end), or -1 on error.
    int64_t read(int64_t position, float* const* planes, uint32_t frames, std::string& error);

  private:
    AudioDecoder() = default;
    // Opens without probing the streams when the container's headers describe them (unless
    // `probe`); sets `probeNeeded` and fails when the first sound frame contradicts them.
    static std::unique_ptr<AudioDecoder> open(const std::filesystem::path& path, bool probe,
                                              std::string& error, bool& probeNeeded);
    // The first packet of the sound decodes to the rate and channel count the headers state.
    bool headersConfirmed();

    // Reads the next packet into packet_, within the read deadline.
    int readPacket();
    int64_t framesFromTimestamp(int64_t ts) const;
    int64_t timestampFromFrames(int64_t frames) const;
    int64_t measureLength();
    bool seek(int64_t position, int64_t preroll, std::string& error);
    // Decodes at least one more frame into the pending samples; false at the end.
    bool decodeMore(std::string& error);
    bool appendFrame(const AVFrame& frame, std::string& error);
    void dropPending(int64_t frames);
    int64_t pendingEnd() const { return pendingStart_ + pendingFrames_; }

    std::unique_ptr<ffmpeg::IoControl> io_;  // outlives the format context
    ffmpeg::FormatPtr format_ctx_;
    ffmpeg::CodecPtr codec_;
    ffmpeg::SwrPtr swr_;
    ffmpeg::PacketPtr packet_;
    ffmpeg::FramePtr frame_;
    int stream_ = -1;
    AVRational timeBase_{1, 1};
    int64_t startTime_ = 0;    // stream time of frame 0: the container's start
    int64_t streamStart_ = 0;  // the stream's own start (its first sample to be heard)
    int64_t firstPacket_ = 0;  // stream time of the first packet (before frame 0 when primed)
    bool lossy_ = false;
    bool containsVideo_ = false;
    AudioFormat format_;
    int64_t length_ = 0;

    std::vector<std::vector<float>> pending_;  // decoded samples not yet read, per channel
    std::size_t pendingOffset_ = 0;            // first unread sample in pending_
    int64_t pendingFrames_ = 0;
    int64_t pendingStart_ = 0;  // frame index of the first unread sample
    bool positioned_ = false;   // pendingStart_ is known
    bool inputEnded_ = false;
    bool drained_ = false;
    int damagedInARow_ = 0;  // packets the decoder refused since it last gave a frame
    // The pending samples are the first the stream decodes (the last jump aimed at its first
    // packet and nothing has been dropped since).
    bool fromFirstPacket_ = false;
};

}  // namespace kestio::platform::audio
