#pragma once

#include <QImage>
#include <QSize>
#include <filesystem>
#include <functional>
#include <memory>

#include "platform/ffmpeg/ffmpeg_handles.h"
#include "platform/graphics/picture.h"
#include "platform/graphics/worker_pool.h"
#include "platform/media/loaded.h"
#include "platform/media/mapped_buffer_pool.h"
#include "platform/media/media_file.h"

namespace kestio::platform::media {

// Reads and decodes the video track of one file into pictures. Synchronous: one decode
// thread (or a worker) drives it. Times are seconds from the container's start (the earliest
// start of its video and audio tracks, MediaFile::containerOrigin), the time the sound's frame
// 0 stands for: a video track that starts later than the sound has its first picture after 0,
// and that picture is the one showing from 0 until then.
//
// Images are QImage::Format_RGB32 (Format_ARGB32_Premultiplied for a track with an alpha
// channel) at display size (coded size with the pixel aspect applied), optionally turned upright
// by the track's rotation.
class VideoDecoder {
  public:
    struct Options {
        // Probe the streams by decoding a little before playing. Skipped for QuickTime/MP4 and
        // for sound files whose headers say everything (WAV, AIFF), when false is asked for.
        bool findStreamInfo = true;
        // Decoder threads; 0 lets FFmpeg choose; kPlaybackThreads chooses for playing in
        // real time with little memory (see below).
        int threads = 0;
        // Converts large pictures in bands of rows at once, beside decoding's own threads
        // (WorkerPool::shared() when null).
        WorkerPool* conversionPool = nullptr;
    };
    // Frame threading holds a picture per thread, slice threading none: intra-only codecs that
    // split pictures into slices (ProRes, DNxHD, ...) take slices, others frames where the
    // codec can. The count grows with the picture size (2 up to 720p, 3 up to 1080p, 4 above;
    // frame threads stay at 3 up to 2160p at 30 pictures a second) and never exceeds the cores
    // this process may run on (its CPU affinity).
    static constexpr int kPlaybackThreads = -1;

    ~VideoDecoder();
    VideoDecoder(const VideoDecoder&) = delete;
    VideoDecoder& operator=(const VideoDecoder&) = delete;

    // Opens the file and its video decoder. A file without a video track opens too
    // (hasVideo() false) when it has a decodable audio track; otherwise it fails.
    static Loaded<std::unique_ptr<VideoDecoder>> open(const std::filesystem::path& path,
                                                      std::shared_ptr<ffmpeg::IoControl> io,
                                                      Options options);

    bool hasVideo() const { return codec_ != nullptr; }
    // The container's duration (+infinity when unknown).
    double duration() const { return duration_; }
    // Nominal frames per second (0 when unknown).
    double frameRate() const { return frameRate_; }
    // One frame at the nominal rate (1/30 s when the rate is unknown).
    double nominalFrameDuration() const;
    int rotation() const { return rotation_; }
    // The time of the track's first picture: decoding from the top shows it first, and a seek
    // to it or before it lands on it.
    double firstPictureTime() const { return trackStart_ - origin_; }
    // The threads the video decoder runs (1 without threading).
    int threadCount() const;
    // The size pictures are shown at: pixel aspect applied, and rotated when `upright`.
    QSize displaySize(bool upright) const;

    enum class Step { Frame, End };
    // The next frame in presentation order (reading and sending packets as needed). End at
    // the end of the file, on a read error, when interrupted and when the track has no video.
    Step decodeNext(AVFrame* frame);

    // Lower-level steps, for a caller that reads ahead: the next packet of the video track
    // (false at the end), sending one (nullptr drains), receiving a frame (FFmpeg codes;
    // after a seek the frame it landed on comes first).
    bool readPacket(AVPacket* packet);
    int send(const AVPacket* packet);
    int receive(AVFrame* frame);

    // The presentation time of a decoded frame; frames without a timestamp follow the
    // previous one.
    double frameTime(const AVFrame& frame);
    double frameDuration(const AVFrame& frame) const;
    double packetDuration(const AVPacket& packet) const;

