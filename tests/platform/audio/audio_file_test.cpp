#include "platform/audio/audio_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "platform/ffmpeg/guarded_input.h"
#include "support/ffmpeg_complaints.h"
#include "support/media_fixtures.h"
#include "support/process_runner.h"
#include "support/signal_analysis.h"
#include "support/temporary_folder.h"

namespace kestio::test {
namespace {

using platform::audio::AudioFile;
using platform::audio::AudioFormat;
using platform::audio::PcmBuffer;

// Every frame of channel `c` from `position` on, read in pieces of `piece` frames.
std::vector<float> readAll(AudioFile& file, int64_t position = 0, uint32_t piece = 4096,
                           uint32_t c = 0) {
    auto buffer = PcmBuffer::make(file.processingFormat(), piece);
    std::vector<float> samples;
    file.setFramePosition(position);
    for (;;) {
        std::string error;
        EXPECT_TRUE(file.read(*buffer, piece, &error)) << error;
        if (buffer->frameLength() == 0) {
            return samples;
        }
        samples.insert(samples.end(), buffer->channel(c),
                       buffer->channel(c) + buffer->frameLength());
    }
}

std::vector<float> readAt(AudioFile& file, int64_t position, uint32_t frames) {
    auto buffer = PcmBuffer::make(file.processingFormat(), frames);
    file.setFramePosition(position);
    EXPECT_TRUE(file.read(*buffer, frames));
    EXPECT_EQ(file.framePosition(), position + buffer->frameLength());
    return {buffer->channel(0), buffer->channel(0) + buffer->frameLength()};
}

class AudioFileFormats : public ::testing::TestWithParam<MediaFile> {};

TEST_P(AudioFileFormats, ReadsTheToneWithExactLengthAndAlignment) {
    const MediaFile& fixture = GetParam();
    std::string error;
    auto file = AudioFile::openForReading(mediaFixtures().audio(fixture.extension).path, &error);
    ASSERT_TRUE(file) << error;
    EXPECT_EQ(file->processingFormat(), (AudioFormat{48000.0, 2, false}));
    EXPECT_FALSE(file->containsVideo());
    const int64_t expected = int64_t(std::lround(fixture.duration * kToneSampleRate));
    EXPECT_EQ(file->length(), expected) << "encoder delay and padding removed";

    const auto all = readAll(*file);
    ASSERT_EQ(int64_t(all.size()), expected);
    EXPECT_NEAR(zeroCrossingFrequency(all, kToneSampleRate), kToneFrequency, 0.01);
    const bool lossless = fixture.audioBitDepth > 0 || fixture.extension == "flac";
    EXPECT_NEAR(toneAmplitude(std::span(all).subspan(4800, 48000), kToneSampleRate, kToneFrequency),
                kToneAmplitude, kToneAmplitude * (lossless ? 0.001 : 0.05));
    // Frame n is the tone's sample n, from the very start.
    for (int64_t first : {int64_t(0), int64_t(24000), expected - 4800}) {
        EXPECT_NEAR(toneDelay(std::span(all).subspan(std::size_t(first), 4800), kToneSampleRate,
                              kToneFrequency, double(first)),
                    0.0, lossless ? 0.01 : 0.1)
            << "from frame " << first;
    }
}

// A direct read gives what reading from the start gives (which the test above lines up with
// the tone).
TEST_P(AudioFileFormats, AnyFrameCanBeReadDirectly) {
    const MediaFile& fixture = GetParam();
    auto file = AudioFile::openForReading(mediaFixtures().audio(fixture.extension).path);
    ASSERT_TRUE(file);
    const auto all = readAll(*file);
    const bool lossless = fixture.audioBitDepth > 0 || fixture.extension == "flac";
    for (int64_t position : {int64_t(1), int64_t(90000), int64_t(999), int64_t(12345),
                             int64_t(47999), int64_t(60001), int64_t(0), int64_t(94999)}) {
        const auto piece = readAt(*file, position, 1000);
        ASSERT_EQ(piece.size(), 1000u) << "at " << position;
        const std::vector<float> sequential(all.begin() + position, all.begin() + position + 1000);
        if (lossless) {
            EXPECT_EQ(piece, sequential) << "at " << position;
        } else {
            double worst = 0.0;
            for (std::size_t n = 0; n < piece.size(); ++n) {
                worst = std::max(worst, double(std::abs(piece[n] - sequential[n])));
            }
            EXPECT_LT(worst, 0.002) << "at " << position;
        }
    }
}

TEST_P(AudioFileFormats, ReadsStopAtTheEnd) {
    auto file = AudioFile::openForReading(mediaFixtures().audio(GetParam().extension).path);
    ASSERT_TRUE(file);
    const int64_t length = file->length();
    EXPECT_EQ(readAt(*file, length - 500, 1000).size(), 500u);
    EXPECT_EQ(readAt(*file, length, 1000).size(), 0u);
    EXPECT_EQ(readAt(*file, length + 100000, 1000).size(), 0u);
    EXPECT_EQ(readAt(*file, 0, 10).size(), 10u) << "and back to the start";
}

// Sound files whose headers state everything (WAV and AIFF: codec, rate, channels, length) are
// read from them alone, without decoding seconds of them first. The others are probed: lossy
// ones, and those whose headers as FFmpeg reads them leave the length (CAF) or the rate and
// channels (FLAC) to reading.
TEST_P(AudioFileFormats, AreProbedOnlyWhereTheirHeadersLeaveSomethingOut) {
    const MediaFile& fixture = GetParam();
    platform::ffmpeg::IoControl io;
    std::string error;
    const auto format = platform::ffmpeg::openGuardedInput(
        mediaFixtures().audio(fixture.extension).path, io, false, error);
    ASSERT_TRUE(format) << error;
    const bool described =
        fixture.extension == "wav" || fixture.extension == "aiff" || fixture.extension == "aif";
    EXPECT_EQ(platform::ffmpeg::headersDescribeLosslessSound(*format), described);
}

INSTANTIATE_TEST_SUITE_P(AllAudioExtensions, AudioFileFormats,
                         ::testing::ValuesIn(mediaFixtureCatalogue().audioFiles),
                         [](const auto& param) { return param.param.testName(); });

// A WAV whose 16-bit samples carry DTS, which FFmpeg finds only as it reads the first packet,
// is read as the DTS it carries, as when every WAV was probed: its headers alone would have it
// played as loud noise.
TEST(AudioFile, ReadsTheDtsAWavCarriesAsItsSamples) {
    TemporaryFolder folder;
    const auto dts = folder / "tone.dts";
    const auto wav = folder / "dts_in.wav";
    const std::vector<std::vector<std::string>> commands = {
        {"ffmpeg", "-nostdin", "-y", "-v", "error", "-f", "lavfi", "-i",
         "sine=frequency=1000:sample_rate=48000:duration=1", "-ac", "2", "-c:a", "dca", "-strict",
         "-2", "-f", "dts", dts.string()},
        {"ffmpeg", "-nostdin", "-y", "-v", "error", "-f", "s16le", "-ar", "48000", "-ac", "2", "-i",
         dts.string(), "-c:a", "pcm_s16le", wav.string()}};
    for (const auto& argv : commands) {
        const auto made = runProcess(argv, std::chrono::minutes(1));
        ASSERT_TRUE(made.succeeded()) << describeFailure(argv, made);
    }
    std::string error;
    auto file = AudioFile::openForReading(wav, &error);
    ASSERT_TRUE(file) << error;
    const std::vector<float> left = readAll(*file);
    ASSERT_GT(left.size(), 24000u);
    const std::span<const float> middle(left.data() + 12000, 12000);
    EXPECT_NEAR(medianCrossingFrequency(middle, 48000.0), 1000.0, 20.0);
}

TEST(AudioFile, ReadsTheSoundOfVideoFiles) {
    for (const MediaFile& fixture : mediaFixtures().videoContainers) {
        SCOPED_TRACE(fixture.path.filename().string());
        std::string error;
        auto file = AudioFile::openForReading(fixture.path, &error);
        if (!fixture.hasAudio()) {
            EXPECT_FALSE(file);
            EXPECT_FALSE(error.empty());
            continue;
        }
        ASSERT_TRUE(file) << error;
        EXPECT_TRUE(file->containsVideo());
        const int64_t expected = int64_t(std::lround(fixture.duration * kToneSampleRate));
        EXPECT_NEAR(double(file->length()), double(expected), 1152.0 * 2);
        const auto all = readAll(*file);
        EXPECT_EQ(int64_t(all.size()), file->length());
        EXPECT_NEAR(zeroCrossingFrequency(std::span(all).subspan(4800, 48000),
                                          file->processingFormat().sampleRate),
                    kToneFrequency, 0.05);
    }
}

TEST(AudioFile, ReportsWhyItCannotOpen) {
    std::string error;
    EXPECT_FALSE(AudioFile::openForReading("/nonexistent/tone.wav", &error));
    EXPECT_FALSE(error.empty());

    const auto folder = std::filesystem::temp_directory_path() / "kestio_audio_file_errors";
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "notes.wav") << "not a sound file at all";
    error.clear();
    EXPECT_FALSE(AudioFile::openForReading(folder / "notes.wav", &error));
    EXPECT_FALSE(error.empty());
    error.clear();
    EXPECT_FALSE(AudioFile::openForWriting(folder / "missing" / "out.caf",
                                           AudioFormat{48000.0, 2, true}, {}, &error));
    EXPECT_FALSE(error.empty());
    std::filesystem::remove_all(folder);
}

TEST(AudioFile, ReadingNeedsABufferInTheProcessingFormat) {
    auto file = AudioFile::openForReading(mediaFixtures().audio("wav").path);
    ASSERT_TRUE(file);
    std::string error;
    auto mono = PcmBuffer::make(AudioFormat{48000.0, 1, false}, 100);
    EXPECT_FALSE(file->read(*mono, 100, &error));
    EXPECT_FALSE(error.empty());
    auto interleaved = PcmBuffer::make(AudioFormat{48000.0, 2, true}, 100);
    EXPECT_FALSE(file->read(*interleaved, 100));
    EXPECT_FALSE(file->write(*interleaved, &error)) << "opened for reading";
}

class CafWriting : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ =
            std::filesystem::temp_directory_path() /
            ("kestio_caf_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(folder_);
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }

