#include "platform/audio/audio_decoder.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/intreadwrite.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cstring>

namespace kestio::platform::audio {

namespace {

// How much of a sound file whose headers describe it is looked at for a compressed stream
// carried as its samples.
constexpr std::int64_t kSoundProbeBytes = 32 * 1024;

// Lossy decoders need this much sound before a jump target to settle (overlapping transforms,
// the MP3 bit reservoir).
constexpr int64_t kLossyPreroll = 8192;
// Gaps up to this many seconds ahead are decoded through instead of jumping.
constexpr int64_t kDecodeThroughSeconds = 2;
// Damaged packets in a row after which the sound is taken for undecodable (not a dropout
// here and there, but a file read as another, or garbage): the read fails once instead of
// the decoder complaining of every packet to the end.
constexpr int kMaxDamagedPackets = 64;

}  // namespace

AudioDecoder::~AudioDecoder() = default;

std::unique_ptr<AudioDecoder> AudioDecoder::open(const std::filesystem::path& path,
                                                 std::string& error) {
    bool probeNeeded = false;
    auto decoder = open(path, false, error, probeNeeded);
    if (!decoder && probeNeeded) {
        error.clear();
        decoder = open(path, true, error, probeNeeded);
    }
    return decoder;
}

std::unique_ptr<AudioDecoder> AudioDecoder::open(const std::filesystem::path& path, bool probe,
                                                 std::string& error, bool& probeNeeded) {
    probeNeeded = false;
    if (ffmpeg::isPictureFile(path)) {
        error = "the file has no sound track";
        return nullptr;
    }
    std::unique_ptr<AudioDecoder> d(new AudioDecoder());
    d->io_ = std::make_unique<ffmpeg::IoControl>();
    d->format_ctx_ = ffmpeg::openGuardedInput(path, *d->io_, false, error);
    if (!d->format_ctx_) {
        return nullptr;
    }
    AVFormatContext* raw = d->format_ctx_.get();
    // QuickTime and MP4 headers describe every track: probing them would decode pictures as
    // well (seven for H.264, more than the rest of the open costs at 1080p). So do those of an
    // uncompressed or lossless sound file, which probing decodes seconds of. The first sound
    // frame then confirms what the headers say (below). Other containers are probed.
    const bool movFamily =
        raw->iformat != nullptr && std::strncmp(raw->iformat->name, "mov,mp4", 7) == 0;
    const bool described = ffmpeg::headersDescribeLosslessSound(*raw);
    if (probe || !(movFamily || described)) {
        d->io_->armDeadline(ffmpeg::MediaLimits::kOpenSeconds);
        const int probed = avformat_find_stream_info(raw, nullptr);
        if (probed < 0) {
            error = ffmpeg::errorText(probed);
            return nullptr;
        }
        probe = true;
    } else if (described) {
        // FFmpeg looks at the first packets of a WAV's 16-bit sound as they are read, for a
        // compressed stream carried in it (DTS or AC-3 over S/PDIF), until it has read the
        // probe size (5 MB, or the whole file: 6 ms for two seconds of sound): the first
        // kSoundProbeBytes of the stream tell as well.
        raw->probesize = kSoundProbeBytes;
    }
    const AVCodec* codec = nullptr;
    d->stream_ = av_find_best_stream(raw, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    if (d->stream_ < 0 || codec == nullptr) {
        error = d->stream_ == AVERROR_DECODER_NOT_FOUND ? "no decoder for the sound track"
                                                        : "the file has no sound track";
        return nullptr;
    }
    for (unsigned i = 0; i < raw->nb_streams; ++i) {
        AVStream* s = raw->streams[i];
        if (s->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
            (s->disposition & AV_DISPOSITION_ATTACHED_PIC) == 0) {
            d->containsVideo_ = true;
        }
        if (int(i) != d->stream_) {
            s->discard = AVDISCARD_ALL;
        }
    }
    AVStream* stream = raw->streams[d->stream_];
    d->codec_.reset(avcodec_alloc_context3(codec));
    if (!d->codec_) {
        error = "out of memory";
        return nullptr;
    }
    avcodec_parameters_to_context(d->codec_.get(), stream->codecpar);
    d->codec_->pkt_timebase = stream->time_base;
    const int result = avcodec_open2(d->codec_.get(), codec, nullptr);
    if (result < 0) {
        error = ffmpeg::errorText(result);
        return nullptr;
    }
    const auto format =
        AudioFormat::make(d->codec_->sample_rate, uint32_t(d->codec_->ch_layout.nb_channels));
    if (!format) {
        // Headers that leave the rate or the channels out: the probe finds them.
        probeNeeded = !probe;
        error = "unsupported sample rate or channel count";
        return nullptr;
    }
    d->format_ = *format;
    d->timeBase_ = stream->time_base;
    // Frame 0 is the container's start, so that the sound keeps its offset from the pictures:
    // a track that starts later is silent until its first sample.
    const bool startStated = stream->start_time != AV_NOPTS_VALUE;
    d->streamStart_ = startStated ? stream->start_time : 0;
    d->startTime_ = d->streamStart_;
    if (const auto container = ffmpeg::containerStart(*raw)) {
        const int64_t start = av_rescale_q(container->timestamp, container->timeBase, d->timeBase_);
        d->startTime_ = startStated ? std::min(start, d->streamStart_) : start;
    }
    const AVCodecDescriptor* descriptor = avcodec_descriptor_get(d->codec_->codec_id);
    d->lossy_ = descriptor == nullptr || (descriptor->props & AV_CODEC_PROP_LOSSY) != 0;
    d->packet_ = ffmpeg::makePacket();
    d->frame_ = ffmpeg::makeFrame();
    if (!d->packet_ || !d->frame_) {
        error = "out of memory";
        return nullptr;
    }
    d->pending_.resize(d->format_.channelCount);
    // Jumps never aim before the first packet: some demuxers refuse that.
    d->firstPacket_ = d->streamStart_;
    while (d->readPacket() >= 0) {
        const bool ours = d->packet_->stream_index == d->stream_;
        if (ours && d->packet_->pts != AV_NOPTS_VALUE) {
            d->firstPacket_ = std::min(d->packet_->pts, d->streamStart_);
        }
        if (ours && !probe &&
            (stream->codecpar->codec_id != d->codec_->codec_id || !d->headersConfirmed())) {
            // The headers say otherwise than the sound (a sample rate that doubles with
            // implicitly signalled SBR, say, or a WAV's samples found to carry AC-3 or DTS as
            // the first packet was read): the probe decides.
            probeNeeded = true;
            return nullptr;
        }
        av_packet_unref(d->packet_.get());
        if (ours) {
            break;
        }
    }
    avcodec_flush_buffers(d->codec_.get());
    d->length_ = d->measureLength();
    return d;
}

bool AudioDecoder::headersConfirmed() {
    // The first frames may be all encoder delay, which the decoder drops: a few packets on.
    constexpr int kPackets = 16;
    for (int sent = 0; sent < kPackets;) {
        if (packet_->stream_index == stream_) {
            if (avcodec_send_packet(codec_.get(), packet_.get()) < 0) {
                return false;
            }
            ++sent;
            const int received = avcodec_receive_frame(codec_.get(), frame_.get());
            if (received == 0) {
                const bool same = frame_->sample_rate == int(format_.sampleRate) &&
                                  frame_->ch_layout.nb_channels == int(format_.channelCount);
                av_frame_unref(frame_.get());
                return same;
            }
            if (received != AVERROR(EAGAIN)) {
                return false;
            }
        }
        av_packet_unref(packet_.get());
        if (readPacket() < 0) {
            return false;
        }
    }
    return false;
}

int AudioDecoder::readPacket() {
    io_->armDeadline(ffmpeg::MediaLimits::kReadSeconds);
    return av_read_frame(format_ctx_.get(), packet_.get());
}

int64_t AudioDecoder::framesFromTimestamp(int64_t ts) const {
    return av_rescale_q_rnd(ts - startTime_, timeBase_, AVRational{1, int(format_.sampleRate)},
                            AVRounding(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX));
}

int64_t AudioDecoder::timestampFromFrames(int64_t frames) const {
    return startTime_ + av_rescale_q_rnd(frames, AVRational{1, int(format_.sampleRate)}, timeBase_,
                                         AVRounding(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX));
}

int64_t AudioDecoder::measureLength() {
    AVStream* stream = format_ctx_->streams[stream_];
    if (!lossy_ && stream->duration != AV_NOPTS_VALUE && stream->duration > 0) {
        return std::max<int64_t>(framesFromTimestamp(streamStart_ + stream->duration), 0);
    }
    // Read the last packets: their end, less the padding the encoder asked to discard, is the
    // end of the sound.
    int64_t estimate = AV_NOPTS_VALUE;
    if (stream->duration != AV_NOPTS_VALUE) {
        estimate = streamStart_ + stream->duration;
    } else if (format_ctx_->duration != AV_NOPTS_VALUE) {
        // The container's duration counts from its start, which is frame 0.
        estimate = startTime_ + av_rescale_q(format_ctx_->duration, AV_TIME_BASE_Q, timeBase_);
    }
    const int64_t back = av_rescale_q(4, AVRational{1, 1}, timeBase_);
    const int64_t target = estimate != AV_NOPTS_VALUE ? estimate - back : INT64_MIN;
    io_->armDeadline(ffmpeg::MediaLimits::kReadSeconds);
    if (target == INT64_MIN ||
        avformat_seek_file(format_ctx_.get(), stream_, INT64_MIN, target, target, 0) < 0) {
        avformat_seek_file(format_ctx_.get(), stream_, INT64_MIN, INT64_MIN, INT64_MIN, 0);
    }
    int64_t end = AV_NOPTS_VALUE;
    int64_t lastPts = AV_NOPTS_VALUE;
    int64_t discard = 0;
    while (readPacket() >= 0) {
        if (packet_->stream_index == stream_ && packet_->pts != AV_NOPTS_VALUE) {
            end = std::max(end == AV_NOPTS_VALUE ? INT64_MIN : end,
                           packet_->pts + std::max<int64_t>(packet_->duration, 0));
            if (lastPts == AV_NOPTS_VALUE || packet_->pts >= lastPts) {
                lastPts = packet_->pts;
                std::size_t size = 0;
                const uint8_t* side =
                    av_packet_get_side_data(packet_.get(), AV_PKT_DATA_SKIP_SAMPLES, &size);
                discard = side != nullptr && size >= 8 ? AV_RL32(side + 4) : 0;
            }
        }
        av_packet_unref(packet_.get());
    }
    positioned_ = false;
    if (end != AV_NOPTS_VALUE) {
        return std::max<int64_t>(framesFromTimestamp(end) - discard, 0);
    }
    return estimate != AV_NOPTS_VALUE ? std::max<int64_t>(framesFromTimestamp(estimate), 0) : 0;
}

bool AudioDecoder::seek(int64_t position, int64_t preroll, std::string& error) {
    const int64_t ts = std::max(timestampFromFrames(position - preroll), firstPacket_);
    io_->armDeadline(ffmpeg::MediaLimits::kReadSeconds);
    int result = avformat_seek_file(format_ctx_.get(), stream_, INT64_MIN, ts, ts, 0);
    if (result < 0) {
        result = av_seek_frame(format_ctx_.get(), stream_, ts, AVSEEK_FLAG_BACKWARD);
    }
    if (result < 0) {
        error = "cannot seek: " + ffmpeg::errorText(result);
        return false;
    }
    avcodec_flush_buffers(codec_.get());
    for (auto& channel : pending_) {
        channel.clear();
    }
    pendingOffset_ = 0;
    pendingFrames_ = 0;
    positioned_ = false;
    inputEnded_ = false;
    drained_ = false;
    fromFirstPacket_ = ts == firstPacket_;
    return true;
}

bool AudioDecoder::appendFrame(const AVFrame& frame, std::string& error) {
    if (frame.nb_samples <= 0) {
        return true;
    }
    if (frame.ch_layout.nb_channels != int(format_.channelCount) ||
        frame.sample_rate != int(format_.sampleRate)) {
        error = "the sound track changes its format midway";
        return false;
    }
    if (!positioned_) {
        const int64_t ts =
            frame.best_effort_timestamp != AV_NOPTS_VALUE ? frame.best_effort_timestamp : frame.pts;
        if (ts == AV_NOPTS_VALUE) {
            error = "the sound track has no timestamps";
            return false;
        }
        pendingStart_ = framesFromTimestamp(ts);
        positioned_ = true;
    }
    if (!swr_ || swr_is_initialized(swr_.get()) == 0) {
        SwrContext* raw = nullptr;
        AVChannelLayout layout{};
        av_channel_layout_default(&layout, frame.ch_layout.nb_channels);
        const int result =
            swr_alloc_set_opts2(&raw, &layout, AV_SAMPLE_FMT_FLTP, frame.sample_rate, &layout,
                                AVSampleFormat(frame.format), frame.sample_rate, 0, nullptr);
        swr_.reset(raw);
        if (result < 0 || swr_init(swr_.get()) < 0) {
            error = "cannot convert the decoded samples";
            swr_.reset();
            return false;
        }
    }
    // Compact now and then so that the pending samples do not grow without end.
    if (pendingOffset_ > (1u << 16) && pendingOffset_ * 2 > pending_[0].size()) {
        for (auto& channel : pending_) {
            channel.erase(channel.begin(), channel.begin() + long(pendingOffset_));
        }
        pendingOffset_ = 0;
    }
    const std::size_t at = pending_[0].size();
    std::vector<uint8_t*> planes(format_.channelCount);
    for (uint32_t c = 0; c < format_.channelCount; ++c) {
        pending_[c].resize(at + std::size_t(frame.nb_samples));
        planes[c] = reinterpret_cast<uint8_t*>(pending_[c].data() + at);
    }
    const int converted =
        swr_convert(swr_.get(), planes.data(), frame.nb_samples,
                    const_cast<const uint8_t**>(frame.extended_data), frame.nb_samples);
    if (converted < 0) {
        error = ffmpeg::errorText(converted);
        return false;
    }
    for (auto& channel : pending_) {
        channel.resize(at + std::size_t(converted));
    }
    pendingFrames_ += converted;
    return true;
}

bool AudioDecoder::decodeMore(std::string& error) {
    while (!drained_) {
        int result = avcodec_receive_frame(codec_.get(), frame_.get());
        if (result == 0) {
            damagedInARow_ = 0;
            const bool ok = appendFrame(*frame_, error);
            av_frame_unref(frame_.get());
            return ok;
        }
        if (result == AVERROR_EOF) {
            drained_ = true;
            break;
        }
        if (result != AVERROR(EAGAIN)) {
            error = ffmpeg::errorText(result);
            return false;
        }
        if (inputEnded_) {
            drained_ = true;
            break;
        }
        result = readPacket();
        if (result < 0) {
            avcodec_send_packet(codec_.get(), nullptr);
            inputEnded_ = true;
            continue;
        }
        if (packet_->stream_index == stream_ &&
            avcodec_send_packet(codec_.get(), packet_.get()) < 0 &&
            ++damagedInARow_ >= kMaxDamagedPackets) {
            // A damaged packet is skipped and the decoder carries on with the next, but not
            // for ever.
            av_packet_unref(packet_.get());
            error = "the sound cannot be decoded: " + std::to_string(damagedInARow_) +
                    " damaged packets in a row";
            return false;
        }
        av_packet_unref(packet_.get());
    }
    return false;
}

void AudioDecoder::dropPending(int64_t frames) {
    frames = std::clamp<int64_t>(frames, 0, pendingFrames_);
    pendingOffset_ += std::size_t(frames);
    pendingFrames_ -= frames;
    fromFirstPacket_ = fromFirstPacket_ && frames == 0;
    pendingStart_ += frames;
}

int64_t AudioDecoder::read(int64_t position, float* const* planes, uint32_t frames,
                           std::string& error) {
    if (position < 0 || position >= length_ || frames == 0) {
        return 0;
    }
    frames = uint32_t(std::min<int64_t>(frames, length_ - position));

    const int64_t reach = int64_t(format_.sampleRate) * kDecodeThroughSeconds;
    // Before the first sound of a track that starts after the container, the samples decoded
    // from its first packet stay: the silence before them needs no other position.
    const bool inLeadIn = fromFirstPacket_ && position < pendingStart_;
    if (!positioned_ || (position < pendingStart_ && !inLeadIn) ||
        position > pendingEnd() + reach) {
        int64_t preroll = lossy_ ? kLossyPreroll : 0;
        for (int attempt = 0;; ++attempt) {
            // Far enough back and the jump lands at the very start.
            if (attempt == 3) {
                preroll = position + int64_t(format_.sampleRate) * 3600 * 24;
            }
            if (!seek(position, preroll, error)) {
                return -1;
            }
            error.clear();
            while (!positioned_ && decodeMore(error)) {
            }
            if (!error.empty()) {
                return -1;
            }
            if (!positioned_ || pendingStart_ <= position || fromFirstPacket_ || attempt == 3) {
                break;
            }
            preroll = preroll * 4 + int64_t(format_.sampleRate);
        }
    }
    // Decode up to the position, dropping what lies before it.
    while (pendingEnd() <= position) {
        dropPending(pendingFrames_);
        if (!decodeMore(error)) {
            if (!error.empty()) {
                return -1;
            }
            return 0;
        }
    }
    dropPending(position - pendingStart_);
    // A stream whose first sound comes later than its start is silent until then.
    const auto gap = uint32_t(std::clamp<int64_t>(pendingStart_ - position, 0, frames));
    for (uint32_t c = 0; c < format_.channelCount; ++c) {
        std::memset(planes[c], 0, gap * sizeof(float));
    }
    while (pendingFrames_ < int64_t(frames - gap) && decodeMore(error)) {
    }
    if (!error.empty()) {
        return -1;
    }
    const auto count = uint32_t(std::min<int64_t>(frames - gap, pendingFrames_));
    for (uint32_t c = 0; c < format_.channelCount; ++c) {
        std::memcpy(planes[c] + gap, pending_[c].data() + pendingOffset_, count * sizeof(float));
    }
    dropPending(count);
    return gap + count;
}

}  // namespace kestio::platform::audio
