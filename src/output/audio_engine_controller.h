#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "model/settings_records.h"
#include "output/channel_levels.h"
#include "platform/audio/audio_format.h"
#include "platform/audio/segment_loop.h"
#include "platform/media/atomic_snapshot.h"
#include "platform/runloop/run_loop.h"

namespace kestio::platform::audio {
class AudioEngine;
class AudioFile;
class AudioPlayerNode;
class EQNode;
class TimePitchNode;
}  // namespace kestio::platform::audio

namespace kestio {

struct ClipSound;

// One playback slot's sound path on the shared audio engine: player node → time-pitch → six-band
// equaliser → main mixer. It holds the clip sound a load prepared (an open file and the span
// to stream from it), meters what the player node produces, and offers what the playback
// controller drives: engine start, seek, loop scheduling, stop, level and equaliser gains.
//
// Every method runs on the run loop's (main) thread. A load opens the file on a thread of its
// own and hands the outcome back in one step; the latest load wins. The meter tap runs on the
// engine's tap thread and publishes each measurement whole.
class AudioEngineController {
  public:
    // The equaliser's band centres (Hz), in the order of EqualizerSettings' fields.
    static constexpr std::array<float, 6> kBandFrequencies{80.0f,   315.0f,  800.0f,
                                                           1250.0f, 2500.0f, 3200.0f};
    // Frames per meter measurement.
    static constexpr uint32_t kMeterFrames = 1024;
    // A slot whose gain is at or below this is silent.
    static constexpr float kSilentGainDb = -40.0f;
    // How long a change of level takes.
    static constexpr double kLevelRampSeconds = 0.02;

    // Attaches the chain's nodes to `engine` (which must outlive the controller) and connects
    // them with effects in 32-bit float, 48 kHz, two channels.
    AudioEngineController(platform::RunLoop& loop, platform::audio::AudioEngine& engine,
                          std::string label);
    // Detaches the chain's nodes; a load under way is dropped.
    ~AudioEngineController();
    AudioEngineController(const AudioEngineController&) = delete;
    AudioEngineController& operator=(const AudioEngineController&) = delete;

    const std::string& label() const { return label_; }
    const std::shared_ptr<platform::audio::AudioPlayerNode>& playerNode() const { return player_; }
    const std::shared_ptr<platform::audio::TimePitchNode>& timePitchNode() const {
        return timePitch_;
    }
    const std::shared_ptr<platform::audio::EQNode>& eqNode() const { return eq_; }

    // Wires the chain for clips of `format`: through time-pitch and equaliser with effects,
    // else the player straight into the main mixer (time-pitch and equaliser keep their
    // settings but are not heard). The links themselves always carry the engine's output
    // format (the player adapts every clip to it), so a rewire for another clip's format
    // changes nothing of a chain that is playing; a change of wiring reaches the render thread
    // as one step. The meter tap is installed again. An invalid format is refused with a
    // console line.
    void connectGraph(const platform::audio::AudioFormat& format, bool useEffects);
    // The format of the last connection: a load streams no more channels than it has.
    const platform::audio::AudioFormat& currentFormat() const { return currentFormat_; }
    // The format the chain's links carry.
    const platform::audio::AudioFormat& linkFormat() const { return linkFormat_; }
    bool usesEffects() const { return useEffects_; }

    // Prepares the sound of the media at `path` between `startTime` and `endTime` (seconds;
    // none: the end of the sound). The fields below are reset at once and set when the load
    // ends; `done` is then posted with true. A load overtaken by a later one changes nothing and
    // its `done` gets false. Never blocks the calling thread.
    void load(const std::filesystem::path& path, double startTime,
              std::optional<double> endTime = std::nullopt,
              std::function<void(bool latest)> done = {});
    // The sound for a loop, which streams passes of its own range from the loaded file: the load
    // under way or done last is kept when it opened the same media from the same start up to
    // `endTime` or beyond (the loop's own range is cut from the file as it plays), and `done`
    // is called as for it (at once, posted, when it has ended); else as load().
    void loadForLoop(const std::filesystem::path& path, double startTime,
                     std::optional<double> endTime, std::function<void(bool latest)> done);
    // Calls `done` as load()'s own `done` for the load under way (false when a later load
    // overtakes it), or at once, posted, with true when the last load has ended.
    void whenLoaded(std::function<void(bool latest)> done);
    // A span of at least one frame is loaded and can be scheduled.
    bool isReady() const { return isReady_; }
    // The last loaded media has a sound track.
    bool hasAudio() const { return hasAudio_; }
    // The last load has ended, whatever its outcome.
    bool loadFinished() const { return loadFinished_; }
    // A load was asked for and has not ended.
    bool loading() const { return lastLoad_ && !loadFinished_; }
    // The loaded sound: its file (read through the channels chosen), the span's first frame
    // in it and its length, and the channel count as scheduled.
    const std::shared_ptr<platform::audio::AudioFile>& audioFile() const { return audioFile_; }
    int64_t fileStartFrame() const { return fileStartFrame_; }
    uint64_t fileTotalFrames() const { return fileTotalFrames_; }
    uint32_t fileChannelCount() const { return fileChannelCount_; }

