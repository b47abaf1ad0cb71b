#include "platform/media/media_info.h"

#include <algorithm>
#include <cmath>

#include "platform/audio/audio_format.h"
#include "platform/media/media_file.h"

namespace kestio::platform::media {

namespace {

std::uint32_t movTag(std::uint32_t codecTag) {
    // FFmpeg keeps the tag in file byte order with the first character in the low byte.
    return ((codecTag & 0xFFu) << 24) | (((codecTag >> 8) & 0xFFu) << 16) |
           (((codecTag >> 16) & 0xFFu) << 8) | ((codecTag >> 24) & 0xFFu);
}

bool isPrintableCode(std::uint32_t code) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        const auto c = static_cast<unsigned char>((code >> shift) & 0xFFu);
        if (c < 0x20 || c > 0x7E) {
            return false;
        }
    }
    return true;
}

std::uint32_t dvSubType(const AVCodecParameters& par) {
    const bool is422 = par.format == AV_PIX_FMT_YUV422P;
    if (par.height >= 1080) {
        return par.height == 1080 && par.width == 1440 ? fourCC("dvh5") : fourCC("dvh6");
    }
    if (par.height >= 720) {
        return fourCC("dvhp");
    }
    if (par.height == 576) {
        return is422 ? fourCC("dv5p") : fourCC("dvcp");
    }
    if (par.height == 480) {
        return is422 ? fourCC("dv5n") : fourCC("dvc ");
    }
    return fourCC("dvc ");
}

std::uint32_t proResSubType(int profile) {
    switch (profile) {
        case 0:
            return fourCC("apco");
        case 1:
            return fourCC("apcs");
        case 2:
            return fourCC("apcn");
        case 3:
            return fourCC("apch");
        case 4:
            return fourCC("ap4h");
        case 5:
            return fourCC("ap4x");
        default:
            return fourCC("apcn");
    }
}

std::uint32_t videoSubType(const MediaFile& file, const AVCodecParameters& par) {
    if (file.isMovFamily() && par.codec_tag != 0) {
        const std::uint32_t tag = movTag(par.codec_tag);
        if (isPrintableCode(tag)) {
            return tag;
        }
    }
    switch (par.codec_id) {
        case AV_CODEC_ID_H264:
            return fourCC("avc1");
        case AV_CODEC_ID_HEVC:
            return fourCC("hvc1");
        case AV_CODEC_ID_MPEG2VIDEO:
            return fourCC("mp2v");
        case AV_CODEC_ID_MPEG1VIDEO:
            return fourCC("mp1v");
        case AV_CODEC_ID_MPEG4:
            return fourCC("mp4v");
        case AV_CODEC_ID_H263:
            return fourCC("h263");
        case AV_CODEC_ID_MJPEG:
            return fourCC("jpeg");
        case AV_CODEC_ID_PRORES:
            return proResSubType(par.profile);
        case AV_CODEC_ID_DVVIDEO:
            return dvSubType(par);
        case AV_CODEC_ID_DNXHD:
            return par.profile > 0 ? fourCC("AVdh") : fourCC("AVdn");
        case AV_CODEC_ID_AV1:
            return fourCC("av01");
        case AV_CODEC_ID_VP9:
            return fourCC("vp09");
        default:
            return 0;
    }
}

// MPEG-1 and MPEG-2 video headers write their largest bit rate value (0x3FFFF units of 400
// bit/s) to say the rate is variable: it is no rate.
constexpr std::int64_t kMpegVariableRateMarker = 0x3FFFF * 400;

std::int64_t statedRate(const AVCodecParameters& par) {
    const bool mpegVideo =
        par.codec_id == AV_CODEC_ID_MPEG1VIDEO || par.codec_id == AV_CODEC_ID_MPEG2VIDEO;
    if (par.bit_rate <= 0 || (mpegVideo && par.bit_rate == kMpegVariableRateMarker)) {
        return 0;
    }
    return par.bit_rate;
}

