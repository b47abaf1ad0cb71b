// The audio reader opens only what every other media path opens, and keeps a clip's sound at
// its place in the container.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <future>

#include <mutex>

#include "platform/audio/audio_file.h"
#include "support/media_fixtures.h"
#include "support/temporary_folder.h"

extern "C" {
#include <libavutil/log.h>
}

namespace kestio::test {
namespace {

using platform::audio::AudioFile;
using platform::audio::PcmBuffer;

TEST(AudioFileGuard, AFifoNamedAsSoundIsRefusedWithoutBlocking) {
    TemporaryFolder folder;
    const auto fifo = folder / "clip.wav";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    auto opening = std::async(std::launch::async, [&] {
        std::string error;
        const bool opened = AudioFile::openForReading(fifo, &error) != nullptr;
        return std::pair{opened, error};
    });
    const bool prompt = opening.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
    if (!prompt) {
        // Free the blocked reader: a writer that closes at once gives it an empty stream.
        const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) {
            ::close(fd);
        }
    }
    const auto [opened, error] = opening.get();
    EXPECT_TRUE(prompt) << "the open blocked on the FIFO";
    EXPECT_FALSE(opened);
    EXPECT_FALSE(error.empty());
}

TEST(AudioFileGuard, ListsThatNameAnotherFileAreRefused) {
    TemporaryFolder folder;
    for (const auto& list : writeListsNaming(folder.path(), mediaFixtures().video("mp4").path)) {
        std::string error;
        EXPECT_EQ(AudioFile::openForReading(list, &error), nullptr) << list.filename();
        EXPECT_FALSE(error.empty()) << list.filename();
    }
}

// The time of the first sample at half the tone's level or more.
double toneOnset(AudioFile& file) {
    auto buffer = PcmBuffer::make(file.processingFormat(), 4096);
    for (int64_t at = 0;; at += buffer->frameLength()) {
        EXPECT_TRUE(file.read(*buffer, 4096));
        if (buffer->frameLength() == 0) {
            return -1.0;
        }
        for (uint32_t i = 0; i < buffer->frameLength(); ++i) {
            if (std::abs(buffer->channel(0)[i]) >= kToneAmplitude / 2) {
                return double(at + i) / file.processingFormat().sampleRate;
            }
        }
    }
}

// Frame 0 is the container's start, so the sound starts with the pictures it goes with: in the
// transport stream after the encoder's 1024-sample delay (where its first picture is), in a
// clip whose sound was moved half a second later after that half second.
TEST(AudioFileGuard, TheSoundOfAClipKeepsItsOffsetFromThePictures) {
    TemporaryFolder folder;
    const auto late = folder / "late_sound.mov";
    writeWithLateSound(mediaFixtures().video("mp4"), 0.5, late);
    const struct {
        std::filesystem::path path;
        double onset;
    } cases[] = {{mediaFixtures().video("ts").path, 1024.0 / kToneSampleRate}, {late, 0.5}};
    for (const auto& c : cases) {
        std::string error;
        auto file = AudioFile::openForReading(c.path, &error);
        ASSERT_TRUE(file) << c.path.filename() << ": " << error;
        EXPECT_NEAR(toneOnset(*file), c.onset, 0.002) << c.path.filename();
        // A jump into the silence before the sound gives silence, then the sound on time.
        file->setFramePosition(int64_t(c.onset * kToneSampleRate / 2));
        EXPECT_NEAR(toneOnset(*file), c.onset / 2, 0.002) << c.path.filename();
    }
}

// FFmpeg's log lines of warning level and above, taken while one lives.
class FFmpegLogCapture {
  public:
    FFmpegLogCapture() { av_log_set_callback(&FFmpegLogCapture::record); }
    ~FFmpegLogCapture() { av_log_set_callback(av_log_default_callback); }

    static std::vector<std::string> taken() {
        std::lock_guard lock(mutex());
        return std::exchange(lines(), {});
    }

  private:
    static std::mutex& mutex() {
        static std::mutex m;
        return m;
    }
    static std::vector<std::string>& lines() {
        static std::vector<std::string> l;
        return l;
    }
    static void record(void*, int level, const char* format, va_list arguments) {
        if (level > AV_LOG_WARNING) {
            return;
        }
        char line[512];
        std::vsnprintf(line, sizeof line, format, arguments);
        std::lock_guard lock(mutex());
        lines().emplace_back(line);
    }
};

// A still has no sound: asked for it at every warm-up and every fire, the reader says so without
// a word on FFmpeg's log, whatever the picture's kind or name.
TEST(AudioFileGuard, AStillHasNoSoundAndFFmpegsLogStaysQuiet) {
    TemporaryFolder folder;
    std::vector<std::filesystem::path> files;
    for (const auto& still : mediaFixtures().stills) {
        files.push_back(still.path);
    }
    files.push_back(mediaFixtures().animatedGif.path);
    files.push_back(folder / "picture.mp4");
    std::filesystem::copy_file(mediaFixtures().still("png").path, files.back());
    const FFmpegLogCapture log;
    for (const auto& file : files) {
        SCOPED_TRACE(file.filename().string());
        std::string error;
        EXPECT_EQ(AudioFile::openForReading(file, &error), nullptr);
        EXPECT_EQ(error, "the file has no sound track");
        EXPECT_EQ(log.taken(), std::vector<std::string>{});
    }
}

}  // namespace
}  // namespace kestio::test