    std::filesystem::path folder_;
};

// Two interleaved float channels, as the sound of a video is written for streaming.
TEST_F(CafWriting, WritesFloatAndCanBeReadWhileStillOpen) {
    const auto path = folder_ / "vtmp.caf";
    auto writer = AudioFile::openForWriting(path, AudioFormat{44100.0, 2, true});
    ASSERT_TRUE(writer);
    EXPECT_TRUE(writer->isWritable());
    const auto left = sineWave(1000.0, 44100.0, 30000, 0.75);
    const auto right = sineWave(250.0, 44100.0, 30000, -0.5);
    for (int piece = 0; piece < 3; ++piece) {
        auto buffer = PcmBuffer::make(AudioFormat{44100.0, 2, true}, 10000);
        for (int i = 0; i < 10000; ++i) {
            buffer->interleavedData()[2 * i] = left[std::size_t(piece * 10000 + i)];
            buffer->interleavedData()[2 * i + 1] = right[std::size_t(piece * 10000 + i)];
        }
        buffer->setFrameLength(10000);
        std::string error;
        ASSERT_TRUE(writer->write(*buffer, &error)) << error;
    }
    EXPECT_EQ(writer->length(), 30000);

    auto reader = AudioFile::openForReading(path);
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->processingFormat(), (AudioFormat{44100.0, 2, false}));
    EXPECT_EQ(reader->length(), 30000);
    EXPECT_EQ(readAll(*reader, 0, 4096, 0), left);
    EXPECT_EQ(readAll(*reader, 0, 4096, 1), right);
    EXPECT_EQ(readAt(*reader, 12345, 3),
              std::vector<float>(left.begin() + 12345, left.begin() + 12348));

    writer->close();
    auto again = AudioFile::openForReading(path);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->length(), 30000);
}