// Containers that state no rate for their video (MPEG transport and program streams, MXF,
// elementary streams; Matroska) get an estimate: the file's average rate less the rates its
// audio tracks state, shared equally among the video tracks without one.
void estimateVideoRates(MediaInfo& info, std::int64_t fileBytes) {
    if (fileBytes <= 0 || !std::isfinite(info.duration) || info.duration <= 0.0) {
        return;
    }
    int unstated = 0;
    double rate = static_cast<double>(fileBytes) * 8.0 / info.duration;
    for (const TrackInfo& track : info.tracks) {
        if (track.kind == TrackKind::Video && track.estimatedDataRate == 0) {
            ++unstated;
        } else if (track.kind == TrackKind::Audio) {
            rate -= static_cast<double>(track.estimatedDataRate);
        }
    }
    if (unstated == 0 || !(rate >= 1.0)) {
        return;
    }
    // Capped far inside the range of the type (a tiny duration can make any size huge).
    const auto share = static_cast<std::int64_t>(std::min(rate / unstated, 1e18));
    for (TrackInfo& track : info.tracks) {
        if (track.kind == TrackKind::Video && track.estimatedDataRate == 0) {
            track.estimatedDataRate = share;
        }
    }
}

bool isPcm(AVCodecID id) {
    return id >= AV_CODEC_ID_PCM_S16LE && id < AV_CODEC_ID_ADPCM_IMA_QT;
}

std::uint32_t audioSubType(AVCodecID id) {
    switch (id) {
        case AV_CODEC_ID_AAC:
            return fourCC("aac ");
        case AV_CODEC_ID_PCM_MULAW:
            return fourCC("ulaw");
        case AV_CODEC_ID_PCM_ALAW:
            return fourCC("alaw");
        case AV_CODEC_ID_AC3:
            return fourCC("ac-3");
        case AV_CODEC_ID_EAC3:
            return fourCC("ec-3");
        case AV_CODEC_ID_MP3:
            return fourCC(".mp3");
        case AV_CODEC_ID_MP2:
            return fourCC(".mp2");
        case AV_CODEC_ID_MP1:
            return fourCC(".mp1");
        case AV_CODEC_ID_ALAC:
            return fourCC("alac");
        case AV_CODEC_ID_FLAC:
            return fourCC("flac");
        case AV_CODEC_ID_OPUS:
            return fourCC("opus");
        case AV_CODEC_ID_ADPCM_IMA_QT:
            return fourCC("ima4");
        case AV_CODEC_ID_AMR_NB:
            return fourCC("samr");
        case AV_CODEC_ID_AMR_WB:
            return fourCC("sawb");
        default:
            return isPcm(id) ? fourCC("lpcm") : 0;
    }
}

std::string codecText(std::uint32_t subType, AVCodecID id) {
    if (subType == 0) {
        return avcodec_get_name(id);
    }
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        text.push_back(static_cast<char>((subType >> shift) & 0xFFu));
    }
    const auto first = text.find_first_not_of(" \t");
    const auto last = text.find_last_not_of(" \t");
    return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

