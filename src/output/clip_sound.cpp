#include "output/clip_sound.h"

#include <algorithm>
#include <cmath>

#include "platform/audio/audio_file.h"

namespace kestio {

using platform::audio::AudioFile;
using platform::audio::ChannelMap;

namespace {

// How far an end time may lie beyond the sound's end before the load says the file is shorter
// than the clip expects (containers often report a little more than the sound holds).
constexpr double kShortSoundToleranceSeconds = 0.1;

// A frame count of `seconds` at `rate`, truncated towards zero, kept within [0, limit].
int64_t framesAt(double seconds, double rate, int64_t limit) {
    const double frames = std::trunc(seconds * rate);
    if (!(frames > 0.0)) {
        return 0;
    }
    return frames >= double(limit) ? limit : int64_t(frames);
}

// A sample rate written in its shortest form with at least one fractional digit (48000.0).
std::string rateText(double rate) {
    std::string text = std::to_string(rate);
    text.erase(text.find_last_not_of('0') + 1);
    if (!text.empty() && text.back() == '.') {
        text += '0';
    }
    return text;
}

}  // namespace

ChannelMap clipChannelSelection(uint32_t sourceChannels, uint32_t outputChannels, bool videoSound) {
    if (sourceChannels == 0) {
        return {};
    }
    if (videoSound) {
        return sourceChannels == 1 ? ChannelMap{0, 0} : ChannelMap{0, 1};
    }
    if (outputChannels == 0 || sourceChannels <= outputChannels) {
        return {};
    }
    ChannelMap selection(outputChannels, -1);
    selection[0] = 0;
    if (outputChannels >= 2) {
        selection[1] = 1;
    }
    return selection;
}

ClipSound loadClipSound(const std::filesystem::path& path, double startTime,
                        std::optional<double> endTime, uint32_t outputChannels,
                        const std::string& label) {
    ClipSound sound;
    const std::string prefix = "audio load [" + label + "]: ";
    std::string error;
    // One open: the channels read are chosen from what the file holds.
    uint32_t sourceChannels = 0;
    std::shared_ptr<AudioFile> file = AudioFile::openForReading(
        path,
        [&](uint32_t channels, bool containsVideo) {
            sourceChannels = channels;
            return clipChannelSelection(channels, outputChannels, containsVideo);
        },
        &error);
    if (!file) {
        sound.lines.push_back(prefix + "no sound to play in " + path.filename().string() + " (" +
                              error + ")");
        return sound;
    }
    sound.hasAudio = true;

    const double rate = file->processingFormat().sampleRate;
    const int64_t total = std::max<int64_t>(file->length(), 0);
    const double start = std::isfinite(startTime) ? std::max(startTime, 0.0) : 0.0;
    const int64_t startFrame = framesAt(start, rate, total);
    int64_t endFrame = total;
    if (endTime && std::isfinite(*endTime)) {
        endFrame = framesAt(*endTime, rate, total);
        if (*endTime * rate > double(total) + kShortSoundToleranceSeconds * rate) {
            sound.lines.push_back(prefix + "the sound ends at " +
                                  std::to_string(double(total) / rate) +
                                  " s, before the end time " + std::to_string(*endTime) + " s");
        }
    }
    // A start time beyond the end is not clamped: the span is then empty.
    if (start * rate >= double(total) || endFrame <= startFrame) {
        sound.lines.push_back(prefix + "nothing to play between " + std::to_string(start) +
                              " s and the end time");
        return sound;
    }
    sound.file = std::move(file);
    sound.startFrame = startFrame;
    sound.frameCount = uint64_t(endFrame - startFrame);
    sound.channelCount = sound.file->processingFormat().channelCount;
    sound.lines.push_back(prefix + std::to_string(sound.frameCount) + " frames at " +
                          rateText(rate) +
                          "Hz (streaming) ch=" + std::to_string(sound.channelCount));
    if (sound.channelCount < sourceChannels) {
        sound.lines.push_back(prefix + std::to_string(sourceChannels) + "ch→" +
                              std::to_string(sound.channelCount) + "ch ダウンミックス (ch1/2)");
    }
    return sound;
}

}  // namespace kestio
