#pragma once

// The one way a media file is opened with FFmpeg, for every reader (probe, pictures, sound).
// Shared by the media and audio areas.
//
// An input opened here:
// - is a regular file (a FIFO or a device would block the open for ever);
// - is read through the "file" protocol only, so nothing in it can reach the network;
// - is read by one of a fixed set of demuxers: the containers, sound files and pictures the
//   application plays. Demuxers whose files name other files (playlists, concatenation
//   lists, manifests, picture sequences) are refused, so a small text file can never stand
//   in for the media it names;
// - cannot open any further file: the context's io_open hook admits the file itself only;
// - can be interrupted from any thread, and every blocking step has a deadline.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "platform/ffmpeg/ffmpeg_handles.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
}

namespace kestio::platform::ffmpeg {

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
    void armDeadline(double seconds) {
        deadlineNs_.store(nowNs() + static_cast<std::int64_t>(seconds * 1e9));
    }
    bool shouldInterrupt() const { return cancelled_.load() || nowNs() > deadlineNs_.load(); }

  private:
    static std::int64_t nowNs() {
        using namespace std::chrono;
        return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
    }

    std::atomic<bool> cancelled_{false};
    std::atomic<std::int64_t> deadlineNs_{INT64_MAX};
};

namespace guarded {

// FFmpeg's names of the demuxers files are read with. Every other demuxer is refused, above
// all those that open further files: hls, dash, concat, imf, image2 (numbered picture
// sequences), vobsub, sdp, lavfi and the device inputs.
inline constexpr const char* kDemuxers =
    // clips
    "mov,mxf,mpegts,mpeg,mpegvideo,dv,matroska,avi,h264,hevc,m4v,"
    // sound
    "wav,w64,aiff,caf,flac,mp3,aac,ac3,eac3,"
    // single pictures, so that a picture under a clip's name is recognised as one
    "png_pipe,jpeg_pipe,tiff_pipe,bmp_pipe,webp_pipe,gif,gif_pipe";

// Marks a context opened here; the io_open hook admits nothing in any other context (a
// demuxer's nested context copies the hook but not the mark).
inline constexpr char kMark = 0;

inline int interrupt(void* opaque) {
    return static_cast<const IoControl*>(opaque)->shouldInterrupt() ? 1 : 0;
}

// Opens the context's own file, read-only and through the file protocol; refuses any other.
inline int ioOpen(AVFormatContext* s, AVIOContext** pb, const char* url, int flags,
                  AVDictionary** options) {
    if (s->opaque != &kMark || s->url == nullptr || url == nullptr ||
        std::strcmp(url, s->url) != 0 || (flags & AVIO_FLAG_WRITE) != 0) {
        return AVERROR(EPERM);
    }
    AVDictionary* local = nullptr;
    AVDictionary** dict = options != nullptr ? options : &local;
    av_dict_set(dict, "protocol_whitelist", "file", 0);
    const int rc = avio_open2(pb, url, flags, &s->interrupt_callback, dict);
    av_dict_free(&local);
    return rc;
}

struct DictionaryFreer {
    void operator()(AVDictionary* d) const { av_dict_free(&d); }
};

}  // namespace guarded

// Opens `path` for reading as described at the top of this file, interrupted through `io`
// (which must outlive the context). With `findStreamInfo` the streams are probed by decoding
// a little; without it only the headers are read. On failure returns null and sets `error`.
inline FormatPtr openGuardedInput(const std::filesystem::path& path, IoControl& io,
                                  bool findStreamInfo, std::string& error) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        error =
            std::filesystem::exists(path, ec) ? "Not a regular file" : "No such file or directory";
        return nullptr;
    }
    AVFormatContext* raw = avformat_alloc_context();
    if (raw == nullptr) {
        error = "Cannot allocate memory";
        return nullptr;
    }
    raw->interrupt_callback.callback = guarded::interrupt;
    raw->interrupt_callback.opaque = &io;
    raw->opaque = const_cast<char*>(&guarded::kMark);
    raw->io_open = guarded::ioOpen;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    av_dict_set(&options, "format_whitelist", guarded::kDemuxers, 0);
    // QuickTime references to other files stay unfollowed (FFmpeg's default, made explicit).
    av_dict_set(&options, "enable_drefs", "0", 0);
    // "file:" keeps a colon in the name from being read as a protocol.
    const std::string url = "file:" + path.string();
    io.armDeadline(MediaLimits::kOpenSeconds);
    int rc = avformat_open_input(&raw, url.c_str(), nullptr, &options);
    std::unique_ptr<AVDictionary, guarded::DictionaryFreer> optionsGuard(options);
    if (rc < 0) {
        // avformat_open_input frees the context on failure.
        error = rc == AVERROR(EINVAL) ? "The file's format cannot be played" : errorText(rc);
        return nullptr;
    }
    FormatPtr format(raw);
    if (findStreamInfo) {
        io.armDeadline(MediaLimits::kOpenSeconds);
        rc = avformat_find_stream_info(raw, nullptr);
        if (rc < 0) {
            error = errorText(rc);
            return nullptr;
        }
    }
    if (io.cancelled()) {
        error = errorText(AVERROR_EXIT);
        return nullptr;
    }
    return format;
}

