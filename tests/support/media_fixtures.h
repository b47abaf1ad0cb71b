#pragma once

// Short media files made with the ffmpeg command (and heif-enc) for tests that need real
// files: clips at every output frame rate, the same content in every video container, the
// tone in every audio format and a test picture in every still format.
//
// Every clip shows the four-quadrant test picture with its frame index drawn twice: as a
// number in the middle (for people) and as a block strip along the top (for tests, see
// frame_number_strip.h). Every soundtrack is a 1 kHz sine, the same in both channels.

#include <QRgb>
#include <filesystem>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "support/process_runner.h"

namespace kestio::test {

struct Rational {
    int num = 0;
    int den = 1;

    double value() const { return den == 0 ? 0.0 : static_cast<double>(num) / den; }
    friend bool operator==(const Rational&, const Rational&) = default;
};

// The six output frame rates: 23.976, 24, 29.97, 30, 59.94 and 60.
inline constexpr Rational kOutputFrameRates[] = {{24000, 1001}, {24, 1},       {30000, 1001},
                                                 {30, 1},       {60000, 1001}, {60, 1}};

// The soundtrack of every clip and audio file: a sine of this frequency and peak amplitude
// (full scale = 1) at this sample rate, identical in both channels.
inline constexpr double kToneFrequency = 1000.0;
inline constexpr double kToneAmplitude = 0.125;
inline constexpr int kToneSampleRate = 48000;

// The test picture: four quadrants of these colours. In stills the colours are exact (except
// the lossy jpg and heic); in clips they pass through 4:2:0 video and are only close.
inline constexpr QRgb kTopLeftColour = qRgb(255, 0, 0);
inline constexpr QRgb kTopRightColour = qRgb(0, 255, 0);
inline constexpr QRgb kBottomLeftColour = qRgb(0, 0, 255);
inline constexpr QRgb kBottomRightColour = qRgb(255, 255, 255);

enum class MediaKind { video, audio, still };

// One generated file and the facts that went into making it. Codec and container names are
// FFmpeg's (the encoder's codec name, the muxer's name).
struct MediaFile {
    std::filesystem::path path;
    std::string extension;  // lower case, without the dot
    MediaKind kind = MediaKind::video;
    std::string container;   // muxer: "mp4", "mov", "mxf", "mpegts", "vob", "dv", "wav", ...
    std::string videoCodec;  // "h264", "mpeg2video", "png", "hevc", ...; empty without video
    int width = 0;
    int height = 0;
    Rational frameRate;  // 0/1 for stills and audio files
    int frameCount = 0;  // pictures in the file (1 for a still)
    // Seconds: frameCount / frameRate for clips (the soundtrack lasts exactly as long),
    // samples / sample rate for audio files, 0 for stills. Containers may report a little more.
    double duration = 0;
    // Clockwise degrees a viewer turns the stored picture to show it upright (display matrix
    // of a clip, EXIF orientation of a still).
    int rotation = 0;
    std::string audioCodec;  // "aac", "pcm_s16le", "mp2", "ac3", ...; empty without audio
    int channels = 0;
    int sampleRate = 0;
    int audioBitDepth = 0;  // sample size of PCM audio; 0 for compressed codecs (FLAC too)

    bool hasVideo() const { return !videoCodec.empty(); }
    bool hasAudio() const { return !audioCodec.empty(); }
    // The file name with every character other than letters and digits replaced by '_',
    // usable as the name of a parameterised test.
    std::string testName() const;
};

// Lets GoogleTest print a MediaFile parameter as its file name.
void PrintTo(const MediaFile& file, std::ostream* out);

struct MediaFixtures {
    std::filesystem::path folder;
    // H.264 + AAC in mp4, 320x180, one per output frame rate in kOutputFrameRates' order.
    std::vector<MediaFile> rateClips;
    // One per video extension (mp4, m4v, mov, mxf, m2ts, mts, ts, m2t, mpg, mpeg, m2v, 3gp,
    // 3g2, dv); the mp4 is the 29.97 rate clip.
    std::vector<MediaFile> videoContainers;
    // One per audio extension (wav, mp3, aiff, aif, m4a, caf, flac).
    std::vector<MediaFile> audioFiles;
    // The test picture at 160x120, one per still extension (png, jpg, jpeg, tiff, tif, heic,
    // heif, bmp, gif, webp).
    std::vector<MediaFile> stills;
    // Three frames (strip and number 0, 1, 2) of the test picture at 160x120, looping.
    MediaFile animatedGif;
    // The test picture stored as is, tagged with EXIF orientation 6 (shown turned 90°
    // clockwise, so upright it is 120x160).
    MediaFile exifRotatedJpeg;
    // The 29.97 rate clip (stored 320x180) with the display matrix of a phone's portrait clip:
    // shown turned 90° clockwise (180x320); av_display_rotation_get() gives -90.
    MediaFile rotatedClip;

