#include "platform/media/decoded_asset.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <optional>

#include "platform/media/media_time.h"
#include "platform/runloop/manual_run_loop.h"
#include "support/media_fixtures.h"
#include "support/playback_test_support.h"

namespace kestio::platform::media {
namespace {

using kestio::test::MediaFile;
using kestio::test::mediaFixtureCatalogue;
using kestio::test::mediaFixtures;
using testing::runUntil;

// Loads everything about `path` and waits for the answer.
Loaded<MediaInfo> probe(ManualRunLoop& loop, const std::filesystem::path& path) {
    auto asset = DecodedAsset::make(loop, path);
    std::optional<Loaded<MediaInfo>> answer;
    asset->loadInfo([&](const Loaded<MediaInfo>& info) { answer = info; });
    EXPECT_TRUE(runUntil(loop, [&] { return answer.has_value(); })) << path;
    return answer.value_or(Loaded<MediaInfo>::failure("no answer"));
}

const TrackInfo* firstOfKind(const MediaInfo& info, TrackKind kind) {
    for (const auto& track : info.tracks) {
        if (track.kind == kind) {
            return &track;
        }
    }
    return nullptr;
}

// How the platform spells the codecs the fixtures are made with.
std::string expectedVideoCodec(const MediaFile& file) {
    static const std::map<std::string, std::string> spelling = {
        {"h264", "avc1"}, {"mpeg2video", "mp2v"}, {"mpeg1video", "mp1v"},
        {"h263", "s263"}, {"dvvideo", "dvcp"},    {"hevc", "hvc1"},
    };
    if (file.videoCodec == "h263" && file.container.rfind("3g", 0) != 0) {
        return "h263";
    }
    return spelling.at(file.videoCodec);
}

std::string expectedAudioCodec(const std::string& codec) {
    if (codec.rfind("pcm_", 0) == 0) {
        return "lpcm";
    }
    static const std::map<std::string, std::string> spelling = {
        {"aac", "aac"}, {"mp2", ".mp2"}, {"mp3", ".mp3"}, {"ac3", "ac-3"}, {"flac", "flac"}};
    return spelling.at(codec);
}

class ContainerFacts : public ::testing::TestWithParam<MediaFile> {};

TEST_P(ContainerFacts, ReportsTheTracksAsTheImportSpellsThem) {
    const MediaFile& file = GetParam();
    ASSERT_NO_THROW(mediaFixtures());
    ManualRunLoop loop;
    const auto info = probe(loop, file.path);
    ASSERT_TRUE(info.ok()) << info.error();
    EXPECT_TRUE(info->isPlayable);
    EXPECT_NEAR(info->duration, file.duration, 0.1);

    const TrackInfo* video = firstOfKind(*info, TrackKind::Video);
    ASSERT_NE(video, nullptr);
    EXPECT_EQ(video->mediaType, "vide");
    EXPECT_EQ(video->codec, expectedVideoCodec(file));
    EXPECT_EQ(video->naturalSize, QSize(file.width, file.height));
    EXPECT_NEAR(video->nominalFrameRate, file.frameRate.value(), 0.01);
    EXPECT_EQ(video->rotation, 0);
    EXPECT_TRUE(video->decodable);
    // Stated or estimated, never more than the whole file's average.
    const double fileRate =
        static_cast<double>(std::filesystem::file_size(file.path)) * 8.0 / info->duration;
    EXPECT_GT(video->estimatedDataRate, 0);
    EXPECT_LT(static_cast<double>(video->estimatedDataRate), fileRate * 1.01);

    const TrackInfo* audio = firstOfKind(*info, TrackKind::Audio);
    if (!file.hasAudio()) {
        EXPECT_EQ(audio, nullptr);
        return;
    }
    ASSERT_NE(audio, nullptr);
    EXPECT_EQ(audio->mediaType, "soun");
    EXPECT_EQ(audio->codec, expectedAudioCodec(file.audioCodec));
    EXPECT_EQ(audio->sampleRate, file.sampleRate);
    EXPECT_EQ(audio->channels, file.channels);
    EXPECT_EQ(audio->bitsPerChannel, file.audioBitDepth);
}

INSTANTIATE_TEST_SUITE_P(VideoContainers, ContainerFacts,
                         ::testing::ValuesIn(mediaFixtureCatalogue().videoContainers),
                         [](const auto& param) { return param.param.testName(); });

// The asset reads QuickTime and MP4 files from their headers alone (a cue's start waits for
// it); every container, audio files and the rotated clip included, still gives what a probe that
// decodes gives.
TEST(AssetProbe, HeadersGiveWhatDecodingGives) {
    ASSERT_NO_THROW(mediaFixtures());
    std::vector<const MediaFile*> files = mediaFixtures().all();
    ManualRunLoop loop;
    for (const MediaFile* file : files) {
        SCOPED_TRACE(file->path.filename().string());
        const auto fromAsset = probe(loop, file->path);
        const auto decoded =
            probeMediaInfo(file->path, std::make_shared<ffmpeg::IoControl>(), ProbeDepth::decoding);
        ASSERT_EQ(fromAsset.ok(), decoded.ok());
        if (!decoded.ok()) {
            continue;
        }
        EXPECT_EQ(fromAsset->isPlayable, decoded->isPlayable);
        EXPECT_EQ(fromAsset->formatName, decoded->formatName);
        EXPECT_NEAR(fromAsset->duration, decoded->duration, 1e-3);
        ASSERT_EQ(fromAsset->tracks.size(), decoded->tracks.size());
        for (std::size_t i = 0; i < decoded->tracks.size(); ++i) {
            const TrackInfo& a = fromAsset->tracks[i];
            const TrackInfo& d = decoded->tracks[i];
            EXPECT_EQ(a.kind, d.kind) << i;
            EXPECT_EQ(a.codec, d.codec) << i;
            EXPECT_EQ(a.naturalSize, d.naturalSize) << i;
            EXPECT_NEAR(a.nominalFrameRate, d.nominalFrameRate, 1e-3) << i;
            EXPECT_EQ(a.rotation, d.rotation) << i;
            EXPECT_EQ(a.sampleRate, d.sampleRate) << i;
            EXPECT_EQ(a.channels, d.channels) << i;
            EXPECT_EQ(a.bitsPerChannel, d.bitsPerChannel) << i;
            EXPECT_EQ(a.decodable, d.decodable) << i;
            EXPECT_EQ(a.estimatedDataRate, d.estimatedDataRate) << i;
        }
    }
}

TEST(AssetProbe, AVideoRateTheContainerDoesNotStateIsTheFileAverageLessItsSound) {
    ManualRunLoop loop;
    // Program and transport streams, MXF and an elementary stream state none; the MPEG-1
    // video header in the .mpeg marks its rate as variable with the largest value it can hold.
    for (const char* extension : {"mpg", "mpeg", "ts", "m2t", "mxf", "m2v"}) {
        const auto& file = mediaFixtures().video(extension);
        const auto info = probe(loop, file.path);
        ASSERT_TRUE(info.ok()) << extension << ": " << info.error();
        double expected =
            static_cast<double>(std::filesystem::file_size(file.path)) * 8.0 / info->duration;
        for (const auto& audio : info->tracksOfKind(TrackKind::Audio)) {
            EXPECT_GT(audio.estimatedDataRate, 0) << extension;
            expected -= static_cast<double>(audio.estimatedDataRate);
        }
        const TrackInfo* video = firstOfKind(*info, TrackKind::Video);
        ASSERT_NE(video, nullptr) << extension;
        EXPECT_NEAR(static_cast<double>(video->estimatedDataRate), expected, 1.0) << extension;
        EXPECT_NE(video->estimatedDataRate, 0x3FFFF * 400) << extension;
    }
    // A rate the container states is taken as it stands.
    const auto dv = probe(loop, mediaFixtures().video("dv").path);
    ASSERT_TRUE(dv.ok());
    EXPECT_EQ(firstOfKind(*dv, TrackKind::Video)->estimatedDataRate, 25'000'000);
}

TEST(AssetProbe, AudioFilesHaveOneSoundTrackAndNoPicture) {
    ManualRunLoop loop;
    for (const auto& file : mediaFixtures().audioFiles) {
        const auto info = probe(loop, file.path);
        ASSERT_TRUE(info.ok()) << file.path << ": " << info.error();
        EXPECT_TRUE(info->isPlayable);
        EXPECT_EQ(firstOfKind(*info, TrackKind::Video), nullptr) << file.path;
        const TrackInfo* audio = firstOfKind(*info, TrackKind::Audio);
        ASSERT_NE(audio, nullptr) << file.path;
        EXPECT_EQ(audio->codec, expectedAudioCodec(file.audioCodec)) << file.path;
        EXPECT_EQ(audio->bitsPerChannel, file.audioBitDepth) << file.path;
        EXPECT_EQ(audio->mediaSubType != 0, true) << file.path;
        EXPECT_NEAR(info->duration, file.duration, 0.1) << file.path;
    }
}

TEST(AssetProbe, FourCharacterCodesReadMostSignificantByteFirst) {
    ManualRunLoop loop;
    const auto mp4 = probe(loop, mediaFixtures().video("mp4").path);
    ASSERT_TRUE(mp4.ok());
    EXPECT_EQ(firstOfKind(*mp4, TrackKind::Video)->mediaSubType, fourCC("avc1"));
    EXPECT_EQ(firstOfKind(*mp4, TrackKind::Audio)->mediaSubType, fourCC("aac "));
    const auto mp3 = probe(loop, mediaFixtures().audio("mp3").path);
    ASSERT_TRUE(mp3.ok());
    EXPECT_EQ(firstOfKind(*mp3, TrackKind::Audio)->mediaSubType, fourCC(".mp3"));
}

TEST(AssetProbe, RotationIsTheClockwiseTurnThatShowsThePictureUpright) {
    ManualRunLoop loop;
    const auto info = probe(loop, mediaFixtures().rotatedClip.path);
    ASSERT_TRUE(info.ok());
    const TrackInfo* video = firstOfKind(*info, TrackKind::Video);
    ASSERT_NE(video, nullptr);
    EXPECT_EQ(video->rotation, 90);
    EXPECT_EQ(video->naturalSize, QSize(320, 180));  // as stored
}

TEST(AssetProbe, CoverPicturesAreNotVideoTracks) {
    const std::filesystem::path file =
        std::filesystem::path(KESTIO_SHARED_MEDIA_DIR) / "mp4rust-bbb-metadata.m4v";
    if (!std::filesystem::exists(file)) {
        GTEST_SKIP() << "no public sample media";
    }
    ManualRunLoop loop;
    const auto info = probe(loop, file);
    ASSERT_TRUE(info.ok()) << info.error();
    EXPECT_EQ(info->tracksOfKind(TrackKind::Video).size(), 1u);
    EXPECT_EQ(info->tracksOfKind(TrackKind::Video).front().naturalSize, QSize(320, 180));
}

TEST(AssetProbe, EachLoadAnswersOnTheRunLoopAfterOneProbe) {
    ManualRunLoop loop;
    const auto& clip = mediaFixtures().video("mp4");
    auto asset = DecodedAsset::make(loop, clip.path);
    int answers = 0;
    std::optional<double> duration;
    std::optional<std::size_t> videoTracks;
    std::optional<bool> playable;
    asset->loadDuration([&](const Loaded<double>& d) {
        ++answers;
        duration = d.value();
    });
    asset->loadVideoTracks([&](const Loaded<std::vector<TrackInfo>>& tracks) {
        ++answers;
        videoTracks = tracks->size();
    });
    EXPECT_EQ(answers, 0) << "loads never answer synchronously";
    ASSERT_TRUE(runUntil(loop, [&] { return answers == 2; }));
    EXPECT_NEAR(*duration, clip.duration, 0.1);
    EXPECT_EQ(*videoTracks, 1u);

    // Known by now, but still answered on a later turn.
    asset->loadIsPlayable([&](const Loaded<bool>& p) { playable = p.value(); });
    EXPECT_FALSE(playable.has_value());
    loop.runPending();
    EXPECT_EQ(playable, true);
}

TEST(AssetProbe, FilesThatAreNotMediaFailEveryLoadWithAReason) {
    ManualRunLoop loop;
    const auto folder = std::filesystem::path(KESTIO_FIXTURE_DIR) / "media-tests" / "broken";
    const auto broken = testing::makeBrokenFiles(folder, mediaFixtures().video("mp4").path);
    for (const auto& path :
         {broken.empty, broken.text, broken.noise, broken.truncated, folder / "missing.mov"}) {
        auto asset = DecodedAsset::make(loop, path);
        std::optional<Loaded<double>> duration;
        std::optional<Loaded<std::vector<TrackInfo>>> tracks;
        asset->loadDuration([&](const Loaded<double>& d) { duration = d; });
        asset->loadTracks([&](const Loaded<std::vector<TrackInfo>>& t) { tracks = t; });
        ASSERT_TRUE(runUntil(loop, [&] { return duration && tracks; })) << path;
        EXPECT_FALSE(duration->ok()) << path;
        EXPECT_FALSE(duration->error().empty()) << path;
        EXPECT_FALSE(tracks->ok()) << path;
    }
}

TEST(AssetProbe, DestroyingAnAssetWhileItProbesDropsTheAnswer) {
    ManualRunLoop loop;
    bool answered = false;
    {
        auto asset = DecodedAsset::make(loop, mediaFixtures().video("mxf").path);
        asset->loadInfo([&](const Loaded<MediaInfo>&) { answered = true; });
    }
    loop.runPending();
    EXPECT_FALSE(answered);
}

TEST(MediaTime, SecondsRoundToTheNearestTickOfTheTimescale) {
    EXPECT_DOUBLE_EQ(MediaTime::seconds(1.0 / 3.0), 200.0 / 600.0);
    EXPECT_DOUBLE_EQ(MediaTime::seconds(9.9633), 5978.0 / 600.0);
    EXPECT_DOUBLE_EQ(MediaTime::seconds(2.5, 1), 3.0);
    EXPECT_TRUE(std::isnan(MediaTime::seconds(MediaTime::invalid())));
    EXPECT_TRUE(MediaTime::isIndefinite(MediaTime::seconds(MediaTime::indefinite())));
    EXPECT_FALSE(MediaTime::isNumeric(MediaTime::indefinite()));
    EXPECT_DOUBLE_EQ(TimeRange::fromTo(1.5, 4.0).duration, 2.5);
}

}  // namespace
}  // namespace kestio::platform::media
