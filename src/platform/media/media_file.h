#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/ffmpeg/ffmpeg_handles.h"
#include "platform/ffmpeg/guarded_input.h"
#include "platform/media/loaded.h"

namespace kestio::platform::media {

// An opened container. Owns the format context; all I/O goes through its ffmpeg::IoControl.
// Used by one thread at a time.
class MediaFile {
  public:
    MediaFile(MediaFile&&) noexcept = default;
    MediaFile& operator=(MediaFile&&) noexcept = default;
    ~MediaFile() = default;

    // Opens `path` with ffmpeg::openGuardedInput (guarded_input.h): a regular local file, read by
    // one of the demuxers of the media the application plays, opening no other file. With
    // `findStreamInfo` the streams are probed by decoding a little; without it only the
    // headers are read.
    static Loaded<MediaFile> open(const std::filesystem::path& path,
                                  std::shared_ptr<ffmpeg::IoControl> io, bool findStreamInfo);

    AVFormatContext* context() const { return format_.get(); }
    AVStream* stream(int index) const { return format_->streams[index]; }
    ffmpeg::IoControl& io() const { return *io_; }

    // The first video stream that is a picture sequence (attached cover pictures are not
    // video), or -1.
    int videoStreamIndex() const;
    // The first audio stream, or -1.
    int audioStreamIndex() const;
    // The start of the stream's timeline in seconds (its first timestamp), 0 when unknown.
    double streamOrigin(int index) const;
    // The container's start in seconds: the earliest start of its video and audio tracks (the
    // time the sound's frame 0 stands for, see AudioDecoder); `index`'s own start when no
    // track states one, 0 when unknown. Counting a track's times from here keeps its offset
    // from the other tracks.
    double containerOrigin(int index) const;
    // The container's duration in seconds, from the format or else the longest stream;
    // +infinity when the file does not say.
    double duration() const;
    bool isMovFamily() const;
    // The end of the first video (else audio) stream's last packet, counted from the
    // container's start, found by reading the packets: for files whose container states no
    // duration. Reads at most 512 MiB (and for at most 5 s) and extrapolates beyond; 0 for a
    // stream without packets, +infinity when nothing tells. Leaves the read position at the end.
    double scanDuration();
    // Probes the streams by decoding a little (when open() was asked not to).
    Loaded<bool> findStreamInfo();

    // Reads the next packet (AVERROR_EOF at the end; AVERROR_EXIT when interrupted).
    int readPacket(AVPacket* packet);

  private:
    MediaFile() = default;
    std::shared_ptr<ffmpeg::IoControl> io_;
    ffmpeg::FormatPtr format_;
};

bool isAttachedPicture(const AVStream* stream);
// The clockwise rotation (0, 90, 180 or 270 degrees) that shows the stream's pictures upright.
int clockwiseRotation(const AVStream* stream);
// The stream's nominal frame rate: the average, else the real base rate, else 0.
double nominalFrameRate(const AVStream* stream);
double toSeconds(std::int64_t timestamp, AVRational timeBase);
std::int64_t fromSeconds(double seconds, AVRational timeBase);

}  // namespace kestio::platform::media
