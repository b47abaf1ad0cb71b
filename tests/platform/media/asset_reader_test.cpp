#include "platform/media/asset_reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>

#include "support/media_fixtures.h"
#include "support/process_runner.h"

namespace kestio::platform::media {
namespace {

using kestio::test::kToneAmplitude;
using kestio::test::kToneSampleRate;
using kestio::test::mediaFixtures;

struct Decoded {
    std::int64_t frames = 0;
    float peak[2] = {0.0f, 0.0f};
    bool channelsEqual = true;
    AssetReader::Status status = AssetReader::Status::Reading;
};

Decoded readAll(AssetReader& reader) {
    Decoded decoded;
    const int channels = reader.channels();
    while (auto buffer = reader.copyNextSampleBuffer()) {
        EXPECT_EQ(buffer->samples.size(), static_cast<std::size_t>(buffer->frameCount * channels));
        decoded.frames += buffer->frameCount;
        for (std::int64_t f = 0; f < buffer->frameCount; ++f) {
            const float* frame = &buffer->samples[static_cast<std::size_t>(f * channels)];
            for (int c = 0; c < std::min(channels, 2); ++c) {
                decoded.peak[c] = std::max(decoded.peak[c], std::abs(frame[c]));
            }
            if (channels >= 2 && std::abs(frame[0] - frame[1]) > 2e-3f) {
                decoded.channelsEqual = false;
            }
        }
    }
    decoded.status = reader.status();
    return decoded;
}

TEST(AssetReader, DecodesEveryAudioFormatToInterleavedFloat) {
    for (const auto& file : mediaFixtures().audioFiles) {
        auto reader = AssetReader::open(file.path);
        ASSERT_TRUE(reader.ok()) << file.path << ": " << reader.error();
        EXPECT_EQ((*reader)->sampleRate(), kToneSampleRate);
        EXPECT_EQ((*reader)->channels(), 2);
        const auto decoded = readAll(**reader);
        EXPECT_EQ(decoded.status, AssetReader::Status::Completed) << file.path;
        // Lossy codecs add their priming and padding.
        EXPECT_NEAR(static_cast<double>(decoded.frames), file.duration * kToneSampleRate, 3000)
            << file.path;
        EXPECT_NEAR(decoded.peak[0], kToneAmplitude, 0.01) << file.path;
        EXPECT_TRUE(decoded.channelsEqual) << file.path;
    }
}

TEST(AssetReader, ResamplesAndSpreadsMonoToEveryChannelAtFullLevel) {
    const auto& wav = mediaFixtures().audio("wav");
    auto reader = AssetReader::open(wav.path, {.sampleRate = 44100.0, .channels = 2});
    ASSERT_TRUE(reader.ok());
    const auto resampled = readAll(**reader);
    EXPECT_NEAR(static_cast<double>(resampled.frames), wav.duration * 44100.0, 64);
    EXPECT_NEAR(resampled.peak[0], kToneAmplitude, 0.01);

    auto mono = AssetReader::open(wav.path, {.channels = 1});
    ASSERT_TRUE(mono.ok());
    EXPECT_EQ((*mono)->channels(), 1);

    const std::filesystem::path monoFile =
        std::filesystem::path(KESTIO_SHARED_MEDIA_DIR) / "tinytag-test3sMono.wav";
    if (!std::filesystem::exists(monoFile)) {
        GTEST_SKIP() << "no public sample media";
    }
    auto spread = AssetReader::open(monoFile, {.channels = 2});
    ASSERT_TRUE(spread.ok());
    const auto decoded = readAll(**spread);
    EXPECT_TRUE(decoded.channelsEqual);
    EXPECT_GT(decoded.peak[0], 0.05f);
    auto single = AssetReader::open(monoFile, {.channels = 1});
    ASSERT_TRUE(single.ok());
    EXPECT_FLOAT_EQ(readAll(**single).peak[0], decoded.peak[0]) << "unity gain, not -3 dB";
}

TEST(AssetReader, MixesEveryTrackWhenAsked) {
    // Two copies of the tone as separate tracks.
    const auto& wav = mediaFixtures().audio("wav");
    const auto folder = std::filesystem::path(KESTIO_FIXTURE_DIR) / "media-tests";
    std::filesystem::create_directories(folder);
    const auto twoTracks = folder / "two_tracks.mkv";
    if (!std::filesystem::exists(twoTracks)) {
        const std::vector<std::string> argv = {"ffmpeg",
                                               "-nostdin",
                                               "-y",
                                               "-loglevel",
                                               "error",
                                               "-i",
                                               wav.path.string(),
                                               "-i",
                                               wav.path.string(),
                                               "-map",
                                               "0:a",
                                               "-map",
                                               "1:a",
                                               "-c:a",
                                               "pcm_s16le",
                                               (folder / "two_tracks.tmp.mkv").string()};
        const auto result = kestio::test::runProcess(argv, std::chrono::seconds(60));
        ASSERT_TRUE(result.succeeded()) << kestio::test::describeFailure(argv, result);
        std::filesystem::rename(folder / "two_tracks.tmp.mkv", twoTracks);
    }
    auto first = AssetReader::open(twoTracks);
    ASSERT_TRUE(first.ok());
    EXPECT_NEAR(readAll(**first).peak[0], kToneAmplitude, 0.01);
    auto mixed = AssetReader::open(twoTracks, {.mixAllTracks = true});
    ASSERT_TRUE(mixed.ok());
    const auto decoded = readAll(**mixed);
    EXPECT_NEAR(decoded.peak[0], 2 * kToneAmplitude, 0.01);
    EXPECT_NEAR(static_cast<double>(decoded.frames), wav.duration * kToneSampleRate, 64);
}

TEST(AssetReader, ReadsTheSoundOfAVideoAndRefusesAVideoWithout) {
    auto withSound = AssetReader::open(mediaFixtures().video("mp4").path);
    ASSERT_TRUE(withSound.ok());
    EXPECT_GT(readAll(**withSound).peak[0], 0.1f);
    auto silent = AssetReader::open(mediaFixtures().video("m2v").path);
    EXPECT_FALSE(silent.ok());
    EXPECT_FALSE(silent.error().empty());
}

TEST(AssetReader, CancellingStopsReading) {
    auto reader = AssetReader::open(mediaFixtures().audio("flac").path);
    ASSERT_TRUE(reader.ok());
    ASSERT_TRUE((*reader)->copyNextSampleBuffer().has_value());
    (*reader)->cancelReading();
    EXPECT_FALSE((*reader)->copyNextSampleBuffer().has_value());
    EXPECT_EQ((*reader)->status(), AssetReader::Status::Cancelled);
}

}  // namespace
}  // namespace kestio::platform::media
