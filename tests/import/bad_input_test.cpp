// Files that are empty, cut short, lying about their content, hostile or not files at all:
// each gives a clean, reasoned refusal or a correct result, never a crash or a hang.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QImage>
#include <cmath>
#include <fstream>

#include "import/clip_facts.h"
#include "importer_harness.h"
#include "model/localization_manager.h"
#include "model/project_manager.h"
#include "platform/audio/audio_file.h"
#include "platform/audio/pcm_buffer.h"
#include "platform/runloop/console.h"
#include "support/declared_png.h"
#include "support/media_fixtures.h"
#include "support/process_runner.h"
#include "support/temporary_folder.h"
#include "wav_bytes.h"

namespace kestio::test {
namespace {

// Runs the ffmpeg command with `args` and fails the test when it does not succeed.
void ffmpeg(std::vector<std::string> args) {
    std::vector<std::string> argv = {"ffmpeg",    "-nostdin", "-hide_banner",
                                     "-loglevel", "error",    "-y"};
    argv.insert(argv.end(), args.begin(), args.end());
    const ProcessResult result = runProcess(argv, std::chrono::seconds(120));
    ASSERT_TRUE(result.succeeded()) << describeFailure(argv, result);
}

void expectError(const ImportOutcome& outcome, const ImportError& expected) {
    const ImportError* error = errorOf(outcome);
    ASSERT_NE(error, nullptr) << "imported although it should not";
    EXPECT_EQ(error->kind(), expected.kind()) << error->description();
    EXPECT_EQ(error->url(), expected.url());
    if (expected.reason()) {
        EXPECT_EQ(error->reason(), expected.reason());
    }
}

class BadInput : public ::testing::Test {
  protected:
    TemporaryFolder folder;
    ImporterHarness harness;
    platform::Console::Capture console;
};

TEST_F(BadInput, AnEmptyVideoFileFailsToLoadWithTheThreeLinesAndAReason) {
    const auto file = folder.write("empty.mp4", "");
    const ImportOutcome outcome = harness.importMeta(file);
    const ImportError* error = errorOf(outcome);
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->kind(), ImportError::Kind::loadFailed);
    ASSERT_TRUE(error->reason().has_value());
    EXPECT_FALSE(error->reason()->empty());
    ASSERT_EQ(console.lines().size(), 4u);
    EXPECT_EQ(console.lines()[0], "🔍 importMeta 開始: empty.mp4 ext=mp4");
    EXPECT_EQ(console.lines()[1], "❌ importMeta 失敗: empty.mp4");
    EXPECT_EQ(console.lines()[2], "   エラー: " + *error->reason());
    EXPECT_EQ(console.lines()[3], "   URL: " + file.string());
}

TEST_F(BadInput, RandomBytesNamedAsVideoShowTheMediaLibrarysReason) {
    std::string noise(64 * 1024, '\0');
    std::uint32_t x = 12345;
    for (char& c : noise) {
        x = x * 1664525u + 1013904223u;
        c = static_cast<char>(x >> 24);
    }
    const auto file = folder.write("bad.mp4", noise);
    const ImportOutcome outcome = harness.importMeta(file);
    ASSERT_NE(errorOf(outcome), nullptr);
    EXPECT_EQ(errorOf(outcome)->message().rfind("読み込みに失敗しました: bad.mp4\n(", 0), 0u)
        << errorOf(outcome)->message();
}

TEST_F(BadInput, ATruncatedClipWithoutItsIndexFailsToLoad) {
    const auto& clip = mediaFixtures().video("mp4");  // the index comes last in the file
    const auto file = folder.copy(clip.path, "cut.mp4", std::filesystem::file_size(clip.path) / 2);
    expectError(harness.importMeta(file), ImportError::loadFailed(file));
}

TEST_F(BadInput, ATruncatedClipWithItsIndexFirstImportsWhatItsHeaderSays) {
    const auto whole = folder / "faststart.mp4";
    ffmpeg({"-i", mediaFixtures().video("mp4").path.string(), "-c", "copy", "-movflags",
            "+faststart", whole.string()});
    const auto file = folder.copy(whole, "cut.mp4", std::filesystem::file_size(whole) / 2);
    const ImportOutcome outcome = harness.importMeta(file);
    const ImportResult* result = resultOf(outcome);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->clipInfo.codec, "avc1");
    EXPECT_NEAR(result->clipInfo.duration, 2.0, 0.1);
}

TEST_F(BadInput, AStillPictureNamedAsVideoIsNoClipInTheInterfaceLanguage) {
    const auto file = folder.copy(mediaFixtures().still("png").path, "picture.mp4");
    auto& language = LocalizationManager::shared().language;
    const AppLanguage before = language.get();
    for (const auto& [lang, reason] :
         {std::pair{AppLanguage::ja, "ファイルの中身は静止画で、クリップではありません"},
          std::pair{AppLanguage::en, "The file holds a still picture, not a clip"}}) {
        language = lang;
        expectError(harness.importMeta(file), ImportError::loadFailed(file, reason));
    }
    language = before;
}

