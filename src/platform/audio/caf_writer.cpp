#include "platform/audio/caf_writer.h"

extern "C" {
#include <libavutil/channel_layout.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/audio/output_samples.h"

namespace kestio::platform::audio {

std::unique_ptr<CafWriter> CafWriter::create(const std::filesystem::path& path,
                                             const AudioFormat& format,
                                             AudioFile::SampleEncoding encoding,
                                             std::string& error) {
    if (!format.isValid() || format.sampleRate != std::floor(format.sampleRate)) {
        error = "unsupported format";
        return nullptr;
    }
    std::unique_ptr<CafWriter> w(new CafWriter());
    w->format_ = format;
    w->encoding_ = encoding;
    AVFormatContext* raw = nullptr;
    int result = avformat_alloc_output_context2(&raw, nullptr, "caf", path.c_str());
    if (result < 0 || raw == nullptr) {
        error = ffmpeg::errorText(result);
        return nullptr;
    }
    w->context_.reset(raw);
    AVStream* stream = avformat_new_stream(raw, nullptr);
    if (stream == nullptr) {
        error = "out of memory";
        return nullptr;
    }
    const bool isFloat = encoding == AudioFile::SampleEncoding::Float32;
    const int bytes = isFloat ? 4 : 2;
    AVCodecParameters* par = stream->codecpar;
    par->codec_type = AVMEDIA_TYPE_AUDIO;
    par->codec_id = isFloat ? AV_CODEC_ID_PCM_F32LE : AV_CODEC_ID_PCM_S16LE;
    par->sample_rate = int(format.sampleRate);
    av_channel_layout_default(&par->ch_layout, int(format.channelCount));
    par->bits_per_coded_sample = bytes * 8;
    par->block_align = bytes * int(format.channelCount);
    stream->time_base = AVRational{1, par->sample_rate};
    result = avio_open(&raw->pb, path.c_str(), AVIO_FLAG_WRITE);
    if (result < 0) {
        error = ffmpeg::errorText(result);
        return nullptr;
    }
    result = avformat_write_header(raw, nullptr);
    if (result < 0) {
        error = ffmpeg::errorText(result);
        return nullptr;
    }
    avio_flush(raw->pb);
    w->finished_ = false;
    w->packet_ = ffmpeg::makePacket();
    if (!w->packet_) {
        error = "out of memory";
        return nullptr;
    }
    return w;
}

CafWriter::~CafWriter() {
    std::string ignored;
    finish(ignored);
}

bool CafWriter::write(const PcmBuffer& buffer, std::string& error) {
    if (finished_) {
        error = "the file is closed";
        return false;
    }
    if (!buffer.format().sameStream(format_)) {
        error = "the buffer's rate or channel count differs from the file's";
        return false;
    }
    const uint32_t frames = buffer.frameLength();
    if (frames == 0) {
        return true;
    }
    const uint32_t channels = format_.channelCount;
    const bool isFloat = encoding_ == AudioFile::SampleEncoding::Float32;
    const int size = int(frames * channels * (isFloat ? 4u : 2u));
    int result = av_new_packet(packet_.get(), size);
    if (result < 0) {
        error = ffmpeg::errorText(result);
        return false;
    }
    auto sample = [&](uint32_t frame, uint32_t channel) {
        return buffer.format().interleaved
                   ? buffer.interleavedData()[std::size_t(frame) * channels + channel]
                   : buffer.channel(channel)[frame];
    };
    uint8_t* out = packet_->data;
    for (uint32_t i = 0; i < frames; ++i) {
        for (uint32_t c = 0; c < channels; ++c) {
            if (isFloat) {
                const float v = sample(i, c);
                std::memcpy(out, &v, 4);
                out += 4;
            } else {
                const float v = clipToFullScale(sample(i, c));
                const auto s = int16_t(std::lround(v * 32767.0f));
                out[0] = uint8_t(s & 0xff);
                out[1] = uint8_t((s >> 8) & 0xff);
                out += 2;
            }
        }
    }
    packet_->pts = frames_;
    packet_->dts = frames_;
    packet_->duration = frames;
    packet_->stream_index = 0;
    result = av_write_frame(context_.get(), packet_.get());
    av_packet_unref(packet_.get());
    if (result < 0) {
        error = ffmpeg::errorText(result);
        return false;
    }
    avio_flush(context_->pb);
    frames_ += frames;
    return true;
}

bool CafWriter::finish(std::string& error) {
    if (finished_) {
        return true;
    }
    finished_ = true;
    const int result = av_write_trailer(context_.get());
    context_.reset();
    if (result < 0) {
        error = ffmpeg::errorText(result);
        return false;
    }
    return true;
}

}  // namespace kestio::platform::audio
