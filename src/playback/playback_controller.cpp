#include "playback/playback_controller.h"

#include <algorithm>
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
#include "platform/runloop/job_threads.h"
#include "playback/clip_clock.h"
#include "playback/loop_runner.h"
#include "playback/next_cue_preload.h"
#include "playback/play_log.h"
#include "playback/program_meter.h"
#include "playback/slot_sound.h"
#include "playback/transport.h"
#include "playback/video_start.h"
#include "playback/warm_up.h"

namespace kestio {

namespace {
// loadLog takes at most one message in this many seconds.
constexpr double kLoadLogThrottle = 0.1;
// Still decodes at once: the one wanted beside up to two let go that cannot stop at once
// (libheif's), each taking at most one decode's memory.
constexpr int kStillDecodeThreads = 3;
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
      playLog_(std::make_unique<PlayLog>()) {
    PlayEvents& events = *this;
    meter_ = std::make_unique<ProgramMeter>(
        loop_, view_->sharedEngine(),
        ProgramMeter::Values{vuLevelL, vuLevelR, vuLevels, vuChannelCount, outputDeviceName},
        events);
    sound_ = std::make_unique<SlotSound>(loop_, *view_, isMuted);
    // The warm-up's separate players come from the factory the output's slots use, unless
    // another one is given.
    warmUp_ = std::make_unique<WarmUp>(loop_, *view_, events,
                                       services.media != nullptr ? services.media : &view_->media(),
                                       onWarmReady);
    preload_ = std::make_unique<NextCuePreload>(loop_, *view_, events, isMuted);
    clock_ = std::make_unique<ClipClock>(loop_, *view_, now_, postRoll_, events);
    video_ = std::make_unique<VideoStart>(
        loop_, *view_, events, VideoStart::Parts{*clock_, *preload_, *warmUp_, *sound_, postRoll_});
    loops_ = std::make_unique<LoopRunner>(loop_, *view_, now_, events,
                                          LoopRunner::Parts{*video_, *warmUp_, *sound_, postRoll_});
    transport_ = std::make_unique<Transport>(
        loop_, *view_, now_, events,
        Transport::Parts{*clock_, *meter_, *toneGen_, postRoll_, *sound_});
    if (!decodeStill_) {
        decodeStill_ = [](const std::filesystem::path& file, QSize shownAt,
                          const std::function<bool()>& stop) {
            return platform::decodeStillToShow(file, shownAt, stop);
        };
    }
    if (!runInBackground_) {
        backgroundWorker_ = std::make_unique<platform::JobThreads>(kStillDecodeThreads);
        runInBackground_ = [worker = backgroundWorker_.get()](std::function<void()> job) {
            worker->submit(std::move(job));
        };
    }
    selectedClipName.set(pick("未選択", "No Selection"));
    LocalizationManager& language =
        localization_ != nullptr ? *localization_ : LocalizationManager::shared();
    languageSubscription_ = language.language.subscribe([this](AppLanguage) {
        if (!view_->onAirOrOnItsWay()) {
            selectedClipName.set(pick("未選択", "No Selection"));
        }
    });
    onAirSubscription_ = view_->watchOnAirOrOnItsWay([this](const std::optional<SlotRef>& ref) {
        currentBankIndex.set(ref ? std::optional(ref->bank) : std::nullopt);
        currentSlotIndex.set(ref ? std::optional(ref->slot) : std::nullopt);
    });
    meter_->start();
}

PlaybackController::~PlaybackController() {
    // The published slot follows the surface no more.
    onAirSubscription_.reset();
    // Every deferred step of the play in force does nothing from here on.
    play_->ended = true;
    play_.reset();
    alive_.reset();
    letStillDecodeGo();
    removeObservers();
    meter_.reset();
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

std::optional<SlotData> PlaybackController::slotData(int bank, int slot) const {
    return postRoll_.slotData(bank, slot);
}

std::optional<SlotRef> PlaybackController::slotOnAir() const {
    if (const auto& onAir = view_->foreground()) {
        return onAir->ref;
    }
    return std::nullopt;
}

std::optional<SlotData> PlaybackController::slotDataOnAir() const {
    const auto onAir = slotOnAir();
    return onAir ? slotData(onAir->bank, onAir->slot) : std::nullopt;
}

bool PlaybackController::isWarming() const {
    return view_->isWarming();
}

void PlaybackController::setWarming(bool warming) {
    view_->setIsWarming(warming);
}

std::optional<output::Cue> PlaybackController::preloadedCue() const {
    const auto& cue = view_->background();
    if (!cue ||
        (cue->state != output::CueState::loading && cue->state != output::CueState::ready)) {
        return std::nullopt;
    }
    return cue;
}

PlaybackController::OnAirClip PlaybackController::onAirClip() const {
    OnAirClip clip;
    // What is on air is the output surface's record alone.
    if (const auto& onAir = view_->foreground()) {
        clip.url = onAir->url;
    }
    clip.audioOnly = play_->audioOnly;
    clip.inPoint = currentInPoint();
    clip.postRollFired = play_->postRollFired;
    return clip;
}

double PlaybackController::currentInPoint() const {
    const auto data = slotDataOnAir();
    if (!data || !data->inPoint || !std::isfinite(*data->inPoint)) {
        return 0.0;
    }
    return *data->inPoint;
}

void PlaybackController::preloadNext(int bank, int slot, const std::filesystem::path& url,
                                     const SlotData& data) {
    preload_->start(*play_, bank, slot, url, data);
}

PostRollMode PlaybackController::postRollModeOnAir() const {
    const auto onAir = slotOnAir();
    return onAir ? postRoll_.atEnd(*onAir) : PostRollMode::freeze;
}

// ---- Transport: the steps on the slot on air ----

void PlaybackController::pause() {
    transport_->pause();
}
void PlaybackController::resume() {
    transport_->resume();
}
void PlaybackController::toggleMute(const std::optional<AudioSettings>& settings) {
    transport_->toggleMute(settings);
}
void PlaybackController::seek(double seconds) {
    transport_->seek(seconds);
}
void PlaybackController::skip(int frames, double frameRate) {
    transport_->skip(frames, frameRate);
}
void PlaybackController::setPlaybackRate(double rate) {
    transport_->setPlaybackRate(rate);
}
void PlaybackController::applySlotVolume(bool muted, float gainDB) {
    transport_->applySlotVolume(muted, gainDB);
}
void PlaybackController::applyOutPoint(std::optional<double> outPoint) {
    PlaybackSlot& showing = showingSlot();
    if (showing.isStill() || showing.isLooping()) {
        return;
    }
    // An out point at or before the in point is no end, as when the clip was started.
    const auto data = slotDataOnAir();
    const double inPoint = data && data->inPoint && std::isfinite(*data->inPoint)
                               ? std::max(*data->inPoint, 0.0)
                               : 0.0;
    const auto end = PlaybackSlot::endAfter(inPoint, outPoint);
    showing.setEndTime(end);
    // Its clock watches the new out point, not the one it started with. Sound alone has a clock
    // of its own, which runs to the out point or to the clip's end, whichever comes first.
    if (play_->audioOnly) {
        const double length = data && data->clipInfo && std::isfinite(data->clipInfo->duration)
                                  ? data->clipInfo->duration
                                  : 0.0;
        clock_->moveAudioEnd(std::min(end.value_or(length), length));
        return;
    }
    clock_->moveOutPoint(end);
}
double PlaybackController::shownTime() {
    PlaybackSlot& showing = showingSlot();
    const auto item = showing.player()->current();
    if (!view_->onAirOrOnItsWay() || showing.isStill() || !item) {
        return currentTime.get();
    }
    const double shown = item->currentTime();
    return std::isfinite(shown) ? shown : currentTime.get();
}
void PlaybackController::updateGeometry(const GeometrySettings& geometry) {
    transport_->updateGeometry(geometry);
}
void PlaybackController::applyColorSettings(const ColorSettings& color) {
    transport_->applyColorSettings(color);
}
void PlaybackController::stopTestTone() {
    transport_->stopTestTone();
}
void PlaybackController::standby(int bank, int slot, const std::filesystem::path& url,
                                 const SlotData& data, platform::SizeF monitorSize) {
    // The standby cue is the play in force from here on: what was on air or on its way there
    // stops deciding anything.
    beginPlay(SlotRef{bank, slot}, url);
    const auto cued = transport_->standby(data, monitorSize);
    if (!cued) {
        return;
    }
    const double inPoint = data.inPoint.value_or(0.0);
    std::weak_ptr<platform::media::PlayerItem> weakItem = cued->item;
    transport_->watchStandby(*cued, [this, target = &cued->slot, weakItem, url, inPoint] {
        if (auto item = weakItem.lock()) {
            handleStatusChange(item, *target, item, url, inPoint);
        }
    });
}

void PlaybackController::handleStatusChange(const ItemPtr& item, PlaybackSlot& slot,
                                            const ItemPtr& loadedItem,
                                            const std::filesystem::path& url, double inPoint) {
    if (!Transport::isStandbyReady(item, slot, loadedItem)) {
        return;
    }
    // An item loaded by the show itself (not by standby()) is a play of its own, and the
    // surface records it as the cue the take puts on air.
    Play* play = play_.get();
    if (play->url != url) {
        play = &beginPlay(play->ref, url);
    }
    if (!view_->holdsCue(play->ref, url) && &slot == &hiddenSlot()) {
        view_->cue(output::hiddenPlayingCue(play->ref, url, {}, inPoint));
    }
    transport_->takeStandby(slot, inPoint);
}

bool PlaybackController::isLooping() const {
    return loops_->isRunning();
}

void PlaybackController::releaseLoop(PostRollMode postRoll) {
    loops_->release(postRoll);
}

void PlaybackController::waitForWarmReady(double timeout, std::function<void(bool ready)> done) {
    warmUp_->waitForReady(timeout, std::move(done));
}

void PlaybackController::removeObservers() {
    // Every part that acts for a play ends what it has under way, always in this order.
    loops_->stop();
    clock_->stop();
    transport_->stop();
    video_->stop();
    preload_->stop();
    sound_->stop();
}

Play& PlaybackController::beginPlay(SlotRef ref, std::filesystem::path url) {
    removeObservers();
    letStillDecodeGo();
    play_->ended = true;
    play_ = std::make_shared<Play>();
    play_->ref = ref;
    play_->url = std::move(url);
    // The transport acts for the play in force; the other parts are started by the steps of the
    // play that need them.
    transport_->start(*play_);
    return *play_;
}

void PlaybackController::publishIdle() {
    selectedClipName.set(pick("未選択", "No Selection"));
    currentTime.set(0.0);
    duration.set(0.0);
    meter_->silence();
}

// ---- What the parts report ----

void PlaybackController::postRollDueOnAir() {
    handlePostRoll(postRollModeOnAir());
}

void PlaybackController::followerWanted(int bank, int slot) {
    if (onRequestPreloadNext) {
        onRequestPreloadNext(bank, slot);
    }
}

void PlaybackController::cueFailed(int bank, int slot, const std::string& reason) {
    // The failed clip leaves the hidden slot; the clip on air was never touched.
    view_->forgetCue();
    hiddenSlot().clear();
    publishOnAir();
    if (onCueFailed) {
        onCueFailed(bank, slot, reason);
    }
}

void PlaybackController::starting(Play& play, const std::string& name, double time, double length) {
    play.postRollFired = false;
    selectedClipName.set(name);
    currentTime.set(time);
    duration.set(length);
}

void PlaybackController::publishOnAir() {
    const auto& onAir = view_->foreground();
    const auto data = onAir ? slotData(onAir->ref.bank, onAir->ref.slot) : std::nullopt;
    // What is on air is watched again as a play of its own; the failed play's steps end.
    Play& play = beginPlay(onAir ? onAir->ref : SlotRef{}, onAir ? onAir->url : "");
    if (!onAir || !data) {
        publishIdle();
        return;
    }
    selectedClipName.set(data->name);
    // The clip on air is watched again as it runs: its clock, its end and its post-roll.
    PlaybackSlot& showing = showingSlot();
    const double inPoint =
        data->inPoint && std::isfinite(*data->inPoint) ? std::max(*data->inPoint, 0.0) : 0.0;
    const std::optional<double> outPoint =
        data->outPoint && std::isfinite(*data->outPoint) ? data->outPoint : std::nullopt;
    if (showing.isStill()) {
        // The still clock goes on as it was, its start and length kept.
        const ClipClock::StillWatch still = clock_->still();
        clock_->start(play, still);
        duration.set(still.seconds);
        return;
    }
    const auto item = showing.player()->current();
    if (!item) {
        return;
    }
    currentTime.set(showing.player()->currentTime());
    if (showing.isLooping()) {
        loops_->start(play, LoopRunner::RunningLoop{showing, outPoint});
        return;
    }
    if (showing.videoLayer()->isHidden()) {
        play.audioOnly = true;
        clock_->start(play, ClipClock::AudioWatch{showing, showing.player()->currentTime(),
                                                  clock_->audioEnd()});
        return;
    }
    duration.set(item->duration());
    clock_->start(play, ClipClock::VideoWatch{showing, item, outPoint, inPoint,
                                              data->clipInfo ? data->clipInfo->fps : 30.0});
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

}  // namespace kestio
