#include "import/clip_facts.h"

#include <algorithm>
#include <cmath>

#include "import/four_cc.h"

namespace kestio {

namespace media = platform::media;

double saneMeasure(double value) {
    return std::isfinite(value) && value > 0.0 ? value : 0.0;
}

std::int64_t saneCount(double value) {
    const double sane = std::trunc(saneMeasure(value));
    // 2^63 is the first double beyond the range of int64_t.
    constexpr double kLimit = 9223372036854775808.0;
    return sane < kLimit ? static_cast<std::int64_t>(sane) : INT64_MAX;
}

std::string resolutionText(double width, double height) {
    return std::to_string(saneCount(std::fabs(width))) + "x" +
           std::to_string(saneCount(std::fabs(height)));
}

std::string trackCodecText(const media::TrackInfo& track) {
    if (track.mediaSubType != 0) {
        return fourCCString(track.mediaSubType);
    }
    return track.codec.empty() || track.codec == "none" ? std::string("Unknown") : track.codec;
}

namespace {

struct AudioFormatFacts {
    std::string codec;
    double sampleRate = 0;
    std::int64_t channels = 0;
    std::int64_t bitDepth = 0;
};

AudioFormatFacts audioFormatFacts(const media::TrackInfo& track) {
    return {trackCodecText(track), saneMeasure(track.sampleRate), saneCount(track.channels),
            saneCount(track.bitsPerChannel)};
}

}  // namespace

ClipInfo videoClipInfo(const media::MediaInfo& info, std::optional<ReferenceDate> modifiedAt) {
    ClipInfo clip;
    clip.codec = "Unknown";
    clip.resolution = "Unknown";
    for (const media::TrackInfo& track : info.tracks) {
        if (track.kind == media::TrackKind::Video) {
            clip.codec = trackCodecText(track);
            clip.resolution = resolutionText(track.naturalSize.width(), track.naturalSize.height());
            clip.fps = saneMeasure(track.nominalFrameRate);
            clip.bitRate = std::max<std::int64_t>(0, track.estimatedDataRate);
        } else if (track.kind == media::TrackKind::Audio) {
            const AudioFormatFacts facts = audioFormatFacts(track);
            clip.audioCodec = facts.codec;
            clip.sampleRate = facts.sampleRate;
            clip.channels = facts.channels;
            clip.audioBitDepth = facts.bitDepth;
        }
    }
    clip.duration = saneMeasure(info.duration);
    if (modifiedAt && std::isfinite(*modifiedAt)) {
        clip.sourceModifiedAt = modifiedAt;
    }
    return clip;
}

ClipInfo audioClipInfo(double duration, const media::TrackInfo* firstAudioTrack) {
    ClipInfo clip;
    clip.codec = "Audio";
    clip.resolution = "-";
    clip.duration = saneMeasure(duration);
    if (firstAudioTrack != nullptr) {
        const AudioFormatFacts facts = audioFormatFacts(*firstAudioTrack);
        clip.audioCodec = facts.codec;
        clip.sampleRate = facts.sampleRate;
        clip.channels = facts.channels;
        clip.audioBitDepth = facts.bitDepth;
    }
    return clip;
}

ClipInfo stillClipInfo(int width, int height) {
    ClipInfo clip;
    clip.codec = "Still";
    clip.resolution = std::to_string(width) + "x" + std::to_string(height);
    return clip;
}

}  // namespace kestio
