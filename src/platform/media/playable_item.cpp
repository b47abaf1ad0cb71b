#include "platform/media/playable_item.h"

#include <cmath>
#include <limits>

#include "platform/media/decoded_queue_player.h"

namespace kestio::platform::media {

namespace {

constexpr double kEpsilon = 1e-6;
constexpr double kDefaultForwardBuffer = 2.0;

double clampedTime(double t, double end) {
    return std::isfinite(t) ? std::clamp(t, 0.0, std::max(0.0, end)) : 0.0;
}

}  // namespace

double PlayableItem::View::timeAt(ClockTime clockTime) const {
    return clampedTime(timeline.at(clockTime).seconds(), endTime);
}

Picture PlayableItem::View::pictureAt(double itemTime) const {
    return pictures ? pictures->pictureAt(itemTime, endTime) : Picture();
}

PlayableItem::PlayableItem(RunLoop& loop, const void* family)
    : loop_(loop),
      duration_(MediaTime::invalid()),
      mediaEnd_(MediaTime::invalid()),
      forwardEnd_(MediaTime::invalid()),
      family_(family),
      mediaClock_(std::make_shared<HostTimeMediaClock>()) {}

PlayableItem::~PlayableItem() = default;

// ---- time ----

ClockTime PlayableItem::clockNow() const {
    return mediaClock_->timeAt(loop_.now());
}

double PlayableItem::endTime() const {
    double end = MediaTime::indefinite();
    if (std::isfinite(duration_)) {
        end = duration_;
    } else if (std::isfinite(mediaEnd_)) {
        end = mediaEnd_;
    }
    if (std::isfinite(forwardEnd_)) {
        end = std::min(end, std::max(0.0, forwardEnd_));
    }
    return end;
}

double PlayableItem::timeAtClock(ClockTime clockTime) const {
    return clampedTime(timeline_.at(clockTime).seconds(), endTime());
}

double PlayableItem::currentTime() const {
    return timeAtClock(clockNow());
}

ClockTime PlayableItem::clockTimeOf(double itemTime) const {
    return timeline_.clockOf(ItemTime(itemTime));
}

void PlayableItem::updateClock(ClockTime clockTime) {
    const double item = timeAtClock(clockTime);
    while (rateChange_ && clockTime >= rateChange_->clockTime) {
        clockRate_ = rateChange_->rate;
        rateChange_ = laterChange_;
        laterChange_.reset();
    }
    const bool runs = ready_ && !seek_;
    if (clockRate_ <= 0.0 && rateChange_ && laterChange_) {
        // Standing until its start, then running at one rate and from a later time at another:
        // the timeline stands until its anchor, which is the start.
        timeline_.anchorItem = ItemTime(item);
        timeline_.anchorClock = rateChange_->clockTime;
        timeline_.rate = runs && rateChange_->rate > 0.0 ? rateChange_->rate : 0.0;
        timeline_.changeClock = laterChange_->clockTime;
        timeline_.changeRate = runs && laterChange_->rate > 0.0 ? laterChange_->rate : 0.0;
        timelineChanged();
        return;
    }
    timeline_.anchorItem = ItemTime(item);
    timeline_.anchorClock = clockTime;
    timeline_.rate = runs && clockRate_ > 0.0 ? clockRate_ : 0.0;
    timeline_.changeClock = rateChange_ ? rateChange_->clockTime : ClockTime::infinity();
    timeline_.changeRate = runs && rateChange_ && rateChange_->rate > 0.0 ? rateChange_->rate : 0.0;
    timelineChanged();
}

PlayableItem::View PlayableItem::view() const {
    return View{pictures(), timeline_, endTime(), filter_};
}

// ---- settings ----

void PlayableItem::setPreferredForwardBufferDuration(double seconds) {
    forwardBuffer_ = std::isfinite(seconds) && seconds > 0.0 ? seconds : kDefaultForwardBuffer;
    forwardBufferChanged();
}

void PlayableItem::setForwardPlaybackEndTime(double seconds) {
    const ClockTime now = clockNow();
    updateClock(now);
    forwardEnd_ = std::isfinite(seconds) ? std::max(0.0, seconds) : MediaTime::invalid();
    endTimeChanged();
    if (timeAtClock(now) < endTime() - kEpsilon) {
        endReported_ = false;
    }
    notifyOwner(Change::EndMoved);
}

void PlayableItem::setFrameFilter(std::shared_ptr<const FrameFilter> filter) {
    filter_ = filter && *filter ? std::move(filter) : nullptr;
    notifyOwner(Change::Filter);
}

void PlayableItem::copySettingsTo(PlayableItem& copy) const {
    copy.forwardBuffer_ = forwardBuffer_;
    copy.filter_ = filter_;
}

Subscription PlayableItem::onDidPlayToEnd(std::function<void()> observer) {
    return endings_.subscribe(
        [observer = std::move(observer)](const std::uint64_t&) { observer(); });
}

void PlayableItem::playedToEnd() {
    endReported_ = true;
    endings_.set(endings_.get() + 1);
}

// ---- seeks ----

void PlayableItem::seek(double time, double toleranceBefore, double toleranceAfter,
                        std::function<void(bool)> completion) {
    if (status_.get() == ItemStatus::Failed) {
        if (completion) {
            loop_.post([completion = std::move(completion)] { completion(false); });
        }
        return;
    }
    finishSeek(false);
    double target = std::isfinite(time) ? std::max(0.0, time) : 0.0;
    const double end = endTime();
    if (std::isfinite(end)) {
        target = std::min(target, end);
    }
    seekAsked();
    const ClockTime now = clockNow();
    seek_ = PendingSeek{++seekCounter_, target, std::move(completion)};
    const double before = std::isnan(toleranceBefore) ? 0.0 : toleranceBefore;
    const double after = std::isnan(toleranceAfter) ? 0.0 : toleranceAfter;
    seekFloor_ = std::isfinite(before) ? std::max(0.0, target - std::max(0.0, before)) : 0.0;
    timeline_ = Timeline{ItemTime(target), now, 0.0};
    updateClock(now);
    if (target < end - kEpsilon) {
        endReported_ = false;
    }
    startSeek(seek_->id, target, before, after);
    notifyOwner(Change::SeekStarted);
}

void PlayableItem::cancelPendingSeeks() {
    finishSeek(false);
}

void PlayableItem::finishSeek(bool finished) {
    if (!seek_) {
        return;
    }
    auto completion = std::move(seek_->completion);
    seek_.reset();
    updateClock();
    seekFinished();
    if (completion) {
        loop_.post([completion = std::move(completion), finished] { completion(finished); });
    }
}

std::optional<std::uint64_t> PlayableItem::pendingSeekId() const {
    return seek_ ? std::optional<std::uint64_t>(seek_->id) : std::nullopt;
}

std::optional<double> PlayableItem::pendingSeekTarget() const {
    return seek_ ? std::optional<double>(seek_->target) : std::nullopt;
}

// ---- what the source reports ----

void PlayableItem::becomeReady(bool hasVideo, double duration, QSize presentationSize,
                               std::optional<double> seekLanding) {
    hasVideo_ = hasVideo;
    duration_ = duration;
    presentationSize_ = presentationSize;
    ready_ = true;
    std::function<void(bool)> completion;
    if (seek_ && seekLanding) {
        // The first picture is that of the seek asked for before loading.
        completion = std::move(seek_->completion);
        seek_.reset();
        timeline_ = Timeline{ItemTime(clampedTime(*seekLanding, endTime())), clockNow(), 0.0};
    }
    updateClock();
    settled();
    notifyOwner(Change::Ready);
    status_.set(ItemStatus::ReadyToPlay);
    if (completion) {
        completion(true);
    }
}

void PlayableItem::landSeek(double landing) {
    if (!seek_) {
        return;
    }
    auto completion = std::move(seek_->completion);
    seek_.reset();
    timeline_ = Timeline{ItemTime(clampedTime(landing, endTime())), clockNow(), 0.0};
    updateClock();
    if (timeline_.anchorItem.seconds() < endTime() - kEpsilon) {
        endReported_ = false;
    }
    settled();
    notifyOwner(Change::SeekLanded);
    if (completion) {
        completion(true);
    }
}

void PlayableItem::fail(const std::string& error) {
    if (status_.get() == ItemStatus::Failed) {
        return;
    }
    error_ = error.empty() ? std::string("unknown error") : error;
    ready_ = false;
    finishSeek(false);
    updateClock();
    failing();
    notifyOwner(Change::Failed);
    status_.set(ItemStatus::Failed);
}

void PlayableItem::setKeepUp(bool keepUp) {
    if (keepUp != keepUp_.get()) {
        keepUp_.set(keepUp);
    }
}

void PlayableItem::notifyOwner(Change change) {
    if (owner_ != nullptr) {
        owner_->itemChanged(*this, change);
    }
}

// ---- for the player ----

bool PlayableItem::queuedBehindCurrent() const {
    return owner_ != nullptr && owner_->current().get() != this;
}

void PlayableItem::attach(DecodedQueuePlayer* player, std::shared_ptr<const MediaClock> clock) {
    owner_ = player;
    setMediaClock(std::move(clock));
    startLoading();
}

void PlayableItem::detach() {
    setClockRate(0.0, clockNow());
    owner_ = nullptr;
    finishSeek(false);
}

void PlayableItem::setMediaClock(std::shared_ptr<const MediaClock> clock) {
    if (!clock || clock == mediaClock_) {
        return;
    }
    // The item's time is kept across the change of clock.
    const HostTime host = loop_.now();
    const double item = timeAtClock(mediaClock_->timeAt(host));
    mediaClock_ = std::move(clock);
    timeline_.anchorItem = ItemTime(item);
    timeline_.anchorClock = mediaClock_->timeAt(host);
    updateClock();
}

void PlayableItem::setClockRate(double rate, ClockTime clockTime,
                                std::optional<ClockTime> changeAt) {
    updateClock(clockTime);
    laterChange_.reset();
    if (changeAt && *changeAt > clockTime) {
        rateChange_ = RateChange{*changeAt, rate};
    } else {
        clockRate_ = rate;
        rateChange_.reset();
    }
    updateClock(clockTime);
}

void PlayableItem::startAtClock(ClockTime clockTime, double rate, ClockTime changeAt,
                                double changeRate) {
    // Anchored no later than the start, so that a start the run loop reaches late still counts
    // from its own clock time.
    const ClockTime from = std::min(clockNow(), clockTime);
    updateClock(from);
    clockRate_ = 0.0;
    rateChange_ = RateChange{clockTime, rate};
    laterChange_.reset();
    if (changeAt > clockTime && changeAt.isFinite()) {
        laterChange_ = RateChange{changeAt, changeRate};
    }
    updateClock(from);
}

}  // namespace kestio::platform::media