TEST_F(BadInput, AnimatedPicturesNamedAsVideoAreRefusedLikeEveryStill) {
    const auto png = folder.copy(mediaFixtures().still("png").path, "picture.mov");
    const ImportOutcome pngOutcome = harness.importMeta(png);
    ASSERT_NE(errorOf(pngOutcome), nullptr);
    const auto apng = folder / "moving.apng";
    ffmpeg({"-f", "lavfi", "-i", "testsrc=s=64x48:r=10:d=0.3", "-plays", "0", apng.string()});
    for (const auto& source :
         {mediaFixtures().still("gif").path, mediaFixtures().animatedGif.path, apng}) {
        SCOPED_TRACE(source.filename().string());
        const auto file = folder.copy(source, "moving.mov");
        expectError(harness.importMeta(file),
                    ImportError::loadFailed(file, errorOf(pngOutcome)->reason()));
    }
}

TEST_F(BadInput, AVideoNamedAsStillOrSoundIsRefusedWithTheirLines) {
    const auto& clip = mediaFixtures().video("mp4").path;
    const auto still = folder.copy(clip, "frame.png");
    expectError(harness.importMeta(still), ImportError::loadFailed(still));
    EXPECT_TRUE(console.contains("❌ importStill 失敗: frame.png"));

    // A clip with sound named as a sound file is read for its sound.
    const auto sound = folder.copy(clip, "track.m4a");
    const ImportOutcome outcome = harness.importMeta(sound);
    const ImportResult* result = resultOf(outcome);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->mediaType, MediaType::audio);
    EXPECT_EQ(result->clipInfo.audioCodec, "aac");
}

TEST_F(BadInput, SoundInAnotherFormatThanItsExtensionSaysImportsWithItsRealFacts) {
    const auto file = folder.copy(mediaFixtures().audio("wav").path, "actually_wav.mp3");
    const ImportOutcome outcome = harness.importMeta(file);
    const ImportResult* result = resultOf(outcome);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->clipInfo.audioCodec, "lpcm");
    EXPECT_EQ(result->clipInfo.audioBitDepth, 16);
}

TEST_F(BadInput, AWavWithoutSamplesIsRefused) {
    const auto file = folder.write("silence.wav", floatWav({}, 2, 48000));
    expectError(harness.importMeta(file), ImportError::loadFailed(file));
    EXPECT_TRUE(console.contains("❌ importAudio"));
}

TEST_F(BadInput, ASoundHeaderWithoutItsDataIsRefusedRatherThanPlayingNothing) {
    // The header claims ten seconds; not one sample follows.
    const auto file = folder.write("stub.wav", floatWav({}, 2, 48000, 480000));
    expectError(harness.importMeta(file), ImportError::loadFailed(file));
    EXPECT_TRUE(console.contains(
        "❌ importAudio 音声データなし（トラックはあるがデコードできる音がない）: stub.wav"));
    EXPECT_FALSE(console.contains("audioTrack取得失敗"));
}

// Whether the player's sound reader opens the file and reads it to its end, as a cue does.
bool playerReadsThrough(const std::filesystem::path& file) {
    using platform::audio::AudioFile;
    const auto sound = AudioFile::openForReading(file);
    if (!sound) {
        return false;
    }
    const auto buffer = platform::audio::PcmBuffer::make(sound->processingFormat(), 4096);
    std::int64_t read = 0;
    while (read < sound->length()) {
        if (!sound->read(*buffer, 4096) || buffer->frameLength() == 0) {
            return false;
        }
        read += buffer->frameLength();
    }
    return read > 0;
}

// `bytes` with `replacement` written over them from `at`.
std::string patched(std::string bytes, std::size_t at, const std::string& replacement) {
    return bytes.replace(at, replacement.size(), replacement);
}

