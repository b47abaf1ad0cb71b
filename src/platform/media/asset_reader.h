#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/media/loaded.h"

namespace kestio::platform::ffmpeg {
class IoControl;
}

namespace kestio::platform::media {

class MediaFile;

// What an asset reader delivers: 32-bit float samples, interleaved.
struct AudioReadSettings {
    // Output rate; 0: the rate of the first audio track (48000 when it gives none).
    double sampleRate = 0.0;
    // Output channels. A surround source with more channels than that is downmixed (centre
    // and surrounds at -3 dB, LFE left out); otherwise source channel i goes to output channel
    // i, a mono source goes to every output channel at full level, and a second source channel
    // beyond a single output one is dropped.
    int channels = 2;
    // Sum every audio track (at full level each) instead of reading the first one only.
    bool mixAllTracks = false;
};

struct AudioSampleBuffer {
    std::vector<float> samples;  // frameCount * channels, interleaved
    std::int64_t frameCount = 0;
};

// Decodes the sound of a media file from its start, chunk by chunk. Blocking: use it on a
// worker thread, one thread at a time (cancelReading() may come from any thread).
class AssetReader {
  public:
    enum class Status { Reading, Completed, Failed, Cancelled };

    // Fails when the file cannot be opened or has no audio track the player's sound path
    // carries (decoder, rate, channel count).
    static Loaded<std::unique_ptr<AssetReader>> open(const std::filesystem::path& path,
                                                     AudioReadSettings settings = {});
    ~AssetReader();
    AssetReader(const AssetReader&) = delete;
    AssetReader& operator=(const AssetReader&) = delete;

    double sampleRate() const { return rate_; }
    int channels() const { return channels_; }
    // The container's duration in seconds (+infinity when it does not say).
    double duration() const { return duration_; }

    // The next chunk, or nothing once the sound is over (Completed), reading failed (too many
    // damaged packets, or data the decoder refuses once taken in) or was cancelled.
    std::optional<AudioSampleBuffer> copyNextSampleBuffer();
    void cancelReading();
    Status status() const { return status_; }
    const std::string& error() const { return error_; }

  private:
    struct Track;
    AssetReader();
    bool readMore();
    std::int64_t framesReady() const;
    AudioSampleBuffer take(std::int64_t frames);

    std::shared_ptr<ffmpeg::IoControl> io_;
    std::unique_ptr<MediaFile> file_;
    std::vector<std::unique_ptr<Track>> tracks_;
    double rate_ = 48000.0;
    int channels_ = 2;
    double duration_ = 0.0;
    bool endOfFile_ = false;
    std::atomic<bool> cancelled_{false};
    Status status_ = Status::Reading;
    std::string error_;
};

}  // namespace kestio::platform::media