TEST_F(CafWriting, WritesSixteenBitSamples) {
    const auto path = folder_ / "s16.caf";
    auto tone = sineWave(1000.0, 48000.0, 4800, 1.2);  // clips at full scale
    tone[100] = NAN;                                   // silence, never an undefined sample
    {
        auto writer = AudioFile::openForWriting(path, AudioFormat{48000.0, 1, false},
                                                AudioFile::SampleEncoding::Int16);
        ASSERT_TRUE(writer);
        ASSERT_TRUE(writer->write(*bufferOf(tone, 48000.0, 1)));
        std::string error;
        EXPECT_FALSE(writer->write(*bufferOf(tone, 44100.0, 1), &error)) << "another rate";
        EXPECT_FALSE(error.empty());
    }
    auto reader = AudioFile::openForReading(path);
    ASSERT_TRUE(reader);
    const auto back = readAll(*reader);
    ASSERT_EQ(back.size(), tone.size());
    for (std::size_t n = 0; n < tone.size(); ++n) {
        ASSERT_NEAR(back[n], std::isnan(tone[n]) ? 0.0f : std::clamp(tone[n], -1.0f, 1.0f),
                    1.0 / 32767.0)
            << n;
    }
}

}  // namespace
}  // namespace kestio::test

namespace kestio::test {
namespace {

// A sound file copied over by other bytes while a reader has it open: the reader, now reading
// bytes that are no sound through the old file's index, fails once instead of complaining of
// every packet to the end of the file; its identity is the file's as it was.
TEST(AudioFile, AReaderOfAFileChangedSinceFailsOnceAndKnowsTheFileItWasOf) {
    TemporaryFolder folder;
    const std::filesystem::path path = folder / "Bed.mp4";
    ASSERT_TRUE(writeToneClip(path, 20.0).succeeded());
    auto file = AudioFile::openForReading(path);
    ASSERT_TRUE(file);
    ASSERT_EQ(file->identity(), platform::FileIdentity::of(path));
    const auto size = std::filesystem::file_size(path);
    {
        std::mt19937 random(7);
        std::string noise(size, '\0');
        std::generate(noise.begin(), noise.end(), [&] { return char(random()); });
        std::ofstream(path, std::ios::binary | std::ios::in)
            .write(noise.data(), std::streamsize(size));
    }
    // Written a while later.
    std::filesystem::last_write_time(
        path, std::filesystem::last_write_time(path) + std::chrono::seconds(2));
    EXPECT_NE(file->identity(), platform::FileIdentity::of(path));
    EXPECT_TRUE(file->identity()->sameFile(*platform::FileIdentity::of(path)));
    std::string error;
    FfmpegComplaints complaints;
    auto buffer = PcmBuffer::make(file->processingFormat(), 4096);
    bool failed = false;
    for (int read = 0; read < 1000 && !failed; ++read) {
        failed = !file->read(*buffer, 4096, &error);
        if (!failed && buffer->frameLength() == 0) {
            break;
        }
    }
    EXPECT_TRUE(failed) << complaints.count();
    EXPECT_NE(error.find("cannot be decoded"), std::string::npos) << error;
    EXPECT_LE(complaints.count(), 200);
}

}  // namespace
}  // namespace kestio::test