TEST_F(BadInput, SoundImportsExactlyWhenThePlayerCanReadItThrough) {
    const auto wav = folder / "tone.wav";
    const auto caf = folder / "tone.caf";
    for (const auto& file : {wav, caf}) {
        ffmpeg({"-f", "lavfi", "-i", "sine=frequency=1000:sample_rate=48000:duration=1", "-ac", "2",
                "-fflags", "+bitexact", "-map_metadata", "-1", file.string()});
    }
    const auto readAll = [](const std::filesystem::path& file) {
        std::ifstream in(file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    const std::string wavBytes = readAll(wav);
    const std::string cafBytes = readAll(caf);
    ASSERT_EQ(wavBytes.substr(36, 4), "data");
    ASSERT_EQ(cafBytes.substr(8, 4), "desc");
    // A frame of the WAV is 4 bytes (its block align at 32); a CAF packet 4 bytes (at 36, big
    // endian) and its rate a big-endian double at 20.
    const std::string cafRate219("\x40\x6b\x60\x00\x00\x00\x00\x00", 8);
    struct Case {
        std::string name;
        std::string bytes;
        bool sound;
    };
    const std::vector<Case> cases = {
        {"whole.wav", wavBytes, true},
        {"whole.caf", cafBytes, true},
        {"frames-of-21-bytes.wav", patched(wavBytes, 32, std::string("\x15\x00", 2)), false},
        {"packets-of-35-bytes.caf", patched(cafBytes, 36, std::string("\x00\x00\x00\x23", 4)),
         false},
        {"rate-500.wav", floatWav(std::vector<float>(2000, 0.5f), 2, 500), false},
        {"rate-219.caf", patched(cafBytes, 20, cafRate219), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto file = folder.write(c.name, c.bytes);
        const bool plays = playerReadsThrough(file);
        EXPECT_EQ(plays, c.sound);
        const ImportOutcome outcome = harness.importMeta(file);
        if (plays) {
            const ImportResult* result = resultOf(outcome);
            ASSERT_NE(result, nullptr);
            EXPECT_EQ(result->mediaType, MediaType::audio);
        } else {
            expectError(outcome, ImportError::loadFailed(file));
            EXPECT_TRUE(console.contains("❌ importAudio")) << c.name;
        }
    }
}

TEST_F(BadInput, AnEmptyOrUndecodableStillFailsWithTheStillLine) {
    for (const char* name : {"empty.png", "text.jpg", "cut.webp"}) {
        const auto file = std::string(name) == "cut.webp"
                              ? folder.copy(mediaFixtures().still("webp").path, name, 30)
                              : folder.write(name, std::string(name) == "empty.png" ? "" : "hello");
        expectError(harness.importMeta(file), ImportError::loadFailed(file));
        EXPECT_TRUE(console.contains(std::string("❌ importStill 失敗: ") + name));
    }
}

TEST_F(BadInput, AOnePixelImageImports) {
    QImage pixel(1, 1, QImage::Format_ARGB32);
    pixel.fill(qRgba(255, 0, 0, 128));
    const auto file = folder / "dot.png";
    ASSERT_TRUE(pixel.save(QString::fromStdString(file.string())));
    const ImportOutcome outcome = harness.importMeta(file);
    const ImportResult* result = resultOf(outcome);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->clipInfo.resolution, "1x1");
    ASSERT_TRUE(result->thumbnail);
    EXPECT_EQ(
        QImage::fromData(result->thumbnail->data(), static_cast<int>(result->thumbnail->size()))
            .size(),
        QSize(1, 1));
}

TEST_F(BadInput, AnImageClaimingAnAbsurdSizeIsRefusedWithoutDecodingIt) {
    const auto file = folder.write("huge.png", pngDeclaring(100000, 100000));
    expectError(harness.importMeta(file), ImportError::loadFailed(file));
}

TEST_F(BadInput, ALargeRealImageGivesASmallThumbnail) {
    QImage big(6000, 4500, QImage::Format_RGB32);
    big.fill(Qt::darkCyan);
    const auto file = folder / "big.bmp";
    ASSERT_TRUE(big.save(QString::fromStdString(file.string())));
    const ImportOutcome outcome = harness.importMeta(file);
    const ImportResult* result = resultOf(outcome);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->clipInfo.resolution, "6000x4500");
    EXPECT_EQ(
        QImage::fromData(result->thumbnail->data(), static_cast<int>(result->thumbnail->size()))
            .size(),
        QSize(320, 240));
}

TEST_F(BadInput, AVideoWhoseOnlyPictureIsACoverCannotBePlayed) {
    const auto file = folder / "cover_only.mp4";
    ffmpeg({"-f", "lavfi", "-i", "sine=frequency=1000:duration=1", "-i",
            mediaFixtures().still("png").path.string(), "-map", "0:a", "-map", "1:v", "-c:a", "aac",
            "-c:v", "png", "-disposition:v:0", "attached_pic", "-f", "mp4", file.string()});
    expectError(harness.importMeta(file), ImportError::notPlayable(file));
    EXPECT_TRUE(console.contains("📋 importMeta: duration=1.0s tracks=1 [soun]"));
    EXPECT_TRUE(console.contains(
        "❌ importMeta: 映像コンポジション経由のレンダリング検証に失敗: cover_only.mp4"));
}

TEST_F(BadInput, AVideoFileWithNothingPlayableIsRefusedAsNotPlayable) {
    const auto subtitles = folder.write("lines.srt", "1\n00:00:00,000 --> 00:00:01,000\nhello\n");
    const auto file = folder / "subtitles_only.mp4";
    ffmpeg({"-i", subtitles.string(), "-c:s", "mov_text", "-f", "mp4", file.string()});
    expectError(harness.importMeta(file), ImportError::notPlayable(file));
    EXPECT_TRUE(console.contains("tracks=1 [sbtl]"));
    EXPECT_TRUE(console.contains("❌ importMeta: isPlayable=false（再生不可）: subtitles_only.mp4"));
}

TEST_F(BadInput, PlacesThatAreNoRegularFileFailAtOnceWithoutBlocking) {
    const auto pipe = folder / "hang.mp4";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    expectError(harness.importMeta(pipe), ImportError::loadFailed(pipe));
    const auto soundPipe = folder / "hang.wav";
    ASSERT_EQ(::mkfifo(soundPipe.c_str(), 0600), 0);
    expectError(harness.importMeta(soundPipe), ImportError::loadFailed(soundPipe));
    const auto stillPipe = folder / "hang.png";
    ASSERT_EQ(::mkfifo(stillPipe.c_str(), 0600), 0);
    expectError(harness.importMeta(stillPipe), ImportError::loadFailed(stillPipe));

    std::filesystem::create_directory(folder / "folder.mov");
    expectError(harness.importMeta(folder / "folder.mov"),
                ImportError::loadFailed(folder / "folder.mov"));
}

TEST_F(BadInput, ListsThatNameAnotherFileAreNotImportedAsIt) {
    for (const auto& list : writeListsNaming(folder.path(), mediaFixtures().video("mp4").path)) {
        expectError(harness.importMeta(list), ImportError::loadFailed(list));
    }
}

TEST_F(BadInput, AMissingFileFailsToLoadWithoutABookmark) {
    for (const char* name : {"gone.mov", "gone.png", "gone.flac"}) {
        expectError(harness.importMeta(folder / name), ImportError::loadFailed(folder / name));
    }
}

TEST_F(BadInput, AnUnknownExtensionIsUnsupportedWithoutAnyLine) {
    const auto file = folder.write("notes.txt", "cue list");
    expectError(harness.importMeta(file), ImportError::unsupportedFormat(file));
    const auto bare = folder.write("README", "");
    expectError(harness.importMeta(bare), ImportError::unsupportedFormat(bare));
    EXPECT_TRUE(console.lines().empty());
}

// Every public sample file gives a result with sane facts of the kind its extension names,
// or a reasoned refusal.
TEST(SharedMedia, EveryFileImportsOrIsRefusedCleanly) {
    const std::filesystem::path folder = KESTIO_SHARED_MEDIA_DIR;
    if (!std::filesystem::is_directory(folder)) {
        GTEST_SKIP() << folder << " is missing";
    }
    ImporterHarness harness;
    int imported = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const auto& path = entry.path();
        const ImportOutcome outcome = harness.importMeta(path);
        if (const ImportError* error = errorOf(outcome)) {
            EXPECT_EQ(error->url(), path);
            EXPECT_FALSE(error->message().empty());
            continue;
        }
        ++imported;
        const ImportResult& result = std::get<ImportResult>(outcome);
        EXPECT_EQ(result.mediaType, ProjectManager::mediaType(path)) << path;
        const ClipInfo& info = result.clipInfo;
        for (double figure : {info.fps, info.duration, info.sampleRate}) {
            EXPECT_TRUE(std::isfinite(figure) && figure >= 0) << path;
        }
        EXPECT_GE(info.bitRate, 0) << path;
        EXPECT_GE(info.channels, 0) << path;
        if (result.mediaType == MediaType::audio) {
            EXPECT_GT(info.duration, 0) << path;
            EXPECT_TRUE(result.waveformData) << path;
        }
        if (result.mediaType == MediaType::still) {
            EXPECT_TRUE(result.thumbnail) << path;
        }
    }
    EXPECT_GT(imported, 10);
}

TEST(SharedMedia, AClipWithACoverPictureIsProbedByItsRealVideo) {
    const std::filesystem::path file =
        std::filesystem::path(KESTIO_SHARED_MEDIA_DIR) / "mp4rust-bbb-metadata.m4v";
    if (!std::filesystem::exists(file)) {
        GTEST_SKIP() << file << " is missing";
    }
    ImporterHarness harness;
    const ImportOutcome outcome = harness.importMeta(file);
    const ImportResult* result = resultOf(outcome);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->clipInfo.codec, "avc1");
    EXPECT_EQ(result->clipInfo.resolution, "320x180");
    EXPECT_EQ(result->clipInfo.fps, 24);
}

}  // namespace
}  // namespace kestio::test