    // Restarts decoding so that the first frame it gives starts at or before `t` (a key
    // frame), or is the first frame of the video when `t` lies before every key frame (or
    // before the first picture, which then shows at `t`); decoding on from there reaches the
    // frame that shows at `t` exactly. A time that is not a number or negative counts as 0.
    //
    // Containers without an index of key frames (MPEG transport and program streams) are
    // positioned by time stamps and may land after the key frame `t` needs, so that the first
    // frame comes after `t` or none comes at all: the landing is checked by decoding, and the
    // seek backs off 1, 2, 4 ... seconds until it holds, decoding from the top once that
    // reaches the start. Blocking; `stopRequested` (polled between packets) and the file's
    // ffmpeg::IoControl end it early. False when stopped, or when the file cannot be positioned at
    // all.
    bool seek(double t, const std::function<bool()>& stopRequested = {});

    // The frame as a picture, fitted into `maxSize` when that is valid (never enlarged). A frame
    // flagged as two interlaced fields is made whole first (see field_deinterlace.h), here and
    // in toPicture().
    // A null image when the frame is larger than ffmpeg::MediaLimits allow or cannot be converted.
    // Large pictures that keep their height are converted in bands of rows on the conversion
    // pool at once; the picture is the one a single pass gives.
    // The picture's memory comes from the decoder's pool of picture buffers and goes back to it
    // when the last copy of the picture is gone (see MappedBufferPool).
    QImage toImage(const AVFrame& frame, bool upright, QSize maxSize = {});
    // The frame as a picture to play. A frame of 8-bit 4:2:0 shown at its coded size and not
    // turned (what most clips decode to), in one of the decoder's own buffers (see
    // MappedBufferPool::holds()), stays as decoded, holding the buffer until the picture is
    // gone, and is converted where it is drawn; any other frame is toImage()'s.
    Picture toPicture(const AVFrame& frame, bool upright);
    // Unmaps the picture and frame buffers kept for reuse: a decoder with nothing to do keeps
    // none (decoded frames come from a pool of the decoder's own, too: FFmpeg's would keep as
    // many frames as the busiest moment needed, a seek's say, until the decoder closes).
    void releaseSpareBuffers();

  private:
    enum class Landing { AtOrBefore, After, Nothing, Stopped };

    VideoDecoder() = default;
    QSize displaySizeOf(int width, int height, AVRational sar) const;
    // A frame of two interlaced fields made whole (see field_deinterlace.h); null for a
    // progressive frame or a format that cannot be.
    ffmpeg::FramePtr deinterlaced(const AVFrame& frame);
    // The frame's own time stamp in seconds from the origin (NaN when it has none).
    double stampedTime(const AVFrame& frame) const;
    bool seekContainer(double t);
    bool rewind();
    void restart();
    Landing checkLanding(double t, const std::function<bool()>& stopRequested);
    // For a stream that states no start time: the time of its first frame becomes the origin
    // and the track's start (the frame is kept as a landing). False when interrupted.
    bool findOriginByDecoding();

    // The buffers of decoded frames (before codec_, which uses it until it is freed).
    MappedBufferPool frameBuffers_{2};
    std::unique_ptr<MediaFile> file_;
    ffmpeg::CodecPtr codec_;
    ffmpeg::PacketPtr packet_;
    int stream_ = -1;
    AVRational timeBase_{1, 1};
    // The container's start, and the video track's own start, in seconds of the stream.
    double origin_ = 0.0;
    double trackStart_ = 0.0;
    double duration_ = 0.0;
    double frameRate_ = 0.0;
    int rotation_ = 0;
    double lastTime_ = 0.0;
    bool haveLastTime_ = false;
    bool draining_ = false;
    // The frame a seek landed on, handed out by the next receive().
    ffmpeg::FramePtr landed_;

    struct Converter;
    std::unique_ptr<Converter> converter_;
    WorkerPool* pool_ = nullptr;
    MappedBufferPool pictures_{1};
};

}  // namespace kestio::platform::media
