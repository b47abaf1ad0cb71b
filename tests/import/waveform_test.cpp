// Waveforms and preview regeneration read from real files.

#include <gtest/gtest.h>

#include <QImage>
#include <algorithm>
#include <cmath>
#include <fstream>
#include <numbers>

#include "importer_harness.h"
#include "support/media_fixtures.h"
#include "support/process_runner.h"
#include "support/temporary_folder.h"
#include "wav_bytes.h"

namespace kestio::test {
namespace {

std::vector<float> sineSamples(double peak, int frames, int channels, int rate) {
    std::vector<float> samples;
    for (int i = 0; i < frames; ++i) {
        const auto v =
            static_cast<float>(peak * std::sin(2.0 * std::numbers::pi * 1000.0 * i / rate));
        for (int c = 0; c < channels; ++c) {
            samples.push_back(v);
        }
    }
    return samples;
}

void expectConstant(const std::vector<float>& points, float level, float tolerance) {
    for (std::size_t i = 0; i < points.size(); ++i) {
        EXPECT_NEAR(points[i], level, tolerance) << "point " << i;
    }
}

TEST(Waveform, AQuarterScaleSineGivesThreeQuartersEverywhere) {
    TemporaryFolder folder;
    const auto file =
        folder.write("quarter.wav", floatWav(sineSamples(0.25, 48000, 2, 48000), 2, 48000));
    ImporterHarness harness;
    const auto points = harness.waveform(file, 500);
    ASSERT_TRUE(points);
    ASSERT_EQ(points->size(), 500u);
    expectConstant(*points, 0.75f, 1e-6f);
}

TEST(Waveform, MonoCountsAtFullLevelInBothChannels) {
    TemporaryFolder folder;
    const auto mono =
        folder.write("mono.wav", floatWav(sineSamples(0.2, 24000, 1, 48000), 1, 48000));
    const auto stereo =
        folder.write("stereo.wav", floatWav(sineSamples(0.2, 24000, 2, 48000), 2, 48000));
    ImporterHarness harness;
    const auto monoPoints = harness.waveform(mono, 200);
    const auto stereoPoints = harness.waveform(stereo, 200);
    ASSERT_TRUE(monoPoints && stereoPoints);
    EXPECT_EQ(*monoPoints, *stereoPoints);
    expectConstant(*monoPoints, 0.6f, 1e-6f);
}

TEST(Waveform, FivePointOneIsDownmixedWithCentreAndSurroundsAtMinusThreeDecibels) {
    // 5.1 in the default order (FL FR FC LFE BL BR); the LFE is loud and must not count.
    // Sound at √2 × 0.25 in the centre, or in both surrounds, reaches each side at 0.25.
    TemporaryFolder folder;
    ImporterHarness harness;
    for (const std::vector<int>& sounding : {std::vector<int>{2}, std::vector<int>{4, 5}}) {
        const auto sine = sineSamples(0.25 * std::numbers::sqrt2, 4800, 1, 48000);
        std::vector<float> samples;
        for (const float v : sine) {
            for (int c = 0; c < 6; ++c) {
                const bool on = std::find(sounding.begin(), sounding.end(), c) != sounding.end();
                samples.push_back(on ? v : c == 3 ? 0.9f * v : 0.0f);
            }
        }
        const auto file = folder.write("surround.wav", floatWav(samples, 6, 48000));
        const auto points = harness.waveform(file, 48);
        ASSERT_TRUE(points);
        expectConstant(*points, 0.75f, 1e-3f);
    }
}

TEST(Waveform, SilenceGivesZeros) {
    TemporaryFolder folder;
    const auto file =
        folder.write("silence.wav", floatWav(std::vector<float>(2 * 4800, 0.0f), 2, 48000));
    ImporterHarness harness;
    EXPECT_EQ(harness.waveform(file, 500), std::vector<float>(500, 0.0f));
}

TEST(Waveform, AFileShorterThanThePointsGivesOnePointPerFrameThenZeros) {
    TemporaryFolder folder;
    const auto file =
        folder.write("short.wav", floatWav(std::vector<float>(2 * 100, 0.3f), 2, 48000));
    ImporterHarness harness;
    const auto points = harness.waveform(file, 500);
    ASSERT_TRUE(points);
    for (std::size_t i = 0; i < 500; ++i) {
        EXPECT_NEAR((*points)[i], i < 100 ? 0.9f : 0.0f, 1e-6f) << i;
    }
}

TEST(Waveform, PointsTheSoundDoesNotReachAreZero) {
    TemporaryFolder folder;
    // One second of the tone in AIFF, whose header is then made to claim two.
    const auto file = folder / "claims_more.aiff";
    const std::vector<std::string> argv = {
        "ffmpeg",       "-nostdin",
        "-hide_banner", "-loglevel",
        "error",        "-y",
        "-f",           "lavfi",
        "-i",           "sine=frequency=1000:sample_rate=48000:duration=1",
        "-c:a",         "pcm_s16be",
        file.string()};
    const ProcessResult made = runProcess(argv, std::chrono::seconds(60));
    ASSERT_TRUE(made.succeeded()) << describeFailure(argv, made);
    std::fstream aiff(file, std::ios::in | std::ios::out | std::ios::binary);
    std::string head(512, '\0');
    aiff.read(head.data(), static_cast<std::streamsize>(head.size()));
    const auto comm = head.find("COMM");
    ASSERT_NE(comm, std::string::npos);
    aiff.clear();
    aiff.seekp(static_cast<std::streamoff>(comm + 10));  // after the size and channel count
    const char frames[4] = {0, 0x01, 0x77, 0x00};        // 96000, big-endian
    aiff.write(frames, 4);
    aiff.close();

    ImporterHarness harness;
    const auto points = harness.waveform(file, 100);
    ASSERT_TRUE(points);
    for (std::size_t i = 0; i < 100; ++i) {
        EXPECT_NEAR((*points)[i], i < 50 ? 3 * kToneAmplitude : 0.0, 2e-3) << i;
    }
}

TEST(Waveform, AVideoGivesItsSoundAndOneWithoutSoundGivesNone) {
    ImporterHarness harness;
    const auto points = harness.waveform(mediaFixtures().video("mov").path, 500);
    ASSERT_TRUE(points);
    expectConstant(*points, static_cast<float>(3 * kToneAmplitude), 1e-3f);
    EXPECT_FALSE(harness.waveform(mediaFixtures().video("m2v").path, 500));
    EXPECT_FALSE(harness.waveform(mediaFixtures().still("png").path, 500));
    EXPECT_FALSE(harness.waveform("/nonexistent/sound.wav", 500));
}

TEST(PreviewRegeneration, AClipWithSoundGivesBothWithTwoHundredPoints) {
    ImporterHarness harness;
    const auto preview = harness.regeneratePreview(mediaFixtures().video("mp4").path, 0.5);
    ASSERT_TRUE(preview.thumbnail);
    ASSERT_TRUE(preview.waveform);
    EXPECT_EQ(preview.waveform->size(),
              static_cast<std::size_t>(ClipImporter::kPreviewWaveformPoints));
    EXPECT_FALSE(
        QImage::fromData(preview.thumbnail->data(), static_cast<int>(preview.thumbnail->size()))
            .isNull());
}

TEST(PreviewRegeneration, TheTimeChangesOnlyThePicture) {
    ImporterHarness harness;
    const auto clip = mediaFixtures().video("mp4").path;
    const auto early = harness.regeneratePreview(clip, 0.0);
    const auto late = harness.regeneratePreview(clip, 1.5);
    ASSERT_TRUE(early.thumbnail && late.thumbnail);
    EXPECT_NE(*early.thumbnail, *late.thumbnail);
    EXPECT_EQ(early.waveform, late.waveform);
}

TEST(PreviewRegeneration, EachHalfIsThereOnlyWhenItCanBeMade) {
    ImporterHarness harness;
    const auto silent = harness.regeneratePreview(mediaFixtures().video("m2v").path, 0.0);
    EXPECT_TRUE(silent.thumbnail);
    EXPECT_FALSE(silent.waveform);
    const auto sound = harness.regeneratePreview(mediaFixtures().audio("flac").path, 0.0);
    EXPECT_FALSE(sound.thumbnail);
    EXPECT_TRUE(sound.waveform);
    const auto missing = harness.regeneratePreview("/nonexistent/clip.mov", 0.0);
    EXPECT_FALSE(missing.thumbnail);
    EXPECT_FALSE(missing.waveform);
}

}  // namespace
}  // namespace kestio::test
