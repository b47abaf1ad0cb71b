#include "playback/playback_controller.h"

#include <cmath>
#include <utility>

#include "model/localization_manager.h"
#include "output/audio_engine_controller.h"
#include "output/output_surface.h"
#include "output/playback_slot.h"
#include "output/test_tone.h"
#include "platform/audio/audio_output_device.h"
#include "platform/audio/mixer_node.h"
#include "platform/graphics/layer.h"
#include "platform/graphics/still_decoder.h"
#include "platform/media/queue_player.h"
#include "platform/runloop/serial_worker.h"
#include "playback/play_log.h"
#include "playback/vu_meter.h"

namespace kestio {

namespace {
// The meter's tap: frames per measurement, and the VU timer's period.
constexpr uint32_t kTapFrames = 1024;
constexpr double kVuPeriod = 1.0 / 30.0;
// loadLog takes at most one message in this many seconds.
constexpr double kLoadLogThrottle = 0.1;
// VU ticks without a measurement after which the meters show silence.
constexpr int kTicksBeforeSilence = 3;
}  // namespace

PlaybackController::PlaybackController(PlaybackServices services)
    : loop_(services.loop),
      wallClock_(services.wallClock ? std::move(services.wallClock)
                                    : std::make_shared<platform::SystemWallClock>()),
      localization_(services.localization),
      decodeStill_(std::move(services.decodeStill)),
      runInBackground_(std::move(services.runInBackground)),
      view_(std::move(services.view)),
      toneGen_(std::make_unique<output::TestToneGenerator>()),
      playLog_(std::make_unique<PlayLog>()),
      meter_(std::make_shared<VuMeter>()),
      // The warm-up's separate players come from the factory the output's slots use, unless
      // another one is given.
      media_(services.media != nullptr ? services.media : &view_->media()) {
    if (!decodeStill_) {
        decodeStill_ = [](const std::filesystem::path& file) {
            return platform::decodeStill(file);
        };
    }
    if (!runInBackground_) {
        backgroundWorker_ = std::make_unique<platform::SerialWorker>();
        runInBackground_ = [worker = backgroundWorker_.get()](std::function<void()> job) {
            worker->submit(std::move(job));
        };
    }
    selectedClipName.set(pick("未選択", "No Selection"));
    startMetering();
}

PlaybackController::~PlaybackController() {
    alive_.reset();
    removeObservers();
    vuTimer_.cancel();
    deviceSubscription_.reset();
    view_->sharedEngine().mainMixerNode()->removeTap(0);
    if (toneGen_->isRunning()) {
        toneGen_->stop(view_->sharedEngine());
    }
    // The background worker ends first (declared last); its posted results find no controller.
    backgroundWorker_.reset();
}

bool PlaybackController::isMeterPeak() const {
    return meter_->isPeak();
}

void PlaybackController::setMeterPeak(bool peak) {
    meter_->setPeak(peak);
}

std::string PlaybackController::pick(std::string_view ja, std::string_view en) const {
    if (localization_ != nullptr) {
        return localization_->pick(ja, en);
    }
    return L(ja, en);
}

PlaybackSlot& PlaybackController::showingSlot() {
    return view_->showingSlot();
}

PlaybackSlot& PlaybackController::hiddenSlot() {
    return view_->hiddenSlot();
}

void PlaybackController::postForGeneration(uint64_t generation, std::function<void()> fn) {
    loop_.post([weak = weakSelf(), this, generation, fn = std::move(fn)] {
        if (weak.lock() && generation == playGeneration_) {
            fn();
        }
    });
}

std::optional<SlotData> PlaybackController::slotData(int bank, int slot) const {
    if (!projectProvider || bank < 0 || slot < 0) {
        return std::nullopt;
    }
    const auto project = projectProvider();
    if (!project || std::size_t(bank) >= project->banks.size()) {
        return std::nullopt;
    }
    const auto& slots = project->banks[std::size_t(bank)].slots;
    if (std::size_t(slot) >= slots.size()) {
        return std::nullopt;
    }
    return slots[std::size_t(slot)];
}

std::optional<SlotData> PlaybackController::slotDataOnAir() const {
    if (!currentBankIndex.get() || !currentSlotIndex.get()) {
        return std::nullopt;
    }
    return slotData(*currentBankIndex.get(), *currentSlotIndex.get());
}

bool PlaybackController::isWarming() const {
    return view_->isWarming();
}

void PlaybackController::setWarming(bool warming) {
    view_->setIsWarming(warming);
}

std::optional<SlotRef> PlaybackController::preloadedNextTarget() const {
    const auto& cue = view_->background();
    if (!cue ||
        (cue->state != output::CueState::loading && cue->state != output::CueState::ready)) {
        return std::nullopt;
    }
    return cue->ref;
}

std::optional<std::filesystem::path> PlaybackController::preloadedNextURL() const {
    if (!preloadedNextTarget()) {
        return std::nullopt;
    }
    return view_->background()->url;
}

double PlaybackController::currentInPoint() const {
    const auto data = slotDataOnAir();
    if (!data || !data->inPoint || !std::isfinite(*data->inPoint)) {
        return 0.0;
    }
    return *data->inPoint;
}

void PlaybackController::removeObservers() {
    isLooping_ = false;
    timeObserver_.reset();
    boundaryObserver_.reset();
    outPointObserver_.reset();
    endObserver_.reset();
    statusObserver.reset();
    videoStatusObserver_.reset();
    readyObserver_.reset();
    stillTimer_.cancel();
    stillEndTimer_.cancel();
    audioTimer_.cancel();
    audioEndTimer_.cancel();
    slotAudioPoll_.cancel();
    watchedPlayer_.reset();
}

void PlaybackController::publishIdle() {
    currentBankIndex.set(std::nullopt);
    currentSlotIndex.set(std::nullopt);
    selectedClipName.set(pick("未選択", "No Selection"));
    currentTime.set(0.0);
    duration.set(0.0);
    meter_->reset();
    vuLevels.set(std::vector<float>(kMeterChannels, kSilenceDb));
    vuLevelL.set(kSilenceDb);
    vuLevelR.set(kSilenceDb);
    lastPublishedVUWasSilent_ = true;
}

// ---- A cue that did not go on air ----

void PlaybackController::cueFailed(int bank, int slot, const std::string& reason) {
    // The failed clip leaves the hidden slot; the clip on air was never touched.
    view_->forgetCue();
    hiddenSlot().clear();
    publishOnAir();
    if (onCueFailed) {
        onCueFailed(bank, slot, reason);
    }
}

void PlaybackController::publishOnAir() {
    const auto& onAir = view_->foreground();
    const auto data = onAir ? slotData(onAir->ref.bank, onAir->ref.slot) : std::nullopt;
    if (!onAir || !data) {
        currentURL_.reset();
        publishIdle();
        return;
    }
    currentURL_ = onAir->url;
    currentBankIndex.set(onAir->ref.bank);
    currentSlotIndex.set(onAir->ref.slot);
    selectedClipName.set(data->name);
    // The clip on air is watched again as it runs: its clock, its end and its post-roll.
    PlaybackSlot& showing = showingSlot();
    const double inPoint =
        data->inPoint && std::isfinite(*data->inPoint) ? std::max(*data->inPoint, 0.0) : 0.0;
    const std::optional<double> outPoint =
        data->outPoint && std::isfinite(*data->outPoint) ? data->outPoint : std::nullopt;
    if (showing.isStill()) {
        const platform::HostTime startedAt = stillStartedAt_;
        const double length = stillDuration_;
        startStillTimer(std::max(length - (loop_.now() - startedAt), 0.0));
        stillStartedAt_ = startedAt;
        stillDuration_ = length;
        duration.set(length);
        return;
    }
    const auto item = showing.player()->current();
    if (!item) {
        return;
    }
    currentTime.set(showing.player()->currentTime());
    if (showing.isLooping()) {
        isLooping_ = true;
        loopSlot_ = &showing;
        installLoopObservers(showing, outPoint);
        return;
    }
    if (showing.videoLayer()->isHidden()) {
        isAudioOnlySlot_ = true;
        audioOnlySlot_ = &showing;
        startAudioTimer(showing.player()->currentTime(), audioEnd_);
        return;
    }
    duration.set(item->duration());
    installTimeObservers(showing, outPoint, inPoint, data->clipInfo ? data->clipInfo->fps : 30.0);
    observeItemEnd(item);
}

// ---- Play log ----

void PlaybackController::log(std::string_view message) {
    const std::string line =
        "[" + platform::formatTimeOfDay(wallClock_->now()) + "] " + std::string(message);
    const platform::HostTime now = loop_.now();
    if (!lastLogUpdate_ || now - *lastLogUpdate_ >= kLoadLogThrottle - 1e-9) {
        lastLogUpdate_ = now;
        loop_.post([weak = weakSelf(), this, text = std::string(message)]() mutable {
            if (weak.lock()) {
                appendLoadLog(std::move(text));
            }
        });
    }
    playLog_->write(line);
}

void PlaybackController::appendLoadLog(std::string message) {
    auto lines = loadLog.get();
    lines.push_back(std::move(message));
    if (lines.size() > kLoadLogLimit) {
        lines.erase(lines.begin(), lines.end() - std::ptrdiff_t(kLoadLogLimit));
    }
    loadLog.set(std::move(lines));
}

void PlaybackController::reopenLogFile() {
    playLog_->reopen(logFileURL);
}

// ---- Metering and the output device ----

void PlaybackController::startMetering() {
    refreshOutputDevice();
    auto& engine = view_->sharedEngine();
    deviceSubscription_ = engine.device().defaultOutput.subscribe(
        [this](const platform::audio::OutputDeviceInfo&) { refreshOutputDevice(); });
    // The tap holds the meter and a weak hold of the controller, never the controller itself,
    // so a block still running while the controller goes touches nothing of it; the loop
    // outlives the controller.
    auto meter = meter_;
    auto wake = [&loop = loop_, weak = weakSelf(), this] {
        loop.post([weak, this] {
            if (weak.lock() && !vuTimer_.active()) {
                wakeMetering();
                vuTick();  // the sound that woke the meter is shown at once
            }
        });
    };
    if (auto failure = engine.mainMixerNode()->installTap(
            0, kTapFrames, std::nullopt, [meter, wake](const platform::audio::PcmBuffer& buffer) {
                if (meter->measure(buffer)) {
                    wake();
                }
            })) {
        log("VU: tap not installed: " + *failure);
    }
    wakeMetering();
}

void PlaybackController::wakeMetering() {
    if (vuTimer_.active()) {
        return;
    }
    ticksWithoutReading_ = 0;
    vuTimer_ = loop_.every(kVuPeriod, [weak = weakSelf(), this] {
        if (weak.lock()) {
            vuTick();
        }
    });
}

void PlaybackController::sleepMetering() {
    vuTimer_.cancel();
    if (!meter_->sleep()) {
        wakeMetering();  // a measurement came in meanwhile
    }
}

void PlaybackController::vuTick() {
    auto taken = meter_->take();
    if (taken) {
        ticksWithoutReading_ = 0;
    } else if (++ticksWithoutReading_ < kTicksBeforeSilence) {
        // Blocks come unevenly: a tick without one keeps what is shown.
        return;
    } else if (lastPublishedVUWasSilent_) {
        // Nothing is measured and silence is shown: nothing to do until the tap measures.
        sleepMetering();
        return;
    } else {
        // No sound is being rendered: the meters fall to silence.
        taken = VuReading();
        taken->channelCount = vuChannelCount.get();
    }
    const VuReading reading = *taken;
    const bool silent = reading.isSilent();
    if (silent && lastPublishedVUWasSilent_) {
        return;
    }
    lastPublishedVUWasSilent_ = silent;
    pendingReading_ = reading;
    publishVU();
}

void PlaybackController::publishVU() {
    const VuReading& reading = pendingReading_;
    vuLevels.set(std::vector<float>(reading.levels.begin(), reading.levels.end()));
    vuLevelL.set(reading.levels[0]);
    vuLevelR.set(reading.levels[1]);
    vuChannelCount.set(reading.channelCount);
}

void PlaybackController::refreshOutputDevice() {
    const auto info = view_->sharedEngine().device().defaultOutput.get();
    if (!info.present) {
        outputDeviceName.set("\u2014");
    } else if (info.channelCount < 1) {
        outputDeviceName.set(info.name);
    } else {
        outputDeviceName.set(info.name + " (" + std::to_string(info.channelCount) + "ch)");
    }
}

void PlaybackController::configureAudioEngine(const SlotData& data) {
    if (!data.clipInfo || data.clipInfo->channels <= 0) {
        return;
    }
    const auto channels = data.clipInfo->channels;
    const uint32_t count = channels >= 8 ? 8 : channels < 3 ? 2 : uint32_t(channels);
    const double rate = std::isfinite(data.clipInfo->sampleRate) && data.clipInfo->sampleRate > 0
                            ? data.clipInfo->sampleRate
                            : 48000.0;
    view_->reconfigureAudioEngine(count, rate);
}

}  // namespace kestio