// Whether the first bytes of `path` are those of a single picture (PNG, JPEG, TIFF, BMP, WebP,
// GIF, HEIF), judged from the content alone. A reader that wants sound
// asks this before it opens the file: FFmpeg's own probe would rank its numbered-picture demuxer
// (image2, refused above) first for a file named like a picture and complain on its log at
// every open.
inline bool isPictureFile(const std::filesystem::path& path) {
    constexpr const char* kPictureDemuxers[] = {"png_pipe",  "jpeg_pipe", "tiff_pipe", "bmp_pipe",
                                                "webp_pipe", "gif",       "gif_pipe"};
    constexpr std::streamsize kHead = 4096;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        return false;  // a FIFO would block the read; openGuardedInput refuses it
    }
    std::vector<unsigned char> head(kHead + AVPROBE_PADDING_SIZE, 0);
    std::ifstream in(path, std::ios::binary);
    in.read(reinterpret_cast<char*>(head.data()), kHead);
    if (in.gcount() <= 0) {
        return false;
    }
    // HEIF pictures, which FFmpeg reads as a QuickTime file without a movie, by the brand of
    // their file type box.
    constexpr const char* kPictureBrands[] = {"heic", "heix", "heim", "heis",
                                              "mif1", "msf1", "avif"};
    if (in.gcount() >= 12 && std::memcmp(head.data() + 4, "ftyp", 4) == 0 &&
        std::any_of(std::begin(kPictureBrands), std::end(kPictureBrands),
                    [&](const char* b) { return std::memcmp(head.data() + 8, b, 4) == 0; })) {
        return true;
    }
    AVProbeData probe{};
    probe.filename = "";
    probe.buf = head.data();
    probe.buf_size = static_cast<int>(in.gcount());
    int score = 0;
    const AVInputFormat* found = av_probe_input_format3(&probe, 1, &score);
    return found != nullptr &&
           std::any_of(std::begin(kPictureDemuxers), std::end(kPictureDemuxers),
                       [found](const char* name) { return std::strcmp(found->name, name) == 0; });
}

// The start of the container's timeline: the earliest start of its video and audio tracks
// (attached pictures aside). Every track's times count from here, so that a picture and the
// sound recorded with it keep the offset the container gives them.
struct ContainerStart {
    std::int64_t timestamp = 0;
    AVRational timeBase{1, 1};
};

inline std::optional<ContainerStart> containerStart(const AVFormatContext& format) {
    std::optional<ContainerStart> earliest;
    for (unsigned i = 0; i < format.nb_streams; ++i) {
        const AVStream* st = format.streams[i];
        const AVMediaType type = st->codecpar->codec_type;
        if ((type != AVMEDIA_TYPE_VIDEO && type != AVMEDIA_TYPE_AUDIO) ||
            (st->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0 ||
            st->start_time == AV_NOPTS_VALUE || st->time_base.den == 0) {
            continue;
        }
        if (!earliest || av_compare_ts(st->start_time, st->time_base, earliest->timestamp,
                                       earliest->timeBase) < 0) {
            earliest = ContainerStart{st->start_time, st->time_base};
        }
    }
    return earliest;
}

// Whether the container's headers alone say everything a player needs of it, so that probing
// it (avformat_find_stream_info(), which decodes up to seconds of sound) can be left out: a file
// of uncompressed or lossless sound alone (WAV, AIFF, ...), each track's codec, rate, channels
// and length stated, and no track that only reading finds. A lossy sound's start and
// length come from its packets, and a picture's rate from probing, so those files are probed.
inline bool headersDescribeLosslessSound(const AVFormatContext& format) {
    if ((format.ctx_flags & AVFMTCTX_NOHEADER) != 0 || format.nb_streams == 0) {
        return false;
    }
    bool sound = false;
    for (unsigned i = 0; i < format.nb_streams; ++i) {
        const AVStream* st = format.streams[i];
        const AVCodecParameters* par = st->codecpar;
        if ((st->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0) {
            continue;
        }
        if (par->codec_type != AVMEDIA_TYPE_AUDIO) {
            return false;
        }
        const AVCodecDescriptor* codec = avcodec_descriptor_get(par->codec_id);
        if (codec == nullptr || (codec->props & AV_CODEC_PROP_LOSSY) != 0 ||
            par->sample_rate <= 0 || par->ch_layout.nb_channels <= 0 ||
            st->duration == AV_NOPTS_VALUE || st->duration <= 0) {
            return false;
        }
        sound = true;
    }
    return sound;
}

}  // namespace kestio::platform::ffmpeg
