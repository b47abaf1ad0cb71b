#pragma once

#include <QSize>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/media/loaded.h"

namespace kestio::platform::ffmpeg {
class IoControl;
}

namespace kestio::platform::media {

enum class TrackKind { Video, Audio, Subtitle, Timecode, Metadata };

// What a container says about one of its tracks. Attached cover pictures are not tracks.
struct TrackInfo {
    int trackID = 0;
    TrackKind kind = TrackKind::Metadata;
    // The four-letter media type: "vide", "soun", "sbtl", "tmcd" or "meta".
    std::string mediaType;
    // The codec as a four-character code (as stored in QuickTime sample descriptions, most
    // significant byte first; "aac ", "lpcm", ".mp3", "avc1", "apch", ...), or 0 when the
    // codec has none.
    std::uint32_t mediaSubType = 0;
    // The codec's text: the four-character code trimmed of spaces, or FFmpeg's codec name
    // when there is no code. Empty for tracks without a codec.
    std::string codec;
    // Whether this build can decode the track.
    bool decodable = false;
    // Bits per second, as the container or codec states it; for a video track that states
    // none, the file's average rate less the rates of its audio tracks. 0 when unknown.
    std::int64_t estimatedDataRate = 0;

    // Video: coded size (no pixel aspect, no rotation), frame rate (0 when unknown) and the
    // clockwise rotation in degrees (0, 90, 180 or 270) that shows the picture upright.
    QSize naturalSize;
    double nominalFrameRate = 0.0;
    int rotation = 0;

    // Audio: rate, channel count, and bits per sample for uncompressed formats (0 otherwise).
    double sampleRate = 0.0;
    int channels = 0;
    int bitsPerChannel = 0;
};

// Everything an asset loads: the facts of one probe of the file.
struct MediaInfo {
    // Seconds: the container's figure, or else found by reading the file's packets (raw
    // streams state none); +infinity when even that fails.
    double duration = 0.0;
    // The tracks in container order.
    std::vector<TrackInfo> tracks;
    // True when at least one video or audio track can be decoded (a video track only when
    // its picture size is within ffmpeg::MediaLimits).
    bool isPlayable = false;
    // FFmpeg's name of the container format.
    std::string formatName;

    std::vector<TrackInfo> tracksOfKind(TrackKind kind) const;
};

// How far probeMediaInfo() looks. `decoding` probes every stream by decoding a little (what an
// import records). `headers` takes QuickTime and MP4 files as their headers describe them, as a
// clip's decoder opens them: probing them decodes several pictures (at 1080p more than the
// rest of the open costs), which a cue's start would wait for. Other containers are probed.
enum class ProbeDepth { decoding, headers };

// Opens and probes a file (blocking: never call it on the main thread).
Loaded<MediaInfo> probeMediaInfo(const std::filesystem::path& path,
                                 std::shared_ptr<ffmpeg::IoControl> io,
                                 ProbeDepth depth = ProbeDepth::decoding);

// "vide", "soun", ... as a four-character code, most significant byte first.
constexpr std::uint32_t fourCC(const char (&code)[5]) {
    return (static_cast<std::uint32_t>(static_cast<unsigned char>(code[0])) << 24) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(code[1])) << 16) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(code[2])) << 8) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(code[3]));
}

}  // namespace kestio::platform::media
