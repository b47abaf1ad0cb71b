#include "platform/media/media_file.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <string_view>

extern "C" {
#include <libavutil/display.h>
#include <libavutil/mathematics.h>
}

namespace kestio::platform::media {

bool isAttachedPicture(const AVStream* stream) {
    return (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0;
}

int clockwiseRotation(const AVStream* stream) {
    size_t size = 0;
    const std::uint8_t* matrix = av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, &size);
    if (matrix == nullptr || size < 9 * sizeof(std::int32_t)) {
        return 0;
    }
    const double angle = av_display_rotation_get(reinterpret_cast<const std::int32_t*>(matrix));
    if (!std::isfinite(angle)) {
        return 0;
    }
    // FFmpeg gives the counter-clockwise angle the picture was turned by.
    const long quarter = std::lround(-angle / 90.0);
    return static_cast<int>(((quarter % 4) + 4) % 4) * 90;
}

double nominalFrameRate(const AVStream* stream) {
    if (stream->avg_frame_rate.num > 0 && stream->avg_frame_rate.den > 0) {
        return av_q2d(stream->avg_frame_rate);
    }
    if (stream->r_frame_rate.num > 0 && stream->r_frame_rate.den > 0) {
        return av_q2d(stream->r_frame_rate);
    }
    return 0.0;
}

// A packet's length in seconds: as stamped, else from its samples (audio) or the nominal
// frame rate (video).
static double packetLength(const AVStream& stream, const AVPacket& packet) {
    if (packet.duration > 0) {
        return toSeconds(packet.duration, stream.time_base);
    }
    const AVCodecParameters& par = *stream.codecpar;
    if (par.codec_type == AVMEDIA_TYPE_AUDIO && par.sample_rate > 0) {
        const int samples = av_get_audio_frame_duration2(stream.codecpar, packet.size);
        return samples > 0 ? static_cast<double>(samples) / par.sample_rate : 0.0;
    }
    const double rate = nominalFrameRate(&stream);
    return rate > 0.0 ? 1.0 / rate : 0.0;
}

double toSeconds(std::int64_t timestamp, AVRational timeBase) {
    if (timestamp == AV_NOPTS_VALUE || timeBase.den == 0) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    return static_cast<double>(timestamp) * timeBase.num / timeBase.den;
}

std::int64_t fromSeconds(double seconds, AVRational timeBase) {
    if (timeBase.num == 0) {
        return 0;
    }
    const double ticks = std::round(seconds * timeBase.den / timeBase.num);
    constexpr double limit = 4.0e18;
    return static_cast<std::int64_t>(std::clamp(ticks, -limit, limit));
}

Loaded<MediaFile> MediaFile::open(const std::filesystem::path& path,
                                  std::shared_ptr<ffmpeg::IoControl> io, bool findStreamInfo) {
    MediaFile file;
    file.io_ = std::move(io);
    std::string error;
    file.format_ = ffmpeg::openGuardedInput(path, *file.io_, findStreamInfo, error);
    if (!file.format_) {
        return Loaded<MediaFile>::failure(error);
    }
    return Loaded<MediaFile>(std::move(file));
}

int MediaFile::videoStreamIndex() const {
    for (unsigned i = 0; i < format_->nb_streams; ++i) {
        const AVStream* st = format_->streams[i];
        if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !isAttachedPicture(st)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int MediaFile::audioStreamIndex() const {
    for (unsigned i = 0; i < format_->nb_streams; ++i) {
        if (format_->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

double MediaFile::streamOrigin(int index) const {
    const AVStream* st = format_->streams[index];
    const double start = toSeconds(st->start_time, st->time_base);
    return std::isfinite(start) ? start : 0.0;
}

double MediaFile::containerOrigin(int index) const {
    const AVStream* st = format_->streams[index];
    const auto container = ffmpeg::containerStart(*format_);
    const double start = container ? toSeconds(container->timestamp, container->timeBase)
                                   : toSeconds(st->start_time, st->time_base);
    return std::isfinite(start) ? start : 0.0;
}

double MediaFile::duration() const {
    if (format_->duration != AV_NOPTS_VALUE && format_->duration > 0) {
        return static_cast<double>(format_->duration) / AV_TIME_BASE;
    }
    double longest = 0.0;
    for (unsigned i = 0; i < format_->nb_streams; ++i) {
        const AVStream* st = format_->streams[i];
        if (isAttachedPicture(st) || st->duration == AV_NOPTS_VALUE || st->duration <= 0) {
            continue;
        }
        longest = std::max(longest, toSeconds(st->duration, st->time_base));
    }
    return longest > 0.0 ? longest : std::numeric_limits<double>::infinity();
}

bool MediaFile::isMovFamily() const {
    const char* name = format_->iformat != nullptr ? format_->iformat->name : nullptr;
    return name != nullptr && std::string_view(name).starts_with("mov,mp4");
}

Loaded<bool> MediaFile::findStreamInfo() {
    io_->armDeadline(ffmpeg::MediaLimits::kOpenSeconds);
    const int rc = avformat_find_stream_info(format_.get(), nullptr);
    if (rc < 0) {
        return Loaded<bool>::failure(ffmpeg::errorText(rc));
    }
    return true;
}

double MediaFile::scanDuration() {
    constexpr std::int64_t kMaxBytes = 512LL * 1024 * 1024;
    constexpr int kMaxPackets = 2'000'000;
    int stream = videoStreamIndex();
    if (stream < 0) {
        stream = audioStreamIndex();
    }
    if (stream < 0) {
        return std::numeric_limits<double>::infinity();
    }
    const AVStream* st = this->stream(stream);
    // Item times count from the container's start (see containerOrigin): so does the end.
    const double origin = containerOrigin(stream);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    ffmpeg::PacketPtr packet = ffmpeg::makePacket();
    double end = 0.0;
    std::int64_t position = 0;
    bool complete = false;
    for (int i = 0; i < kMaxPackets; ++i) {
        if (readPacket(packet.get()) < 0) {
            complete = !io_->cancelled();
            break;
        }
        if (packet->stream_index == stream) {
            const std::int64_t pts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
            const double start = toSeconds(pts, st->time_base);
            const double length = packetLength(*st, *packet);
            if (std::isfinite(start)) {
                end = std::max(end, start - origin + length);
            }
        }
        if (packet->pos > 0) {
            position = packet->pos;
        }
        av_packet_unref(packet.get());
        if (position > kMaxBytes || std::chrono::steady_clock::now() > deadline) {
            break;
        }
    }
    if (complete) {
        return end;  // 0 for a track without a single sample
    }
    if (!(end > 0.0)) {
        return std::numeric_limits<double>::infinity();
    }
    if (!complete) {
        const std::int64_t size = format_->pb != nullptr ? avio_size(format_->pb) : 0;
        if (size <= 0 || position <= 0) {
            return std::numeric_limits<double>::infinity();
        }
        end *= static_cast<double>(size) / static_cast<double>(position);
    }
    return end;
}

int MediaFile::readPacket(AVPacket* packet) {
    io_->armDeadline(ffmpeg::MediaLimits::kReadSeconds);
    return av_read_frame(format_.get(), packet);
}

}  // namespace kestio::platform::media