    // Look-ups; each throws std::out_of_range for a rate or extension it does not hold.
    const MediaFile& rateClip(Rational rate) const;
    const MediaFile& video(std::string_view extension) const;
    const MediaFile& audio(std::string_view extension) const;
    const MediaFile& still(std::string_view extension) const;
    // Every file above once (the mp4 counted once).
    std::vector<const MediaFile*> all() const;
};

// The paths and facts only; touches no file. Usable where tests are registered
// (INSTANTIATE_TEST_SUITE_P(..., ::testing::ValuesIn(mediaFixtureCatalogue().stills))).
const MediaFixtures& mediaFixtureCatalogue();

// The same catalogue, after making sure every file exists in KESTIO_FIXTURE_DIR. The files are
// made once per build directory; test processes that start together wait for one another.
// Throws std::runtime_error naming each failed command line with its stderr.
const MediaFixtures& mediaFixtures();

// A five-minute tone (AAC in m4a, 48 kHz stereo), made only when first asked for (benchmarks).
const MediaFile& longToneFile();

// Small text files that would make FFmpeg read `target` in their place, naming it by its
// absolute path: an HLS playlist and an ffconcat list, each under a clip's name (.mp4) and a
// sound file's name (.wav). Written into `folder`; returns their paths.
std::vector<std::filesystem::path> writeListsNaming(const std::filesystem::path& folder,
                                                    const std::filesystem::path& target);

// Writes a small clip of `seconds` at `file`: 160x120 test pictures at 25 fps in H.264 with a
// 1 kHz tone in AAC (48 kHz). The result tells whether ffmpeg succeeded, and why not.
ProcessResult writeToneClip(const std::filesystem::path& file, double seconds);

// The same with a tone of `frequency` and other codecs: `videoCodec` and `audioCodec` name
// FFmpeg encoders ("libx264", "mpeg4", "aac", "libmp3lame", "pcm_s16le", ...). The container
// follows the file's extension.
ProcessResult writeToneClip(const std::filesystem::path& file, double seconds, double frequency,
                            const std::string& videoCodec, const std::string& audioCodec);

// Writes `clip`'s pictures with its sound `delay` seconds later (as 16-bit PCM) into a
// QuickTime file at `output`. Throws std::runtime_error when the ffmpeg command fails.
void writeWithLateSound(const MediaFile& clip, double delay, const std::filesystem::path& output);

// A clip for measuring pictures against sound: black pictures with one white frame, and a
// 1 kHz beep (half full scale, 50 ms, starting at phase 0) whose first sample is that frame's
// presentation time, once a second from half a second in (every round(rate) frames from frame
// round(rate) / 2). Four seconds of it: H.264 (320x180, a key frame every round(rate) frames,
// no B-frames) with 16-bit PCM stereo sound at `sampleRate` in a QuickTime file, made only when
// first asked for. `rate` must put every flash on a whole sample: 30 and 59.94 do (at 32, 44.1,
// 48 and 96 kHz).
struct FlashBeepClip {
    MediaFile file;
    std::vector<double> flashTimes;  // seconds: each flash's picture time, each beep's start
    double beepSeconds = 0.05;
    double beepAmplitude = 0.5;
};
const FlashBeepClip& flashBeepClip(Rational rate, int sampleRate = kToneSampleRate);

}  // namespace kestio::test
