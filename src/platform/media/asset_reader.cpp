#include "platform/media/asset_reader.h"

#include <algorithm>
#include <cmath>
#include <deque>

#include "platform/audio/audio_format.h"
#include "platform/ffmpeg/ffmpeg_handles.h"
#include "platform/media/media_file.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

namespace kestio::platform::media {

namespace {

constexpr std::int64_t kChunkFrames = 4096;
// A track that runs this far ahead of another is mixed with silence for the other one.
constexpr double kMaxSkewSeconds = 30.0;
constexpr int kMaxDecodeErrors = 256;

}  // namespace

struct AssetReader::Track {
    int stream = -1;
    ffmpeg::CodecPtr codec;
    ffmpeg::SwrPtr swr;
    int inRate = 0;
    int inFormat = -1;
    AVChannelLayout inLayout{};
    std::deque<float> fifo;  // interleaved output samples
    bool ended = false;
    int errors = 0;

    ~Track() { av_channel_layout_uninit(&inLayout); }

    std::int64_t frames(int channels) const {
        return static_cast<std::int64_t>(fifo.size()) / channels;
    }
};

AssetReader::AssetReader() = default;

AssetReader::~AssetReader() = default;

Loaded<std::unique_ptr<AssetReader>> AssetReader::open(const std::filesystem::path& path,
                                                       AudioReadSettings settings) {
    using Result = Loaded<std::unique_ptr<AssetReader>>;
    std::unique_ptr<AssetReader> reader(new AssetReader());
    reader->io_ = std::make_shared<ffmpeg::IoControl>();
    auto opened = MediaFile::open(path, reader->io_, true);
    if (!opened) {
        return Result::failure(opened.error());
    }
    reader->file_ = std::make_unique<MediaFile>(std::move(*opened));
    MediaFile& file = *reader->file_;
    reader->duration_ = file.duration();
    for (unsigned i = 0; i < file.context()->nb_streams; ++i) {
        AVStream* st = file.stream(static_cast<int>(i));
        st->discard = AVDISCARD_ALL;
        const AVCodecParameters* par = st->codecpar;
        if (par->codec_type != AVMEDIA_TYPE_AUDIO) {
            continue;
        }
        if (!reader->tracks_.empty() && !settings.mixAllTracks) {
            continue;
        }
        const AVCodec* codec = avcodec_find_decoder(par->codec_id);
        // Only the rates and channel counts the player's sound path carries.
        if (codec == nullptr || par->ch_layout.nb_channels <= 0 ||
            !audio::AudioFormat::make(par->sample_rate, uint32_t(par->ch_layout.nb_channels))) {
            continue;
        }
        ffmpeg::CodecPtr context(avcodec_alloc_context3(codec));
        if (!context || avcodec_parameters_to_context(context.get(), par) < 0) {
            continue;
        }
        context->pkt_timebase = st->time_base;
        if (avcodec_open2(context.get(), codec, nullptr) < 0) {
            continue;
        }
        auto track = std::make_unique<Track>();
        track->stream = static_cast<int>(i);
        track->codec = std::move(context);
        st->discard = AVDISCARD_DEFAULT;
        if (reader->tracks_.empty()) {
            reader->rate_ = settings.sampleRate > 0.0 && settings.sampleRate <= 768000.0
                                ? settings.sampleRate
                                : static_cast<double>(par->sample_rate);
        }
        reader->tracks_.push_back(std::move(track));
    }
    if (reader->tracks_.empty()) {
        return Result::failure("The file has no decodable audio track");
    }
    if (!(reader->rate_ > 0.0)) {
        reader->rate_ = 48000.0;
    }
    reader->channels_ = std::clamp(settings.channels, 1, 64);
    return Result(std::move(reader));
}

void AssetReader::cancelReading() {
    cancelled_.store(true);
    if (io_) {
        io_->cancel();
    }
}

std::int64_t AssetReader::framesReady() const {
    std::int64_t ready = -1;
    std::int64_t most = 0;
    for (const auto& track : tracks_) {
        const std::int64_t frames = track->frames(channels_);
        most = std::max(most, frames);
        if (!track->ended) {
            ready = ready < 0 ? frames : std::min(ready, frames);
        }
    }
    // Tracks that ended contribute silence; with every track ended, everything is ready.
    return ready < 0 ? most : ready;
}

AudioSampleBuffer AssetReader::take(std::int64_t frames) {
    AudioSampleBuffer buffer;
    buffer.frameCount = frames;
    const auto count = static_cast<std::size_t>(frames * channels_);
    buffer.samples.assign(count, 0.0f);
    for (auto& track : tracks_) {
        const std::size_t available = std::min(count, track->fifo.size());
        for (std::size_t i = 0; i < available; ++i) {
            buffer.samples[i] += track->fifo[i];
        }
        track->fifo.erase(track->fifo.begin(),
                          track->fifo.begin() + static_cast<std::ptrdiff_t>(available));
    }
    return buffer;
}

std::optional<AudioSampleBuffer> AssetReader::copyNextSampleBuffer() {
    if (status_ != Status::Reading) {
        return std::nullopt;
    }
    for (;;) {
        if (cancelled_.load()) {
            status_ = Status::Cancelled;
            return std::nullopt;
        }
        const std::int64_t ready = framesReady();
        const bool allEnded =
            std::all_of(tracks_.begin(), tracks_.end(), [](const auto& t) { return t->ended; });
        if (ready >= kChunkFrames || (allEnded && ready > 0)) {
            return take(std::min(ready, kChunkFrames));
        }
        if (allEnded) {
            status_ = Status::Completed;
            return std::nullopt;
        }
        if (!readMore()) {
            return std::nullopt;
        }
    }
}

namespace {

// A surround source of known layout with more channels than the output is downmixed by the
// resampler's own matrix: centre and surrounds at -3 dB, LFE left out, nothing normalised
// away for float output. Otherwise output channel o takes source channel o and a mono source
// feeds every output channel.
bool configure(SwrContext* swr, const AVChannelLayout& in, int outChannels) {
    const int inChannels = in.nb_channels;
    if (in.order == AV_CHANNEL_ORDER_NATIVE && inChannels > 2 && inChannels > outChannels) {
        return swr_init(swr) >= 0;
    }
    std::vector<double> matrix(static_cast<std::size_t>(outChannels * inChannels), 0.0);
    for (int o = 0; o < outChannels; ++o) {
        for (int i = 0; i < inChannels; ++i) {
            if ((inChannels == 1) || o == i) {
                matrix[static_cast<std::size_t>(o * inChannels + i)] = 1.0;
            }
        }
    }
    return swr_set_matrix(swr, matrix.data(), inChannels) >= 0 && swr_init(swr) >= 0;
}

}  // namespace

bool AssetReader::readMore() {
    // Keeps a track that races ahead from growing without bound.
    const auto skewLimit = static_cast<std::size_t>(kMaxSkewSeconds * rate_ * channels_);
    for (auto& track : tracks_) {
        if (!track->ended && track->fifo.size() > skewLimit) {
            for (auto& other : tracks_) {
                if (!other->ended && other->fifo.empty()) {
                    other->ended = true;
                }
            }
        }
    }

    ffmpeg::PacketPtr packet = ffmpeg::makePacket();
    ffmpeg::FramePtr frame = ffmpeg::makeFrame();
    Track* target = nullptr;
    if (!endOfFile_) {
        const int rc = file_->readPacket(packet.get());
        if (rc < 0) {
            if (cancelled_.load()) {
                status_ = Status::Cancelled;
                return false;
            }
            // The end, or a read error after which nothing more can be read: finish what
            // the decoders hold.
            endOfFile_ = true;
        } else {
            for (auto& track : tracks_) {
                if (track->stream == packet->stream_index && !track->ended) {
                    target = track.get();
                }
            }
            if (target == nullptr) {
                return true;
            }
            if (avcodec_send_packet(target->codec.get(), packet.get()) < 0 &&
                ++target->errors > kMaxDecodeErrors) {
                status_ = Status::Failed;
                error_ = "Too many undecodable audio packets";
                return false;
            }
        }
    }
    for (auto& track : tracks_) {
        if (track->ended || (target != nullptr && track.get() != target)) {
            continue;
        }
        if (endOfFile_) {
            avcodec_send_packet(track->codec.get(), nullptr);
        }
        for (;;) {
            const int rc = avcodec_receive_frame(track->codec.get(), frame.get());
            if (rc == AVERROR(EAGAIN)) {
                break;
            }
            if (rc < 0 && rc != AVERROR_EOF && !endOfFile_) {
                // Data the decoder refuses once it has taken it in (the rest of a packet cut
                // across a sample): the player's reader stops at it, so reading it fails too.
                status_ = Status::Failed;
                error_ = "Undecodable audio data: " + ffmpeg::errorText(rc);
                return false;
            }
            if (rc < 0) {
                if (rc == AVERROR_EOF || endOfFile_) {
                    // Flush what the resampler still holds.
                    if (track->swr) {
                        std::vector<float> tail(static_cast<std::size_t>(4096 * channels_));
                        std::uint8_t* out[1] = {reinterpret_cast<std::uint8_t*>(tail.data())};
                        const int got = swr_convert(track->swr.get(), out, 4096, nullptr, 0);
                        if (got > 0) {
                            track->fifo.insert(track->fifo.end(), tail.begin(),
                                               tail.begin() + got * channels_);
                        }
                    }
                    track->ended = true;
                }
                break;
            }
            AVChannelLayout layout{};
            if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC ||
                av_channel_layout_check(&frame->ch_layout) == 0) {
                av_channel_layout_default(&layout, std::max(1, frame->ch_layout.nb_channels));
            } else {
                av_channel_layout_copy(&layout, &frame->ch_layout);
            }
            if (layout.nb_channels <= 0 || layout.nb_channels > 64 || frame->sample_rate <= 0) {
                av_channel_layout_uninit(&layout);
                av_frame_unref(frame.get());
                continue;
            }
            if (!track->swr || track->inRate != frame->sample_rate ||
                track->inFormat != frame->format ||
                av_channel_layout_compare(&track->inLayout, &layout) != 0) {
                AVChannelLayout outLayout{};
                av_channel_layout_default(&outLayout, channels_);
                SwrContext* raw = nullptr;
                const int rc2 = swr_alloc_set_opts2(&raw, &outLayout, AV_SAMPLE_FMT_FLT,
                                                    static_cast<int>(std::lround(rate_)), &layout,
                                                    static_cast<AVSampleFormat>(frame->format),
                                                    frame->sample_rate, 0, nullptr);
                av_channel_layout_uninit(&outLayout);
                track->swr.reset(raw);
                if (rc2 < 0 || !track->swr || !configure(track->swr.get(), layout, channels_)) {
                    av_channel_layout_uninit(&layout);
                    status_ = Status::Failed;
                    error_ = "The sound cannot be converted";
                    return false;
                }
                track->inRate = frame->sample_rate;
                track->inFormat = frame->format;
                av_channel_layout_uninit(&track->inLayout);
                av_channel_layout_copy(&track->inLayout, &layout);
            }
            av_channel_layout_uninit(&layout);
            const int capacity = swr_get_out_samples(track->swr.get(), frame->nb_samples);
            if (capacity > 0) {
                std::vector<float> out(static_cast<std::size_t>(capacity * channels_));
                std::uint8_t* outPlanes[1] = {reinterpret_cast<std::uint8_t*>(out.data())};
                const int got = swr_convert(track->swr.get(), outPlanes, capacity,
                                            const_cast<const std::uint8_t**>(frame->extended_data),
                                            frame->nb_samples);
                if (got > 0) {
                    track->fifo.insert(track->fifo.end(), out.begin(),
                                       out.begin() + got * channels_);
                }
            }
            av_frame_unref(frame.get());
        }
    }
    return true;
}

}  // namespace kestio::platform::media