TrackInfo describe(const MediaFile& file, const AVStream* st) {
    const AVCodecParameters& par = *st->codecpar;
    TrackInfo track;
    track.trackID = st->id > 0 ? st->id : st->index + 1;
    track.estimatedDataRate = statedRate(par);
    const bool hasDecoder = avcodec_find_decoder(par.codec_id) != nullptr;
    switch (par.codec_type) {
        case AVMEDIA_TYPE_VIDEO:
            track.kind = TrackKind::Video;
            track.mediaType = "vide";
            track.mediaSubType = videoSubType(file, par);
            track.naturalSize = QSize(par.width, par.height);
            track.nominalFrameRate = nominalFrameRate(st);
            track.rotation = clockwiseRotation(st);
            track.decodable =
                hasDecoder && ffmpeg::MediaLimits::pictureSizeAllowed(par.width, par.height);
            break;
        case AVMEDIA_TYPE_AUDIO:
            track.kind = TrackKind::Audio;
            track.mediaType = "soun";
            track.mediaSubType = audioSubType(par.codec_id);
            track.sampleRate = par.sample_rate > 0 ? par.sample_rate : 0.0;
            track.channels = std::max(0, par.ch_layout.nb_channels);
            if (isPcm(par.codec_id) && par.codec_id != AV_CODEC_ID_PCM_MULAW &&
                par.codec_id != AV_CODEC_ID_PCM_ALAW) {
                track.bitsPerChannel = par.bits_per_raw_sample > 0
                                           ? par.bits_per_raw_sample
                                           : av_get_bits_per_sample(par.codec_id);
            }
            // The rates and channel counts the player's sound path carries.
            track.decodable =
                hasDecoder && track.channels > 0 &&
                audio::AudioFormat::make(par.sample_rate, uint32_t(track.channels)).has_value();
            break;
        case AVMEDIA_TYPE_SUBTITLE:
            track.kind = TrackKind::Subtitle;
            track.mediaType = "sbtl";
            break;
        case AVMEDIA_TYPE_DATA:
            if (movTag(par.codec_tag) == fourCC("tmcd")) {
                track.kind = TrackKind::Timecode;
                track.mediaType = "tmcd";
                track.mediaSubType = fourCC("tmcd");
            } else {
                track.kind = TrackKind::Metadata;
                track.mediaType = "meta";
            }
            break;
        default:
            track.kind = TrackKind::Metadata;
            track.mediaType = "meta";
            break;
    }
    if (track.kind == TrackKind::Video || track.kind == TrackKind::Audio) {
        track.codec = codecText(track.mediaSubType, par.codec_id);
    }
    return track;
}

// Whether the headers gave every picture and sound track its size, its sound format and its
// rate, as a probe would (some sample entries leave a size or a PCM track's rate to it).
bool headersDescribeEveryTrack(const MediaFile& file) {
    for (unsigned i = 0; i < file.context()->nb_streams; ++i) {
        const AVStream* st = file.stream(static_cast<int>(i));
        const AVCodecParameters& par = *st->codecpar;
        if (isAttachedPicture(st)) {
            continue;
        }
        if (par.codec_type == AVMEDIA_TYPE_VIDEO && (par.width <= 0 || par.height <= 0)) {
            return false;
        }
        if (par.codec_type == AVMEDIA_TYPE_AUDIO &&
            (par.sample_rate <= 0 || par.ch_layout.nb_channels <= 0)) {
            return false;
        }
        if ((par.codec_type == AVMEDIA_TYPE_VIDEO || par.codec_type == AVMEDIA_TYPE_AUDIO) &&
            par.bit_rate <= 0) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::vector<TrackInfo> MediaInfo::tracksOfKind(TrackKind kind) const {
    std::vector<TrackInfo> out;
    for (const auto& track : tracks) {
        if (track.kind == kind) {
            out.push_back(track);
        }
    }
    return out;
}

Loaded<MediaInfo> probeMediaInfo(const std::filesystem::path& path,
                                 std::shared_ptr<ffmpeg::IoControl> io, ProbeDepth depth) {
    const bool decoding = depth == ProbeDepth::decoding;
    auto opened = MediaFile::open(path, std::move(io), decoding);
    if (!opened) {
        return Loaded<MediaInfo>::failure(opened.error());
    }
    MediaFile& file = *opened;
    if (!decoding && !(file.isMovFamily() && headersDescribeEveryTrack(file))) {
        if (auto probed = file.findStreamInfo(); !probed) {
            return Loaded<MediaInfo>::failure(probed.error());
        }
    }
    MediaInfo info;
    info.duration = file.duration();
    info.formatName = file.context()->iformat != nullptr ? file.context()->iformat->name : "";
    for (unsigned i = 0; i < file.context()->nb_streams; ++i) {
        const AVStream* st = file.stream(static_cast<int>(i));
        if (isAttachedPicture(st)) {
            continue;
        }
        TrackInfo track = describe(file, st);
        if (track.decodable) {
            info.isPlayable = true;
        }
        info.tracks.push_back(std::move(track));
    }
    if (!std::isfinite(info.duration)) {
        info.duration = file.scanDuration();
    }
    AVIOContext* pb = file.context()->pb;
    estimateVideoRates(info, pb != nullptr ? avio_size(pb) : 0);
    return info;
}

}  // namespace kestio::platform::media
