#include "platform/audio/audio_converter.h"

#include <cmath>
#include <vector>

#include "platform/ffmpeg/ffmpeg_handles.h"

extern "C" {
#include <libavutil/channel_layout.h>
}

namespace kestio::platform::audio {

std::unique_ptr<AudioConverter> AudioConverter::make(const AudioFormat& from,
                                                     const AudioFormat& to) {
    if (!from.isValid() || !to.isValid()) {
        return nullptr;
    }
    return std::unique_ptr<AudioConverter>(new AudioConverter(from, to));
}

AudioConverter::AudioConverter(const AudioFormat& from, const AudioFormat& to)
    : from_(from), to_(to), map_(defaultChannelMap(from.channelCount, to.channelCount)) {}

bool AudioConverter::setChannelMap(const ChannelMap& map) {
    if (map.size() != to_.channelCount) {
        return false;
    }
    for (int source : map) {
        if (source < -1 || source >= int(from_.channelCount)) {
            return false;
        }
    }
    map_ = map;
    return true;
}

uint32_t AudioConverter::outputFramesFor(uint32_t inputFrames) const {
    if (from_.sampleRate == to_.sampleRate) {
        return inputFrames;
    }
    return uint32_t(std::ceil(double(inputFrames) * to_.sampleRate / from_.sampleRate));
}

std::optional<std::string> AudioConverter::convert(PcmBuffer& out, const PcmBuffer& in) {
    out.setFrameLength(0);
    if (!(in.format() == from_) || !(out.format() == to_)) {
        return "the buffers are not in the converter's formats";
    }
    const uint32_t frames = in.frameLength();
    if (out.frameCapacity() < outputFramesFor(frames)) {
        return "the output buffer is too small";
    }
    if (frames == 0) {
        return std::nullopt;
    }

    // The channel map first: planar input in the output's channel count.
    const uint32_t channels = to_.channelCount;
    std::vector<float> silence;
    std::vector<std::vector<float>> deinterleaved;
    std::vector<const uint8_t*> planes(channels);
    if (from_.interleaved) {
        deinterleaved.assign(from_.channelCount, std::vector<float>(frames));
        const float* src = in.interleavedData();
        for (uint32_t i = 0; i < frames; ++i) {
            for (uint32_t c = 0; c < from_.channelCount; ++c) {
                deinterleaved[c][i] = src[std::size_t(i) * from_.channelCount + c];
            }
        }
    }
    for (uint32_t c = 0; c < channels; ++c) {
        const int source = map_[c];
        const float* plane = nullptr;
        if (source >= 0) {
            plane = from_.interleaved ? deinterleaved[source].data() : in.channel(source);
        } else {
            if (silence.empty()) {
                silence.assign(frames, 0.0f);
            }
            plane = silence.data();
        }
        planes[c] = reinterpret_cast<const uint8_t*>(plane);
    }

    // Then rate and layout.
    AVChannelLayout layout{};
    av_channel_layout_default(&layout, int(channels));
    SwrContext* raw = nullptr;
    int result =
        swr_alloc_set_opts2(&raw, &layout, to_.interleaved ? AV_SAMPLE_FMT_FLT : AV_SAMPLE_FMT_FLTP,
                            int(std::lround(to_.sampleRate)), &layout, AV_SAMPLE_FMT_FLTP,
                            int(std::lround(from_.sampleRate)), 0, nullptr);
    ffmpeg::SwrPtr swr(raw);
    av_channel_layout_uninit(&layout);
    if (result < 0 || swr_init(swr.get()) < 0) {
        return "cannot set up the sample rate converter";
    }
    const uint32_t capacity = out.frameCapacity();
    std::vector<uint8_t*> outPlanes(to_.interleaved ? 1 : channels);
    auto pointAt = [&](uint32_t frame) {
        for (uint32_t c = 0; c < outPlanes.size(); ++c) {
            outPlanes[c] = reinterpret_cast<uint8_t*>(
                to_.interleaved ? out.interleavedData() + std::size_t(frame) * channels
                                : out.channel(c) + frame);
        }
    };
    pointAt(0);
    int written =
        swr_convert(swr.get(), outPlanes.data(), int(capacity), planes.data(), int(frames));
    if (written < 0) {
        return ffmpeg::errorText(written);
    }
    uint32_t total = uint32_t(written);
    // Drain what the resampler still holds.
    while (total < capacity) {
        pointAt(total);
        written = swr_convert(swr.get(), outPlanes.data(), int(capacity - total), nullptr, 0);
        if (written < 0) {
            return ffmpeg::errorText(written);
        }
        if (written == 0) {
            break;
        }
        total += uint32_t(written);
    }
    out.setFrameLength(std::min(total, outputFramesFor(frames)));
    return std::nullopt;
}

}  // namespace kestio::platform::audio
