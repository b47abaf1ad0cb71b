#include "output/audio_engine_controller.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <mutex>
#include <thread>

#include "output/clip_sound.h"
#include "platform/audio/audio_engine.h"
#include "platform/audio/audio_file.h"
#include "platform/audio/audio_player_node.h"
#include "platform/audio/eq_node.h"
#include "platform/audio/mixer_node.h"
#include "platform/audio/time_pitch_node.h"
#include "platform/runloop/console.h"

namespace kestio {

using platform::Console;
using platform::audio::AudioFormat;

// What a load's thread shares with its controller. The thread posts its outcome under the
// lock and only while the load is wanted, so once the controller has let the load go (a later
// load, or its destruction) the thread never touches the run loop again.
struct AudioEngineController::LoadTicket {
    std::mutex mutex;
    bool cancelled = false;

    void cancel() {
        std::lock_guard lock(mutex);
        cancelled = true;
    }
};

AudioEngineController::AudioEngineController(platform::RunLoop& loop,
                                             platform::audio::AudioEngine& engine,
                                             std::string label)
    : loop_(loop),
      engine_(engine),
      label_(std::move(label)),
      player_(std::make_shared<platform::audio::AudioPlayerNode>()),
      eq_(std::make_shared<platform::audio::EQNode>(int(kBandFrequencies.size()))),
      timePitch_(std::make_shared<platform::audio::TimePitchNode>()),
      loopPasses_(loop, player_),
      currentFormat_{48000.0, 2, false} {
    configureEQBands();
    engine_.attach(player_);
    engine_.attach(timePitch_);
    engine_.attach(eq_);
    connectGraph(currentFormat_, true);
}

AudioEngineController::~AudioEngineController() {
    self_.reset();
    if (ticket_) {
        ticket_->cancel();
    }
    loopPasses_.stop();
    player_->removeTap(0);
    engine_.detach(player_);
    engine_.detach(timePitch_);
    engine_.detach(eq_);
}

void AudioEngineController::configureEQBands() {
    for (std::size_t i = 0; i < kBandFrequencies.size(); ++i) {
        platform::audio::EQBand band;
        band.filterType = platform::audio::EQBand::FilterType::Parametric;
        band.frequency = kBandFrequencies[i];
        band.bandwidth = 1.0f;
        band.gain = 0.0f;
        band.bypass = false;
        eq_->setBand(int(i), band);
    }
}

void AudioEngineController::connectGraph(const AudioFormat& format, bool useEffects) {
    if (!format.isValid()) {
        Console::log("connect error [" + label_ + "]: not a format the engine can carry (" +
                     std::to_string(format.sampleRate) + " Hz, " +
                     std::to_string(format.channelCount) + " ch)");
        return;
    }
    // The links carry the engine's output format whatever the clip's: the player adapts each
    // clip's rate and channels to it, the mixer then has nothing to convert, and a rewire for
    // another clip's format leaves a chain that is playing exactly as it was.
    AudioFormat link = engine_.outputFormat();
    link.interleaved = false;
    if (!(link == linkFormat_) || useEffects != useEffects_) {
        // One change for the render thread: the chain is never heard half rewired.
        auto batch = engine_.batchChanges();
        engine_.disconnectNodeOutput(player_);
        engine_.disconnectNodeOutput(timePitch_);
        engine_.disconnectNodeOutput(eq_);
        std::optional<std::string> failure;
        if (useEffects) {
            failure = engine_.connect(player_, timePitch_, link);
            if (!failure) {
                failure = engine_.connect(timePitch_, eq_, link);
            }
            if (!failure) {
                failure = engine_.connect(eq_, engine_.mainMixerNode(), link);
            }
        } else {
            failure = engine_.connect(player_, engine_.mainMixerNode(), link);
        }
        if (failure) {
            Console::log("connect error [" + label_ + "]: " + *failure);
        }
        linkFormat_ = link;
        useEffects_ = useEffects;
    }
    currentFormat_ = format;
    installMeterTap(link);
}

void AudioEngineController::installMeterTap(const AudioFormat& format) {
    player_->removeTap(0);
    const AudioFormat linked = player_->outputFormat(0);
    const AudioFormat tapFormat = linked.channelCount != 0 ? linked : format;
    // The tap holds the meter's snapshot, not the controller: removing the tap (at the latest
    // in the destructor) guarantees the block never runs again.
    auto meter = meter_;
    const auto failure =
        player_->installTap(0, kMeterFrames, tapFormat, [meter](const auto& buffer) {
            meter->store(std::make_shared<const ChannelLevels>(measureChannelLevels(buffer)));
        });
    if (failure) {
        Console::log("meter tap error [" + label_ + "]: " + *failure);
    }
}

ChannelLevels AudioEngineController::meterLevels() const {
    const auto levels = meter_->load();
    return levels ? *levels : ChannelLevels{};
}

void AudioEngineController::load(const std::filesystem::path& path, double startTime,
                                 std::optional<double> endTime, std::function<void(bool)> done) {
    // The load before this one, if still under way, is no longer wanted.
    if (ticket_) {
        ticket_->cancel();
    }
    if (loadDone_) {
        loop_.post([overtaken = std::move(loadDone_)] { overtaken(false); });
    }
    loadDone_ = std::move(done);
    lastLoad_ = LoadRequest{path, startTime, endTime};
    isReady_ = false;
    hasAudio_ = false;
    loadFinished_ = false;
    audioFile_.reset();
    fileTotalFrames_ = 0;
    fileChannelCount_ = 2;

    const uint64_t generation = ++loadGeneration_;
    ticket_ = std::make_shared<LoadTicket>();
    std::weak_ptr<AudioEngineController*> weak = self_;
    std::thread([path, startTime, endTime, outputChannels = currentFormat_.channelCount,
                 label = label_, ticket = ticket_, &loop = loop_, weak, generation]() mutable {
        ClipSound sound = loadClipSound(path, startTime, endTime, outputChannels, label);
        std::lock_guard lock(ticket->mutex);
        if (ticket->cancelled) {
            return;
        }
        loop.post([weak, generation, sound = std::move(sound)]() mutable {
            if (const auto self = weak.lock()) {
                (*self)->finishLoad(generation, std::move(sound));
            }
        });
    }).detach();
}

void AudioEngineController::loadForLoop(const std::filesystem::path& path, double startTime,
                                        std::optional<double> endTime,
                                        std::function<void(bool)> done) {
    // An earlier span that ends at or after the loop's (or at the sound's end) holds every
    // frame of it.
    const bool covers = lastLoad_ && lastLoad_->path == path && lastLoad_->startTime == startTime &&
                        (!lastLoad_->endTime || (endTime && *lastLoad_->endTime >= *endTime));
    if (!covers) {
        load(path, startTime, endTime, std::move(done));
        return;
    }
    whenLoaded(std::move(done));
}

void AudioEngineController::whenLoaded(std::function<void(bool)> done) {
    if (!done) {
        return;
    }
    if (loadFinished_ || !lastLoad_) {
        loop_.post([done = std::move(done)] { done(true); });
        return;
    }
    if (!loadDone_) {
        loadDone_ = std::move(done);
        return;
    }
    loadDone_ = [first = std::move(loadDone_), then = std::move(done)](bool latest) {
        first(latest);
        then(latest);
    };
}

void AudioEngineController::finishLoad(uint64_t generation, ClipSound sound) {
    if (generation != loadGeneration_) {
        return;  // a later load was asked for after this one was posted
    }
    // The ticket is kept: the load's thread may still be inside its post to the run loop, and
    // the destructor's cancel() waits (on the ticket's lock) until it is out of it.
    for (const auto& line : sound.lines) {
        Console::log(line);
    }
    hasAudio_ = sound.hasAudio;
    if (sound.file) {
        audioFile_ = std::move(sound.file);
        fileStartFrame_ = sound.startFrame;
        fileTotalFrames_ = sound.frameCount;
        fileChannelCount_ = sound.channelCount;
        isReady_ = true;
    }
    loadFinished_ = true;
    if (auto done = std::move(loadDone_)) {
        loadDone_ = nullptr;
        loop_.post([done = std::move(done)] { done(true); });
    }
}

void AudioEngineController::startEngineIfNeeded() {
    if (engine_.isRunning()) {
        return;
    }
    if (const auto failure = engine_.start()) {
        Console::log("engine start error [" + label_ + "]: " + *failure);
    }
}

void AudioEngineController::seek(double target, double offset) {
    if (!isReady_ || fileTotalFrames_ == 0 || !audioFile_) {
        return;
    }
    if (!std::isfinite(target) || !std::isfinite(offset)) {
        Console::log("seek [" + label_ + "]: not a time: " + std::to_string(target) + " / " +
                     std::to_string(offset));
        return;
    }
    const bool wasPlaying = player_->isPlaying();
    // Topping up stops first, so the stop's completions schedule nothing.
    loopPasses_.stop();
    player_->stop();
    const double rel = std::max(target - offset, 0.0);
    const double frame = std::trunc(rel * audioFile_->processingFormat().sampleRate);
    const bool withinSpan = frame < double(fileTotalFrames_);
    if (withinSpan) {
        const auto at = uint64_t(frame);
        player_->scheduleSegment(audioFile_, fileStartFrame_ + int64_t(at), fileTotalFrames_ - at);
    }
    if (isLooping_) {
        loopPasses_.start(audioFile_, fileStartFrame_, fileTotalFrames_);
    }
    if (withinSpan && wasPlaying) {
        player_->play();
    }
}

void AudioEngineController::scheduleLoop() {
    if (!isLooping_ || !audioFile_ || fileTotalFrames_ == 0 || loopPasses_.isActive()) {
        return;
    }
    loopPasses_.start(audioFile_, fileStartFrame_, fileTotalFrames_);
}

void AudioEngineController::stop() {
    isLooping_ = false;
    loopPasses_.stop();
    player_->stop();
}

void AudioEngineController::setLevel(float gainDb, bool muted) {
    const bool silent = muted || !(gainDb > kSilentGainDb);
    // Above 0 dB the sound is boosted as asked: the mix is float, and the output clips what
    // goes over full scale.
    const float gain = silent ? 0.0f : std::pow(10.0f, gainDb / 20.0f);
    if (!player_->isPlaying()) {
        player_->setVolume(gain);  // nothing heard yet: a start begins at this level
        return;
    }
    // A change heard on air glides from the gain in force, whatever it is (a fade's too), to the
    // new one in a straight line: no step, and nothing beyond either end.
    player_->rampVolume(gain, kLevelRampSeconds,
                        platform::ClockTime(std::numeric_limits<double>::quiet_NaN()));
}

void AudioEngineController::applyEqualizer(const EqualizerSettings& settings) {
    const std::array<float, 6> gains{settings.hz80,    settings.hz315,  settings.hz800,
                                     settings.khz1_25, settings.khz2_5, settings.khz3_2};
    for (int i = 0; i < int(gains.size()) && i < eq_->bandCount(); ++i) {
        auto band = eq_->band(i);
        band.gain = gains[std::size_t(i)];
        eq_->setBand(i, band);
    }
}

void AudioEngineController::setRate(float rate) {
    timePitch_->setRate(rate);
}

}  // namespace kestio