    // Starts the shared engine unless it runs; a failure is a console line and nothing else.
    void startEngineIfNeeded();
    // Restarts the player at clip time `target`, the span beginning at clip time `offset`; keeps
    // it playing or stopped as it was. Nothing at all without a loaded span. A target at or
    // beyond the span's end leaves the player stopped. While looping, whole passes follow.
    void seek(double target, double offset);
    // Looping: while set, scheduleLoop() keeps passes of the span scheduled ahead.
    bool isLooping() const { return isLooping_; }
    void setLooping(bool looping) { isLooping_ = looping; }
    // While looping with a span loaded, keeps whole passes of the span scheduled after what the
    // player holds, without a gap, until stop(). Nothing when passes are already kept coming.
    void scheduleLoop();
    // Ends looping, then stops the player (so no further pass is scheduled).
    void stop();

    // The slot's level: silent when muted or at or below kSilentGainDb, else the gain in dB
    // (above 0 dB too: the mix is float and the output clips what goes over full scale).
    // Applied where the chain enters the mixer from the next block: at once before the chain
    // plays, ramped over kLevelRampSeconds while it does.
    void setLevel(float gainDb, bool muted);
    // The equaliser's six band gains, at once.
    void applyEqualizer(const EqualizerSettings& settings);
    // The playback rate the time-pitch unit stretches to; at exactly 1 it passes the sound
    // through untouched.
    void setRate(float rate);

    // The newest meter measurement of the player's output (before rate, equaliser and level):
    // RMS and peak per channel in dBFS, eight entries each.
    ChannelLevels meterLevels() const;
    std::array<float, ChannelLevels::kChannels> channelLevels() const {
        return meterLevels().levels;
    }
    std::array<float, ChannelLevels::kChannels> channelPeaks() const { return meterLevels().peaks; }

  private:
    struct LoadTicket;
    using MeterSnapshot = platform::media::AtomicSnapshot<const ChannelLevels>;

    void configureEQBands();
    void installMeterTap(const platform::audio::AudioFormat& format);
    void finishLoad(uint64_t generation, ClipSound sound);

    platform::RunLoop& loop_;
    platform::audio::AudioEngine& engine_;
    std::string label_;
    std::shared_ptr<platform::audio::AudioPlayerNode> player_;
    std::shared_ptr<platform::audio::EQNode> eq_;
    std::shared_ptr<platform::audio::TimePitchNode> timePitch_;
    platform::audio::SegmentLoop loopPasses_;

    bool isReady_ = false;
    bool hasAudio_ = false;
    bool loadFinished_ = false;
    uint32_t fileChannelCount_ = 2;
    std::shared_ptr<platform::audio::AudioFile> audioFile_;
    int64_t fileStartFrame_ = 0;
    uint64_t fileTotalFrames_ = 0;
    platform::audio::AudioFormat currentFormat_;
    // Nothing linked yet (channel count 0).
    platform::audio::AudioFormat linkFormat_{48000.0, 0, false};
    bool useEffects_ = true;
    bool isLooping_ = false;

    std::shared_ptr<MeterSnapshot> meter_ = std::make_shared<MeterSnapshot>();
    uint64_t loadGeneration_ = 0;
    // What the last load asked for.
    struct LoadRequest {
        std::filesystem::path path;
        double startTime = 0.0;
        std::optional<double> endTime;
    };
    std::optional<LoadRequest> lastLoad_;
    std::shared_ptr<LoadTicket> ticket_;
    std::function<void(bool)> loadDone_;
    // Posted load outcomes hold this weakly.
    std::shared_ptr<AudioEngineController*> self_ = std::make_shared<AudioEngineController*>(this);
};

}  // namespace kestio
