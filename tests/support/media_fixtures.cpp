#include "support/media_fixtures.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <ostream>
#include <stdexcept>
#include <thread>

#include "support/frame_number_strip.h"
#include "support/process_runner.h"

namespace kestio::test {

namespace fs = std::filesystem;

namespace {

constexpr double kClipSeconds = 2.0;
constexpr Rational kContainerRate{30000, 1001};
constexpr int kStillWidth = 160;
constexpr int kStillHeight = 120;
constexpr int kLongToneSeconds = 300;
constexpr auto kToolTimeout = std::chrono::seconds(120);

// Stands for the output path in a recipe's argument list; replaced by the temporary name.
const std::string kOutput = "\x01output";

// One file and how to make it. A recipe either runs a command (`argv`) or a step in this
// process (`make`); `input` names the generated file it starts from, if any.
struct Recipe {
    MediaFile file;
    std::vector<std::string> argv;
    std::function<void(const fs::path& input, const fs::path& output)> make;
    std::string makeDescription;  // stands for `make` in the recipe fingerprint
    fs::path input;
};

struct Catalogue {
    MediaFixtures fixtures;
    std::vector<Recipe> recipes;
    Recipe longTone;
    std::string missingFont;  // set when no font for the frame numbers was found
};

// ---- recipe building ------------------------------------------------------------------------

std::vector<std::string> ffmpegBase() {
    return {"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y"};
}

void append(std::vector<std::string>& to, const std::vector<std::string>& more) {
    to.insert(to.end(), more.begin(), more.end());
}

std::string rationalText(Rational rate) {
    return std::to_string(rate.num) + "/" + std::to_string(rate.den);
}

std::string quadrantsFilter() {
    auto box = [](const char* x, const char* y, const char* colour) {
        return std::string("drawbox=x=") + x + ":y=" + y + ":w=iw/2:h=ih/2:color=" + colour +
               ":t=fill";
    };
    // ffmpeg's "lime" is pure green (its "green" is 0x008000).
    return box("0", "0", "red") + "," + box("iw/2", "0", "lime") + "," + box("0", "ih/2", "blue") +
           "," + box("iw/2", "ih/2", "white");
}

std::string frameNumberText(const std::string& fontFile) {
    return "drawtext=fontfile=" + fontFile +
           ":text='%{frame_num}':fontsize=h/4:fontcolor=white:box=1:boxcolor=black"
           ":x=(w-tw)/2:y=(h-th)/2";
}

// The picture of every clip: quadrants, number, strip; `frames` pictures long.
std::string clipPictureFilter(const std::string& fontFile, int frames) {
    return quadrantsFilter() + "," + frameNumberText(fontFile) + "," +
           FrameNumberStrip::ffmpegFilter() + ",trim=end_frame=" + std::to_string(frames);
}

// Appended to a picture filter for GIF output: a palette made from the pictures themselves,
// without dithering, so that flat colours stay exact (the default 3-3-2 palette does not).
std::string exactPaletteFilter() {
    return ",split[a][b];[a]palettegen=reserve_transparent=0[p];[b][p]paletteuse=dither=none";
}

std::vector<std::string> toneInput() {
    return {"-f", "lavfi", "-i",
            "sine=frequency=" + std::to_string(static_cast<int>(kToneFrequency)) +
                ":sample_rate=" + std::to_string(kToneSampleRate)};
}

// Cuts the tone to `samples` and copies the one channel into both, at unity gain.
std::vector<std::string> toneFilter(long samples) {
    return {"-filter:a", "atrim=end_sample=" + std::to_string(samples) + ",pan=stereo|c0=c0|c1=c0"};
}

std::vector<std::string> audioEncoderArgs(const std::string& codec) {
    if (codec == "aac") {
        return {"-c:a", "aac", "-b:a", "128k"};
    }
    if (codec == "mp3") {
        return {"-c:a", "libmp3lame", "-b:a", "192k"};
    }
    if (codec == "mp2") {
        return {"-c:a", "mp2", "-b:a", "192k"};
    }
    if (codec == "ac3") {
        return {"-c:a", "ac3", "-b:a", "192k"};
    }
    if (codec == "flac") {
        return {"-c:a", "flac", "-sample_fmt", "s16"};
    }
    return {"-c:a", codec};  // PCM
}

std::vector<std::string> videoEncoderArgs(const std::string& codec) {
    if (codec == "h264") {
        return {"-c:v", "libx264", "-crf", "18", "-pix_fmt", "yuv420p"};
    }
    if (codec == "dvvideo") {
        return {"-c:v", "dvvideo", "-pix_fmt", "yuv420p"};
    }
    // mpeg1video, mpeg2video, h263
    return {"-c:v", codec, "-q:v", "2", "-pix_fmt", "yuv420p"};
}

int pcmBits(const std::string& audioCodec) {
    if (audioCodec.rfind("pcm_s16", 0) == 0) {
        return 16;
    }
    if (audioCodec.rfind("pcm_s24", 0) == 0) {
        return 24;
    }
    return 0;
}

MediaFile describe(const fs::path& folder, const std::string& name, MediaKind kind,
                   const std::string& container) {
    MediaFile file;
    file.path = folder / name;
    file.extension = file.path.extension().string().substr(1);
    file.kind = kind;
    file.container = container;
    return file;
}

struct ClipShape {
    std::string videoCodec;
    int width = 320;
    int height = 180;
    Rational rate = kContainerRate;
    std::string audioCodec;  // empty: no soundtrack
};

Recipe clipRecipe(const fs::path& folder, const std::string& name, const std::string& muxer,
                  const ClipShape& shape, const std::string& fontFile,
                  const std::vector<std::string>& muxerArgs = {}) {
    Recipe recipe;
    MediaFile& file = recipe.file;
    file = describe(folder, name, MediaKind::video, muxer);
    file.videoCodec = shape.videoCodec;
    file.width = shape.width;
    file.height = shape.height;
    file.frameRate = shape.rate;
    file.frameCount = static_cast<int>(std::lround(kClipSeconds * shape.rate.value()));
    file.duration = static_cast<double>(file.frameCount) * shape.rate.den / shape.rate.num;
    // A whole number of samples for every rate used here (48000 * 1001 / 24000 = 2002).
    const long samples =
        static_cast<long>(file.frameCount) * shape.rate.den * kToneSampleRate / shape.rate.num;

    auto& argv = recipe.argv;
    argv = ffmpegBase();
    append(argv, {"-f", "lavfi", "-i",
                  "color=c=black:s=" + std::to_string(shape.width) + "x" +
                      std::to_string(shape.height) + ":r=" + rationalText(shape.rate)});
    if (!shape.audioCodec.empty()) {
        append(argv, toneInput());
        file.audioCodec = shape.audioCodec;
        file.channels = 2;
        file.sampleRate = kToneSampleRate;
        file.audioBitDepth = pcmBits(shape.audioCodec);
    }
    append(argv, {"-filter:v", clipPictureFilter(fontFile, file.frameCount)});
    append(argv, videoEncoderArgs(shape.videoCodec));
    if (!shape.audioCodec.empty()) {
        append(argv, toneFilter(samples));
        append(argv, audioEncoderArgs(shape.audioCodec));
    }
    append(argv, muxerArgs);
    append(argv, {"-f", muxer, kOutput});
    return recipe;
}

Recipe toneRecipe(const fs::path& folder, const std::string& name, const std::string& muxer,
                  const std::string& audioCodec, int seconds) {
    Recipe recipe;
    MediaFile& file = recipe.file;
    file = describe(folder, name, MediaKind::audio, muxer);
    file.audioCodec = audioCodec;
    file.channels = 2;
    file.sampleRate = kToneSampleRate;
    file.audioBitDepth = pcmBits(audioCodec);
    file.duration = seconds;

    auto& argv = recipe.argv;
    argv = ffmpegBase();
    append(argv, toneInput());
    append(argv, toneFilter(static_cast<long>(seconds) * kToneSampleRate));
    append(argv, audioEncoderArgs(audioCodec));
    append(argv, {"-f", muxer, kOutput});
    return recipe;
}

MediaFile stillFacts(const fs::path& folder, const std::string& name, const std::string& format,
                     const std::string& codec) {
    MediaFile file = describe(folder, name, MediaKind::still, format);
    file.videoCodec = codec;
    file.width = kStillWidth;
    file.height = kStillHeight;
    file.frameCount = 1;
    return file;
}

// `format` names the file format for the facts; `muxer` is what ffmpeg writes it with.
Recipe stillRecipe(const fs::path& folder, const std::string& name, const std::string& format,
                   const std::string& muxer, const std::string& codec,
                   const std::vector<std::string>& encoderArgs) {
    Recipe recipe;
    recipe.file = stillFacts(folder, name, format, codec);
    std::string stillFilter = "format=rgb24," + quadrantsFilter() + ",trim=end_frame=1";
    if (codec == "gif") {
        stillFilter += exactPaletteFilter();
    }
    auto& argv = recipe.argv;
    argv = ffmpegBase();
    append(argv, {"-f", "lavfi", "-i",
                  "color=c=black:s=" + std::to_string(kStillWidth) + "x" +
                      std::to_string(kStillHeight) + ":r=1",
                  "-filter:v", stillFilter, "-frames:v", "1"});
    append(argv, encoderArgs);
    append(argv, {"-f", muxer, kOutput});
    return recipe;
}

void copyFile(const fs::path& input, const fs::path& output) {
    fs::copy_file(input, output, fs::copy_options::overwrite_existing);
}

// Writes `input` (a JPEG) with an EXIF block that sets orientation 6 right after its SOI marker.
void tagOrientationSix(const fs::path& input, const fs::path& output) {
    std::ifstream in(input, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() < 4 || static_cast<unsigned char>(bytes[0]) != 0xFF ||
        static_cast<unsigned char>(bytes[1]) != 0xD8) {
        throw std::runtime_error("not a JPEG file: " + input.string());
    }
    static const unsigned char app1[] = {
        0xFF, 0xE1, 0x00, 0x22,                          // APP1, 34 bytes including this length
        'E',  'x',  'i',  'f',  0x00, 0x00,              // Exif header
        'I',  'I',  0x2A, 0x00, 0x08, 0x00, 0x00, 0x00,  // little-endian TIFF, IFD0 at 8
        0x01, 0x00,                                      // one entry
        0x12, 0x01, 0x03, 0x00, 0x01, 0x00, 0x00, 0x00,  // Orientation, SHORT, count 1
        0x06, 0x00, 0x00, 0x00,                          // value 6
        0x00, 0x00, 0x00, 0x00,                          // no next IFD
    };
    std::ofstream out(output, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), 2);
    out.write(reinterpret_cast<const char*>(app1), sizeof app1);
    out.write(bytes.data() + 2, static_cast<std::streamsize>(bytes.size() - 2));
    if (!out.flush()) {
        throw std::runtime_error("cannot write " + output.string());
    }
}

Recipe derived(MediaFile file, const fs::path& input, std::string description,
               std::function<void(const fs::path&, const fs::path&)> make) {
    Recipe recipe;
    recipe.file = std::move(file);
    recipe.input = input;
    recipe.makeDescription = std::move(description);
    recipe.make = std::move(make);
    return recipe;
}

Recipe copyOf(const MediaFile& source, const std::string& name) {
    MediaFile file = source;
    file.path = source.path.parent_path() / name;
    file.extension = file.path.extension().string().substr(1);
    return derived(file, source.path, "copy", copyFile);
}

std::string findFont() {
    static const char* const candidates[] = {
        "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf",
        "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
        "/usr/share/fonts/opentype/noto/NotoSansCJK-Bold.ttc",
        "/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc",
    };
    for (const char* candidate : candidates) {
        std::error_code error;
        if (fs::is_regular_file(candidate, error)) {
            return candidate;
        }
    }
    return {};
}

std::string rateLabel(Rational rate) {
    if (rate.den == 1) {
        return std::to_string(rate.num);
    }
    char text[16];
    std::snprintf(text, sizeof text, "%.3f", rate.value());
    std::string label = text;
    while (label.back() == '0') {
        label.pop_back();
    }
    return label;
}

Catalogue buildCatalogue(const fs::path& folder) {
    Catalogue catalogue;
    MediaFixtures& fixtures = catalogue.fixtures;
    std::vector<Recipe>& recipes = catalogue.recipes;
    fixtures.folder = folder;

    std::string font = findFont();
    if (font.empty()) {
        catalogue.missingFont =
            "no font for the frame numbers: install fonts-dejavu-core (scripts/setup does)";
        font = "/nonexistent.ttf";
    }

    // Returns a copy: later additions move the recipes around.
    auto add = [&](Recipe recipe) -> MediaFile {
        recipes.push_back(std::move(recipe));
        return recipes.back().file;
    };

    for (Rational rate : kOutputFrameRates) {
        ClipShape shape{"h264", 320, 180, rate, "aac"};
        fixtures.rateClips.push_back(
            add(clipRecipe(folder, "rate_" + rateLabel(rate) + ".mp4", "mp4", shape, font)));
    }
    const MediaFile baseClip = fixtures.rateClip(kContainerRate);

    auto container = [&](const std::string& extension, const std::string& muxer,
                         const ClipShape& shape, const std::vector<std::string>& muxerArgs = {}) {
        fixtures.videoContainers.push_back(
            add(clipRecipe(folder, "container." + extension, muxer, shape, font, muxerArgs)));
    };
    const std::vector<std::string> m2ts = {"-mpegts_m2ts_mode", "1"};
    fixtures.videoContainers.push_back(baseClip);
    container("m4v", "mp4", {"h264", 320, 180, kContainerRate, "aac"});
    container("mov", "mov", {"h264", 320, 180, kContainerRate, "pcm_s24le"});
    container("mxf", "mxf", {"mpeg2video", 320, 180, kContainerRate, "pcm_s16le"});
    container("m2ts", "mpegts", {"h264", 320, 180, kContainerRate, "ac3"}, m2ts);
    container("mts", "mpegts", {"h264", 320, 180, kContainerRate, "ac3"}, m2ts);
    container("ts", "mpegts", {"h264", 320, 180, kContainerRate, "aac"});
    container("m2t", "mpegts", {"mpeg2video", 320, 180, kContainerRate, "mp2"});
    container("mpg", "vob", {"mpeg2video", 320, 180, kContainerRate, "mp2"});
    container("mpeg", "mpeg", {"mpeg1video", 320, 180, kContainerRate, "mp2"});
    container("m2v", "mpeg2video", {"mpeg2video", 320, 180, kContainerRate, ""});
    container("3gp", "3gp", {"h264", 320, 180, kContainerRate, "aac"});
    container("3g2", "3g2", {"h263", 352, 288, kContainerRate, "aac"});
    container("dv", "dv", {"dvvideo", 720, 576, Rational{25, 1}, "pcm_s16le"});

    const MediaFile wav = add(toneRecipe(folder, "tone.wav", "wav", "pcm_s16le", 2));
    const MediaFile mp3 = add(toneRecipe(folder, "tone.mp3", "mp3", "mp3", 2));
    const MediaFile aiff = add(toneRecipe(folder, "tone.aiff", "aiff", "pcm_s16be", 2));
    const MediaFile m4a = add(toneRecipe(folder, "tone.m4a", "ipod", "aac", 2));
    const MediaFile caf = add(toneRecipe(folder, "tone.caf", "caf", "pcm_s16le", 2));
    const MediaFile flac = add(toneRecipe(folder, "tone.flac", "flac", "flac", 2));

    const MediaFile png = add(stillRecipe(folder, "still.png", "png", "image2pipe", "png",
                                          {"-c:v", "png", "-pix_fmt", "rgb24"}));
    const MediaFile jpg = add(stillRecipe(folder, "still.jpg", "jpeg", "image2pipe", "mjpeg",
                                          {"-c:v", "mjpeg", "-q:v", "2", "-pix_fmt", "yuvj444p"}));
    const MediaFile tiff = add(stillRecipe(folder, "still.tiff", "tiff", "image2pipe", "tiff",
                                           {"-c:v", "tiff", "-pix_fmt", "rgb24"}));
    const MediaFile bmp = add(stillRecipe(folder, "still.bmp", "bmp", "image2pipe", "bmp",
                                          {"-c:v", "bmp", "-pix_fmt", "bgr24"}));
    const MediaFile gif =
        add(stillRecipe(folder, "still.gif", "gif", "gif", "gif", {"-c:v", "gif"}));
    const MediaFile webp = add(stillRecipe(folder, "still.webp", "webp", "webp", "webp",
                                           {"-c:v", "libwebp", "-lossless", "1"}));

    Recipe heic;
    heic.file = stillFacts(folder, "still.heic", "heif", "hevc");
    heic.input = png.path;
    heic.argv = {"heif-enc", "-q", "90", "-o", kOutput, png.path.string()};
    const MediaFile heicFile = add(std::move(heic));

    {
        Recipe animated;
        animated.file = describe(folder, "animated.gif", MediaKind::still, "gif");
        MediaFile& file = animated.file;
        file.videoCodec = "gif";
        file.width = kStillWidth;
        file.height = kStillHeight;
        file.frameRate = {2, 1};
        file.frameCount = 3;
        file.duration = 1.5;
        animated.argv = ffmpegBase();
        append(animated.argv,
               {"-f", "lavfi", "-i",
                "color=c=black:s=" + std::to_string(kStillWidth) + "x" +
                    std::to_string(kStillHeight) + ":r=2",
                "-filter:v", clipPictureFilter(font, file.frameCount) + exactPaletteFilter(),
                "-c:v", "gif", "-loop", "0", "-f", "gif", kOutput});
        fixtures.animatedGif = add(std::move(animated));
    }

    MediaFile exif = jpg;
    exif.path = folder / "still_orientation6.jpg";
    exif.rotation = 90;
    fixtures.exifRotatedJpeg =
        add(derived(exif, jpg.path, "exif orientation 6", tagOrientationSix));

    {
        Recipe rotated;
        rotated.file = baseClip;
        rotated.file.path = folder / "rotated_90.mp4";
        rotated.file.rotation = 90;
        rotated.input = baseClip.path;
        rotated.argv = ffmpegBase();
        // FFmpeg 5.1 writes the tag rotate=270 as the matrix (0 1; -1 0) that phone cameras
        // write for portrait clips: av_display_rotation_get() gives -90 and players turn the
        // picture a quarter clockwise. (Its rotate=90 gives the opposite turn.)
        append(rotated.argv, {"-i", baseClip.path.string(), "-c", "copy", "-metadata:s:v:0",
                              "rotate=270", "-f", "mp4", kOutput});
        fixtures.rotatedClip = add(std::move(rotated));
    }

    // The other spellings of the same formats.
    const MediaFile jpeg = add(copyOf(jpg, "still.jpeg"));
    const MediaFile tif = add(copyOf(tiff, "still.tif"));
    const MediaFile heif = add(copyOf(heicFile, "still.heif"));
    const MediaFile aif = add(copyOf(aiff, "tone.aif"));
    fixtures.stills = {png, jpg, jpeg, tiff, tif, heicFile, heif, bmp, gif, webp};
    fixtures.audioFiles = {wav, mp3, aiff, aif, m4a, caf, flac};

    catalogue.longTone = toneRecipe(folder, "tone_5min.m4a", "ipod", "aac", kLongToneSeconds);
    return catalogue;
}

// ---- generation -----------------------------------------------------------------------------

// Raise when a step made in this process (copyFile, tagOrientationSix) changes what it writes;
// changes to commands and names are noticed without it.
constexpr int kStepRevision = 1;

// FNV-1a over every recipe: any change to a command or a file name makes a new fingerprint,
// so a build directory never keeps files made by an older recipe.
std::string fingerprint(const std::vector<const Recipe*>& recipes) {
    std::uint64_t hash = 14695981039346656037ull;
    auto mix = [&hash](const std::string& text) {
        for (unsigned char c : text) {
            hash = (hash ^ c) * 1099511628211ull;
        }
        hash = (hash ^ 0xFFu) * 1099511628211ull;
    };
    mix(std::to_string(kStepRevision));
    for (const Recipe* recipe : recipes) {
        mix(recipe->file.path.string());
        mix(recipe->input.string());
        mix(recipe->makeDescription);
        for (const std::string& arg : recipe->argv) {
            mix(arg);
        }
    }
    char text[32];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

std::string readText(const fs::path& path) {
    std::ifstream in(path);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void writeTextAtomically(const fs::path& path, const std::string& text) {
    const fs::path partial = path.parent_path() / (".partial" + path.filename().string());
    {
        std::ofstream out(partial, std::ios::trunc);
        out << text;
        if (!out.flush()) {
            throw std::runtime_error("cannot write " + partial.string());
        }
    }
    fs::rename(partial, path);
}

bool upToDate(const fs::path& stamp, const std::string& print,
              const std::vector<const Recipe*>& recipes) {
    std::error_code error;
    if (readText(stamp) != print) {
        return false;
    }
    return std::all_of(recipes.begin(), recipes.end(), [&](const Recipe* recipe) {
        return fs::file_size(recipe->file.path, error) > 0 && !error;
    });
}

// Makes one file under a temporary name (same extension, so tools see the right format) and
// renames it into place. Returns an empty string on success, else what went wrong.
std::string make(const Recipe& recipe) {
    const fs::path& target = recipe.file.path;
    const fs::path partial = target.parent_path() / (".partial." + target.filename().string());
    if (recipe.make) {
        try {
            recipe.make(recipe.input, partial);
        } catch (const std::exception& error) {
            return "making " + target.string() + " (" + recipe.makeDescription +
                   "): " + error.what() + "\n";
        }
    } else {
        std::vector<std::string> argv = recipe.argv;
        std::replace(argv.begin(), argv.end(), kOutput, partial.string());
        const ProcessResult result =
            runProcess(argv, std::chrono::duration_cast<std::chrono::milliseconds>(kToolTimeout));
        if (!result.succeeded()) {
            return describeFailure(argv, result);
        }
    }
    std::error_code error;
    if (fs::file_size(partial, error) == 0 || error) {
        return "making " + target.string() + " left no data\n";
    }
    fs::rename(partial, target, error);
    if (error) {
        return "cannot rename " + partial.string() + ": " + error.message() + "\n";
    }
    return {};
}

// Runs the recipes on a few threads. A recipe whose input is made by another recipe of the
// same batch waits for a later round.
void makeAll(std::vector<const Recipe*> pending) {
    const unsigned workers = std::clamp(std::thread::hardware_concurrency(), 2u, 4u);
    std::string failures;
    while (!pending.empty()) {
        std::vector<const Recipe*> round;
        std::vector<const Recipe*> later;
        for (const Recipe* recipe : pending) {
            const bool waits =
                !recipe->input.empty() &&
                std::any_of(pending.begin(), pending.end(),
                            [&](const Recipe* other) { return other->file.path == recipe->input; });
            (waits ? later : round).push_back(recipe);
        }
        if (round.empty()) {
            throw std::logic_error("media fixture recipes depend on each other in a circle");
        }
        std::atomic<std::size_t> next{0};
        std::atomic<bool> failed{false};
        std::mutex failuresMutex;
        auto work = [&] {
            // After the first failure no new recipe starts: one broken tool would otherwise
            // bury its message under dozens of identical ones.
            for (std::size_t i = next++; i < round.size() && !failed; i = next++) {
                const std::string failure = make(*round[i]);
                if (!failure.empty()) {
                    failed = true;
                    std::lock_guard lock(failuresMutex);
                    failures += failure + "\n";
                }
            }
        };
        std::vector<std::thread> threads;
        for (unsigned i = 0; i < std::min<std::size_t>(workers, round.size()); ++i) {
            threads.emplace_back(work);
        }
        for (std::thread& thread : threads) {
            thread.join();
        }
        if (!failures.empty()) {
            throw std::runtime_error("could not make the media fixtures:\n" + failures);
        }
        pending = std::move(later);
    }
}

// Holds an exclusive flock on the folder's lock file for its lifetime.
class FolderLock {
  public:
    explicit FolderLock(const fs::path& folder) {
        const fs::path path = folder / ".lock";
        fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd_ < 0) {
            throw std::runtime_error("cannot open " + path.string() + ": " + std::strerror(errno));
        }
        while (flock(fd_, LOCK_EX) != 0) {
            if (errno != EINTR) {
                const int error = errno;
                close(fd_);
                throw std::runtime_error("cannot lock " + path.string() + ": " +
                                         std::strerror(error));
            }
        }
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    ~FolderLock() { close(fd_); }  // closing releases the lock

  private:
    int fd_ = -1;
};

// Makes sure the recipes' files exist and match `stampName`'s fingerprint, making them if not.
void ensure(const fs::path& folder, const std::string& stampName,
            const std::vector<const Recipe*>& recipes) {
    fs::create_directories(folder);
    FolderLock lock(folder);
    const fs::path stamp = folder / stampName;
    const std::string print = fingerprint(recipes);
    if (upToDate(stamp, print, recipes)) {
        return;
    }
    std::error_code ignored;
    fs::remove(stamp, ignored);
    makeAll(recipes);
    writeTextAtomically(stamp, print);
}

const Catalogue& catalogue() {
    static const Catalogue instance = buildCatalogue(KESTIO_FIXTURE_DIR);
    return instance;
}

// Remembers the outcome of the first attempt in this process, so that a failure is reported
// by every test that needs the files without trying again each time.
struct Outcome {
    std::mutex mutex;
    bool done = false;
    std::string error;
};

void ensureOnce(Outcome& outcome, const std::function<void()>& work) {
    std::lock_guard lock(outcome.mutex);
    if (!outcome.done) {
        try {
            work();
        } catch (const std::exception& error) {
            outcome.error = error.what();
        }
        outcome.done = true;
    }
    if (!outcome.error.empty()) {
        throw std::runtime_error(outcome.error);
    }
}

const MediaFile& find(const std::vector<MediaFile>& files, std::string_view extension,
                      const char* what) {
    for (const MediaFile& file : files) {
        if (file.extension == extension) {
            return file;
        }
    }
    throw std::out_of_range(std::string("no ") + what + " fixture with extension " +
                            std::string(extension));
}

}  // namespace

std::string MediaFile::testName() const {
    std::string name = path.filename().string();
    for (char& c : name) {
        const bool alnum =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!alnum) {
            c = '_';
        }
    }
    return name;
}

void PrintTo(const MediaFile& file, std::ostream* out) {
    *out << file.path.filename().string();
}

const MediaFile& MediaFixtures::rateClip(Rational rate) const {
    for (const MediaFile& file : rateClips) {
        if (file.frameRate == rate) {
            return file;
        }
    }
    throw std::out_of_range("no rate clip at " + rationalText(rate));
}

const MediaFile& MediaFixtures::video(std::string_view extension) const {
    return find(videoContainers, extension, "video");
}

const MediaFile& MediaFixtures::audio(std::string_view extension) const {
    return find(audioFiles, extension, "audio");
}

const MediaFile& MediaFixtures::still(std::string_view extension) const {
    return find(stills, extension, "still");
}

std::vector<const MediaFile*> MediaFixtures::all() const {
    std::vector<const MediaFile*> files;
    auto addUnique = [&files](const MediaFile& file) {
        const bool known = std::any_of(files.begin(), files.end(),
                                       [&](const MediaFile* f) { return f->path == file.path; });
        if (!known) {
            files.push_back(&file);
        }
    };
    for (const auto* list : {&rateClips, &videoContainers, &audioFiles, &stills}) {
        for (const MediaFile& file : *list) {
            addUnique(file);
        }
    }
    addUnique(animatedGif);
    addUnique(exifRotatedJpeg);
    addUnique(rotatedClip);
    return files;
}

const MediaFixtures& mediaFixtureCatalogue() {
    return catalogue().fixtures;
}

const MediaFixtures& mediaFixtures() {
    static Outcome outcome;
    const Catalogue& all = catalogue();
    ensureOnce(outcome, [&all] {
        if (!all.missingFont.empty()) {
            throw std::runtime_error(all.missingFont);
        }
        std::vector<const Recipe*> recipes;
        for (const Recipe& recipe : all.recipes) {
            recipes.push_back(&recipe);
        }
        ensure(all.fixtures.folder, ".stamp", recipes);
    });
    return all.fixtures;
}

const MediaFile& longToneFile() {
    static Outcome outcome;
    const Catalogue& all = catalogue();
    ensureOnce(outcome,
               [&all] { ensure(all.fixtures.folder, ".stamp-long-tone", {&all.longTone}); });
    return all.longTone.file;
}

std::vector<fs::path> writeListsNaming(const fs::path& folder, const fs::path& target) {
    const std::string hls = "#EXTM3U\n#EXT-X-TARGETDURATION:10\n#EXTINF:10,\n" +
                            fs::absolute(target).string() + "\n#EXT-X-ENDLIST\n";
    const std::string concat =
        "ffconcat version 1.0\nfile '" + fs::absolute(target).string() + "'\n";
    std::vector<fs::path> written;
    for (const auto& [name, text] : {std::pair{"playlist.mp4", &hls},
                                     {"playlist.wav", &hls},
                                     {"list.mp4", &concat},
                                     {"list.wav", &concat}}) {
        const fs::path path = folder / name;
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << *text;
        if (!out.flush()) {
            throw std::runtime_error("cannot write " + path.string());
        }
        written.push_back(path);
    }
    return written;
}

ProcessResult writeToneClip(const fs::path& file, double seconds) {
    return writeToneClip(file, seconds, kToneFrequency, "libx264", "aac");
}

ProcessResult writeToneClip(const fs::path& file, double seconds, double frequency,
                            const std::string& videoCodec, const std::string& audioCodec) {
    const std::string length = std::to_string(seconds);
    return runProcess(
        {"ffmpeg",
         "-nostdin",
         "-v",
         "error",
         "-y",
         "-f",
         "lavfi",
         "-i",
         "testsrc=size=160x120:rate=25:duration=" + length,
         "-f",
         "lavfi",
         "-i",
         "sine=frequency=" + std::to_string(frequency) + ":sample_rate=48000:duration=" + length,
         "-c:v",
         videoCodec,
         "-pix_fmt",
         "yuv420p",
         "-c:a",
         audioCodec,
         "-shortest",
         file.string()},
        std::chrono::seconds(60));
}

void writeWithLateSound(const MediaFile& clip, double delay, const fs::path& output) {
    std::vector<std::string> argv = ffmpegBase();
    append(argv, {"-i", clip.path.string(), "-itsoffset", std::to_string(delay), "-i",
                  clip.path.string(), "-map", "0:v", "-map", "1:a", "-c:v", "copy", "-c:a",
                  "pcm_s16le", "-f", "mov", output.string()});
    const ProcessResult result = runProcess(argv, kToolTimeout);
    if (!result.succeeded()) {
        throw std::runtime_error(describeFailure(argv, result));
    }
}

namespace {

FlashBeepClip flashBeepFacts(Rational rate, int sampleRate) {
    FlashBeepClip clip;
    const int period = static_cast<int>(std::lround(rate.value()));
    const long samplesPerFlash = static_cast<long>(period / 2) * sampleRate * rate.den;
    if (period < 2 || sampleRate <= 0 || samplesPerFlash % rate.num != 0 ||
        static_cast<long>(period) * sampleRate * rate.den % rate.num != 0) {
        throw std::invalid_argument("no flash-and-beep clip at " + rationalText(rate) + " with " +
                                    std::to_string(sampleRate) + " Hz sound");
    }
    MediaFile& file = clip.file;
    file = describe(catalogue().fixtures.folder,
                    "flash_beep_" + std::to_string(rate.num) + "_" + std::to_string(rate.den) +
                        (sampleRate == kToneSampleRate ? "" : "_" + std::to_string(sampleRate)) +
                        ".mov",
                    MediaKind::video, "mov");
    file.videoCodec = "h264";
    file.width = 320;
    file.height = 180;
    file.frameRate = rate;
    file.frameCount = 4 * period;
    file.duration = static_cast<double>(file.frameCount) * rate.den / rate.num;
    file.audioCodec = "pcm_s16le";
    file.channels = 2;
    file.sampleRate = sampleRate;
    file.audioBitDepth = 16;
    for (int k = 0; k < 4; ++k) {
        clip.flashTimes.push_back(static_cast<double>(period / 2 + k * period) * rate.den /
                                  rate.num);
    }
    return clip;
}

Recipe flashBeepRecipe(const FlashBeepClip& clip) {
    const MediaFile& file = clip.file;
    const Rational rate = file.frameRate;
    const int period = static_cast<int>(std::lround(rate.value()));
    const int sampleRate = file.sampleRate;
    const long periodSamples = static_cast<long>(period) * sampleRate * rate.den / rate.num;
    const long firstSample = static_cast<long>(period / 2) * sampleRate * rate.den / rate.num;
    const long beepSamples = std::lround(clip.beepSeconds * sampleRate);
    const long totalSamples = static_cast<long>(file.frameCount) * sampleRate * rate.den / rate.num;
    // `m` counts samples from the start of the current beep.
    const std::string m = "mod(n+" + std::to_string(periodSamples - firstSample) + "\\," +
                          std::to_string(periodSamples) + ")";
    const std::string beep = std::to_string(clip.beepAmplitude) + "*sin(2*PI*" +
                             std::to_string(static_cast<int>(kToneFrequency)) + "*" + m + "/" +
                             std::to_string(sampleRate) + ")*lt(" + m + "\\," +
                             std::to_string(beepSamples) + ")";
    Recipe recipe;
    recipe.file = file;
    auto& argv = recipe.argv;
    argv = ffmpegBase();
    append(argv, {"-f",
                  "lavfi",
                  "-i",
                  "color=c=black:s=" + std::to_string(file.width) + "x" +
                      std::to_string(file.height) + ":r=" + rationalText(rate),
                  "-f",
                  "lavfi",
                  "-i",
                  "aevalsrc=exprs=" + beep + ":sample_rate=" + std::to_string(sampleRate),
                  "-filter:v",
                  "drawbox=x=0:y=0:w=iw:h=ih:color=white:t=fill:enable='eq(mod(n\\," +
                      std::to_string(period) + ")\\," + std::to_string(period / 2) +
                      ")',trim=end_frame=" + std::to_string(file.frameCount),
                  "-filter:a",
                  "atrim=end_sample=" + std::to_string(totalSamples) + ",pan=stereo|c0=c0|c1=c0",
                  "-c:v",
                  "libx264",
                  "-crf",
                  "18",
                  "-pix_fmt",
                  "yuv420p",
                  "-g",
                  std::to_string(period),
                  "-bf",
                  "0",
                  "-c:a",
                  "pcm_s16le",
                  "-f",
                  "mov",
                  kOutput});
    return recipe;
}

}  // namespace

const FlashBeepClip& flashBeepClip(Rational rate, int sampleRate) {
    struct Made {
        FlashBeepClip clip;
        Outcome outcome;
    };
    static std::mutex mutex;
    static std::vector<std::unique_ptr<Made>> made;
    Made* entry = nullptr;
    {
        std::lock_guard lock(mutex);
        for (const auto& m : made) {
            if (m->clip.file.frameRate == rate && m->clip.file.sampleRate == sampleRate) {
                entry = m.get();
            }
        }
        if (entry == nullptr) {
            made.push_back(std::make_unique<Made>());
            made.back()->clip = flashBeepFacts(rate, sampleRate);
            entry = made.back().get();
        }
    }
    ensureOnce(entry->outcome, [entry] {
        const Recipe recipe = flashBeepRecipe(entry->clip);
        ensure(entry->clip.file.path.parent_path(),
               ".stamp-" + entry->clip.file.path.stem().string(), {&recipe});
    });
    return entry->clip;
}

}  // namespace kestio::test
