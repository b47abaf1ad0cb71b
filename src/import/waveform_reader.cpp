#include "import/waveform_reader.h"

#include <cmath>
#include <cstdint>
#include <cstring>

#include "import/waveform_accumulator.h"
#include "platform/media/ffmpeg_handles.h"
#include "platform/media/media_file.h"

namespace kestio {

namespace media = platform::media;
namespace ff = platform::ff;

namespace {

constexpr double kDefaultSampleRate = 48000.0;

// Sample values as floats at full scale 1, the way a PCM reader converts them.
template <typename T>
float sampleValue(T v);
template <>
float sampleValue(std::uint8_t v) {
    return (static_cast<float>(v) - 128.0f) * (1.0f / 128.0f);
}
template <>
float sampleValue(std::int16_t v) {
    return static_cast<float>(v) * (1.0f / 32768.0f);
}
template <>
float sampleValue(std::int32_t v) {
    return static_cast<float>(static_cast<double>(v) * (1.0 / 2147483648.0));
}
template <>
float sampleValue(std::int64_t v) {
    return static_cast<float>(static_cast<double>(v) * (1.0 / 9223372036854775808.0));
}
template <>
float sampleValue(float v) {
    return v;
}
template <>
float sampleValue(double v) {
    return static_cast<float>(v);
}

// Feeds the frames of one decoded buffer, read in place. Returns true once the points are made.
template <typename T>
bool feed(const AVFrame& frame, bool planar, int channels, WaveformAccumulator& points) {
    const int n = frame.nb_samples;
    const bool stereo = channels >= 2;
    if (planar) {
        const T* left = reinterpret_cast<const T*>(frame.extended_data[0]);
        const T* right = stereo ? reinterpret_cast<const T*>(frame.extended_data[1]) : left;
        for (int i = 0; i < n; ++i) {
            const float l = std::fabs(sampleValue(left[i]));
            const float r = std::fabs(sampleValue(right[i]));
            if (points.addFrame(r > l ? r : l)) {
                return true;
            }
        }
        return false;
    }
    const T* data = reinterpret_cast<const T*>(frame.extended_data[0]);
    const int stride = channels;
    for (int i = 0; i < n; ++i) {
        const T* at = data + static_cast<std::ptrdiff_t>(i) * stride;
        const float l = std::fabs(sampleValue(at[0]));
        const float r = stereo ? std::fabs(sampleValue(at[1])) : l;
        if (points.addFrame(r > l ? r : l)) {
            return true;
        }
    }
    return false;
}

// False for a sample format this reader cannot read (nothing is fed then).
bool feedFrame(const AVFrame& frame, int channels, WaveformAccumulator& points, bool& done) {
    const auto format = static_cast<AVSampleFormat>(frame.format);
    const bool planar = av_sample_fmt_is_planar(format) != 0;
    switch (av_get_packed_sample_fmt(format)) {
        case AV_SAMPLE_FMT_U8:
            done = feed<std::uint8_t>(frame, planar, channels, points);
            break;
        case AV_SAMPLE_FMT_S16:
            done = feed<std::int16_t>(frame, planar, channels, points);
            break;
        case AV_SAMPLE_FMT_S32:
            done = feed<std::int32_t>(frame, planar, channels, points);
            break;
        case AV_SAMPLE_FMT_S64:
            done = feed<std::int64_t>(frame, planar, channels, points);
            break;
        case AV_SAMPLE_FMT_FLT:
            done = feed<float>(frame, planar, channels, points);
            break;
        case AV_SAMPLE_FMT_DBL:
            done = feed<double>(frame, planar, channels, points);
            break;
        default:
            return false;
    }
    return true;
}

}  // namespace

std::optional<std::vector<float>> readWaveform(const std::filesystem::path& file, int pointCount,
                                               JobControl& control) {
    if (pointCount < 1) {
        return std::nullopt;
    }
    auto opened = media::MediaFile::open(file, control.io(), false);
    if (!opened) {
        return std::nullopt;
    }
    media::MediaFile& media = *opened;
    if (!media.isMovFamily() && !media.findStreamInfo()) {
        return std::nullopt;
    }
    const int audio = media.audioStreamIndex();
    if (audio < 0) {
        return std::nullopt;
    }
    const double seconds = media.duration();
    if (!std::isfinite(seconds) || seconds <= 0.0) {
        return std::nullopt;
    }
    AVStream* stream = media.stream(audio);
    const AVCodecParameters* par = stream->codecpar;
    const double rate = par->sample_rate > 0 ? par->sample_rate : kDefaultSampleRate;
    const double mediaFrames = std::trunc(rate * seconds);
    // A stated length beyond any real recording (thousands of years) is a broken header.
    if (!(mediaFrames < 9.0e15)) {
        return std::nullopt;
    }

    const AVCodec* codec = avcodec_find_decoder(par->codec_id);
    if (codec == nullptr) {
        return std::nullopt;
    }
    ff::CodecPtr decoder(avcodec_alloc_context3(codec));
    if (!decoder || avcodec_parameters_to_context(decoder.get(), par) < 0) {
        return std::nullopt;
    }
    decoder->pkt_timebase = stream->time_base;
    if (avcodec_open2(decoder.get(), codec, nullptr) < 0) {
        return std::nullopt;
    }
    for (unsigned i = 0; i < media.context()->nb_streams; ++i) {
        media.stream(static_cast<int>(i))->discard =
            static_cast<int>(i) == audio ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    }

    WaveformAccumulator points(pointCount, static_cast<std::int64_t>(mediaFrames));
    const ff::PacketPtr packet = ff::makePacket();
    const ff::FramePtr frame = ff::makeFrame();
    if (!packet || !frame) {
        return std::nullopt;
    }
    bool done = false;
    bool draining = false;
    while (!done) {
        if (control.cancelled()) {
            return std::nullopt;
        }
        const int received = avcodec_receive_frame(decoder.get(), frame.get());
        if (received == 0) {
            const int channels = frame->ch_layout.nb_channels;
            if (channels > 0) {
                feedFrame(*frame, channels, points, done);
            }
            av_frame_unref(frame.get());
            continue;
        }
        // Anything else than EAGAIN is a broken buffer: go on with the next packet.
        if (received == AVERROR_EOF || draining) {
            break;
        }
        av_packet_unref(packet.get());
        const int read = media.readPacket(packet.get());
        if (read < 0) {
            if (read == AVERROR_EXIT) {
                return std::nullopt;
            }
            draining = true;
            avcodec_send_packet(decoder.get(), nullptr);
            continue;
        }
        if (packet->stream_index == audio) {
            // A packet the decoder refuses is skipped; it resynchronises on the next one.
            avcodec_send_packet(decoder.get(), packet.get());
        }
    }
    return std::move(points).finish();
}

}  // namespace kestio
