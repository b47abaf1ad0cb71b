#include "import/clip_facts.h"

#include <gtest/gtest.h>

#include <limits>

#include "import/four_cc.h"
#include "import/url_parts.h"

namespace kestio {
namespace {

namespace media = platform::media;
using media::fourCC;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(FourCCString, ReadsTheBytesMostSignificantFirstAndTrimsBlanks) {
    EXPECT_EQ(fourCCString(fourCC("avc1")), "avc1");
    EXPECT_EQ(fourCCString(fourCC("aac ")), "aac");
    EXPECT_EQ(fourCCString(fourCC(".mp3")), ".mp3");
    EXPECT_EQ(fourCCString(fourCC(" \tx ")), "x");
}

TEST(FourCCString, StopsAtTheFirstZeroByteAndNamesAnEmptyCodeUnknown) {
    EXPECT_EQ(fourCCString(0), "Unknown");
    EXPECT_EQ(fourCCString(fourCC("    ")), "Unknown");
    EXPECT_EQ(fourCCString(0x61620063u), "ab");  // 'a' 'b' NUL 'c'
}

TEST(FourCCString, ReplacesInvalidUtf8WithTheReplacementCharacter) {
    EXPECT_EQ(fourCCString(0x61FF6263u),
              "a\xEF\xBF\xBD"
              "bc");
    // A complete two-byte sequence is kept.
    EXPECT_EQ(fourCCString(0xC3A96162u),
              "\xC3\xA9"
              "ab");
}

TEST(UrlParts, NameExtensionAndLastComponent) {
    EXPECT_EQ(lastPathComponent("/a/b/Take 1.MOV"), "Take 1.MOV");
    EXPECT_EQ(pathExtension("/a/b/Take 1.MOV"), "MOV");
    EXPECT_EQ(nameWithoutExtension("/a/b/Take 1.MOV"), "Take 1");
    EXPECT_EQ(nameWithoutExtension("/a/show.v2.mp4"), "show.v2");
    EXPECT_EQ(nameWithoutExtension("/a/README"), "README");
    EXPECT_EQ(pathExtension("/a/README"), "");
    EXPECT_EQ(lastPathComponent("/a/folder/"), "folder");
    EXPECT_EQ(asciiLowercase("MxF"), "mxf");
}

TEST(SaneNumbers, NonFiniteAndNegativeFiguresBecomeZero) {
    EXPECT_EQ(saneMeasure(kNaN), 0.0);
    EXPECT_EQ(saneMeasure(kInf), 0.0);
    EXPECT_EQ(saneMeasure(-kInf), 0.0);
    EXPECT_EQ(saneMeasure(-3.5), 0.0);
    EXPECT_EQ(saneMeasure(29.97), 29.97);
    EXPECT_EQ(saneCount(1e300), INT64_MAX);
    EXPECT_EQ(saneCount(kNaN), 0);
    EXPECT_EQ(saneCount(1234.9), 1234);
}

TEST(SaneNumbers, ResolutionTakesIntegerPartsOfAbsoluteSizes) {
    EXPECT_EQ(resolutionText(720, 576), "720x576");
    EXPECT_EQ(resolutionText(-1920.7, 1080.2), "1920x1080");
    EXPECT_EQ(resolutionText(kNaN, kInf), "0x0");
}

media::TrackInfo videoTrack(const char (&code)[5], int w, int h, double fps, std::int64_t rate) {
    media::TrackInfo t;
    t.kind = media::TrackKind::Video;
    t.mediaType = "vide";
    t.mediaSubType = fourCC(code);
    t.naturalSize = QSize(w, h);
    t.nominalFrameRate = fps;
    t.estimatedDataRate = rate;
    t.decodable = true;
    return t;
}

media::TrackInfo audioTrack(const char (&code)[5], double rate, int channels, int bits) {
    media::TrackInfo t;
    t.kind = media::TrackKind::Audio;
    t.mediaType = "soun";
    t.mediaSubType = fourCC(code);
    t.sampleRate = rate;
    t.channels = channels;
    t.bitsPerChannel = bits;
    t.decodable = true;
    return t;
}

TEST(VideoClipInfo, StartsUnknownAndEmptyWithoutTracks) {
    media::MediaInfo info;
    info.duration = 0;
    const ClipInfo clip = videoClipInfo(info, std::nullopt);
    EXPECT_EQ(clip.codec, "Unknown");
    EXPECT_EQ(clip.resolution, "Unknown");
    EXPECT_EQ(clip.fps, 0);
    EXPECT_EQ(clip.bitRate, 0);
    EXPECT_EQ(clip.channels, 0);
    EXPECT_EQ(clip.sampleRate, 0);
    EXPECT_EQ(clip.audioBitDepth, 0);
    EXPECT_EQ(clip.audioCodec, "");
    EXPECT_FALSE(clip.sourceModifiedAt);
}

TEST(VideoClipInfo, TheLastTrackOfEachKindWinsAndOtherTracksAreSkipped) {
    media::MediaInfo info;
    info.duration = 12.5;
    info.tracks = {videoTrack("avc1", 1920, 1080, 25, 8'000'000), audioTrack("aac ", 48000, 2, 0),
                   videoTrack("apch", 1280, 720, 50, 90'000'000), audioTrack("lpcm", 96000, 6, 24)};
    media::TrackInfo timecode;
    timecode.kind = media::TrackKind::Timecode;
    timecode.mediaType = "tmcd";
    timecode.mediaSubType = fourCC("tmcd");
    info.tracks.push_back(timecode);

    const ClipInfo clip = videoClipInfo(info, 700000000.25);
    EXPECT_EQ(clip.codec, "apch");
    EXPECT_EQ(clip.resolution, "1280x720");
    EXPECT_EQ(clip.fps, 50);
    EXPECT_EQ(clip.bitRate, 90'000'000);
    EXPECT_EQ(clip.duration, 12.5);
    EXPECT_EQ(clip.audioCodec, "lpcm");
    EXPECT_EQ(clip.sampleRate, 96000);
    EXPECT_EQ(clip.channels, 6);
    EXPECT_EQ(clip.audioBitDepth, 24);
    EXPECT_EQ(clip.sourceModifiedAt, 700000000.25);
}

TEST(VideoClipInfo, ProbeFiguresThatADocumentCannotHoldAreStoredAsZero) {
    media::MediaInfo info;
    info.duration = kInf;
    info.tracks = {videoTrack("avc1", -640, 480, kNaN, -5), audioTrack("aac ", kInf, -2, -1)};
    const ClipInfo clip = videoClipInfo(info, kNaN);
    EXPECT_EQ(clip.duration, 0);
    EXPECT_EQ(clip.fps, 0);
    EXPECT_EQ(clip.bitRate, 0);
    EXPECT_EQ(clip.resolution, "640x480");
    EXPECT_EQ(clip.sampleRate, 0);
    EXPECT_EQ(clip.channels, 0);
    EXPECT_EQ(clip.audioBitDepth, 0);
    EXPECT_FALSE(clip.sourceModifiedAt);
}

TEST(VideoClipInfo, ACodecWithoutFourCharacterCodeIsNamedByTheDecoder) {
    media::MediaInfo info;
    info.duration = 1;
    media::TrackInfo video = videoTrack("avc1", 64, 64, 24, 1000);
    video.mediaSubType = 0;
    video.codec = "vp8";
    info.tracks = {video};
    EXPECT_EQ(videoClipInfo(info, std::nullopt).codec, "vp8");
    info.tracks[0].codec = "";
    EXPECT_EQ(videoClipInfo(info, std::nullopt).codec, "Unknown");
}

TEST(AudioClipInfo, TakesTheFirstAudioFormatOrNothing) {
    const media::TrackInfo flac = audioTrack("flac", 44100, 2, 0);
    const ClipInfo clip = audioClipInfo(3.25, &flac);
    EXPECT_EQ(clip.codec, "Audio");
    EXPECT_EQ(clip.resolution, "-");
    EXPECT_EQ(clip.duration, 3.25);
    EXPECT_EQ(clip.audioCodec, "flac");
    EXPECT_EQ(clip.sampleRate, 44100);
    EXPECT_EQ(clip.channels, 2);
    EXPECT_EQ(clip.audioBitDepth, 0);
    EXPECT_EQ(clip.fps, 0);
    EXPECT_EQ(clip.bitRate, 0);
    EXPECT_FALSE(clip.sourceModifiedAt);

    const ClipInfo bare = audioClipInfo(kNaN, nullptr);
    EXPECT_EQ(bare.duration, 0);
    EXPECT_EQ(bare.audioCodec, "");
    EXPECT_EQ(bare.channels, 0);
}

TEST(StillClipInfo, PixelSizeAndNothingElse) {
    const ClipInfo clip = stillClipInfo(4000, 3000);
    EXPECT_EQ(clip.codec, "Still");
    EXPECT_EQ(clip.resolution, "4000x3000");
    EXPECT_EQ(clip.duration, 0);
    EXPECT_EQ(clip.audioCodec, "");
    EXPECT_FALSE(clip.sourceModifiedAt);
}

}  // namespace
}  // namespace kestio
