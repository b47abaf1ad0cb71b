#pragma once

// How the facts of a probe become a slot's ClipInfo. Every number that reaches a ClipInfo is
// finite and not negative (an unknown or nonsensical figure becomes 0), so a project holding it
// can always be saved.

#include <cstdint>
#include <optional>
#include <string>

#include "model/reference_date.h"
#include "model/settings_records.h"
#include "platform/media/media_info.h"

namespace kestio {

// `value` when it is finite and not negative, else 0.
double saneMeasure(double value);
// The integer part of a sane measure, within the range of the type.
std::int64_t saneCount(double value);

// "WxH" from the integer parts of the absolute width and height ("720x576").
std::string resolutionText(double width, double height);

// The codec text of a track: its four-character code, or the media library's codec name for
// a codec that has none.
std::string trackCodecText(const platform::media::TrackInfo& track);

// The facts of a video file: every video and audio track in order, the last of each kind
// winning; other tracks are skipped. Without a video track codec and resolution stay
// "Unknown"; without an audio track the audio codec is empty and the audio figures 0. The bit
// rate is the probe's estimate for the video track.
ClipInfo videoClipInfo(const platform::media::MediaInfo& info,
                       std::optional<ReferenceDate> modifiedAt);

// The facts of a sound file: duration, and the format of its first audio track when there is one.
ClipInfo audioClipInfo(double duration, const platform::media::TrackInfo* firstAudioTrack);

// The facts of a still image of the given pixel size.
ClipInfo stillClipInfo(int width, int height);

}  // namespace kestio
