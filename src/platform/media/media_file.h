#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/media/ffmpeg_handles.h"
#include "platform/media/loaded.h"

namespace kestio::platform::media {

// Limits that keep hostile or broken files from taking the process down.
struct MediaLimits {
    // Largest picture decoded: DCI 8K. Anything larger is a misread header (a 1x1 WebP can
    // claim 11330x446) or not something a live show can play.
    static constexpr int kMaxSide = 8192;
    static constexpr std::int64_t kMaxPixels = 8192LL * 4352LL;
    // How long one blocking operation (opening, reading a packet) may take before it is
    // abandoned, so a stalled network mount cannot hang a thread for ever.
    static constexpr double kOpenSeconds = 20.0;
    static constexpr double kReadSeconds = 10.0;

    static bool pictureSizeAllowed(int width, int height) {
        return width > 0 && height > 0 && width <= kMaxSide && height <= kMaxSide &&
               static_cast<std::int64_t>(width) * height <= kMaxPixels;
    }
};

// Interrupts blocking FFmpeg I/O: at once when cancelled from any thread, or when the
// operation under way runs past its deadline.
class IoControl {
  public:
    void cancel() { cancelled_.store(true); }
    bool cancelled() const { return cancelled_.load(); }
    // Sets the deadline of the next blocking operation, `seconds` from now.
    void armDeadline(double seconds);
    bool shouldInterrupt() const;

  private:
    std::atomic<bool> cancelled_{false};
    std::atomic<std::int64_t> deadlineNs_{INT64_MAX};
};

// An opened container. Owns the format context; all I/O goes through its IoControl.
// Used by one thread at a time.
class MediaFile {
  public:
    MediaFile(MediaFile&&) noexcept = default;
    MediaFile& operator=(MediaFile&&) noexcept = default;
    ~MediaFile() = default;

    // Opens `path` as a local file (no other protocol is allowed, so a playlist inside a
    // file cannot reach the network). With `findStreamInfo` the streams are probed by
    // decoding a little; without it only the headers are read.
    static Loaded<MediaFile> open(const std::filesystem::path& path, std::shared_ptr<IoControl> io,
                                  bool findStreamInfo);

    AVFormatContext* context() const { return format_.get(); }
    AVStream* stream(int index) const { return format_->streams[index]; }
    IoControl& io() const { return *io_; }

    // The first video stream that is a picture sequence (attached cover pictures are not
    // video), or -1.
    int videoStreamIndex() const;
    // The first audio stream, or -1.
    int audioStreamIndex() const;
    // The start of the stream's timeline in seconds (its first timestamp), 0 when unknown.
    double streamOrigin(int index) const;
    // The container's duration in seconds, from the format or else the longest stream;
    // +infinity when the file does not say.
    double duration() const;
    bool isMovFamily() const;
    // The end of the first video (else audio) stream's last packet, found by reading the
    // packets: for files whose container states no duration. Reads at most 512 MiB (and for
    // at most 5 s) and extrapolates beyond; 0 for a stream without packets, +infinity when
    // nothing tells.
    // Leaves the read position at the end.
    double scanDuration();
    // Probes the streams by decoding a little (when open() was asked not to).
    Loaded<bool> findStreamInfo();

    // Reads the next packet (AVERROR_EOF at the end; AVERROR_EXIT when interrupted).
    int readPacket(AVPacket* packet);

  private:
    MediaFile() = default;
    std::shared_ptr<IoControl> io_;
    ff::FormatPtr format_;
};

bool isAttachedPicture(const AVStream* stream);
// The clockwise rotation (0, 90, 180 or 270 degrees) that shows the stream's pictures upright.
int clockwiseRotation(const AVStream* stream);
// The stream's nominal frame rate: the average, else the real base rate, else 0.
double nominalFrameRate(const AVStream* stream);
double toSeconds(std::int64_t timestamp, AVRational timeBase);
std::int64_t fromSeconds(double seconds, AVRational timeBase);

}  // namespace kestio::platform::media
