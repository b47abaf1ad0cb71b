#include "platform/media/decoded_player_item.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/media/asset.h"
#include "platform/media/decoded_queue_player.h"

namespace kestio::platform::media {

namespace {
constexpr double kEpsilon = 1e-6;
constexpr double kDefaultForwardBuffer = 2.0;
}  // namespace

std::shared_ptr<DecodedPlayerItem> DecodedPlayerItem::make(std::shared_ptr<Asset> asset) {
    return std::make_shared<DecodedPlayerItem>(Token{}, std::move(asset));
}

DecodedPlayerItem::DecodedPlayerItem(Token, std::shared_ptr<Asset> asset)
    : loop_(asset->runLoop()),
      asset_(std::move(asset)),
      duration_(MediaTime::invalid()),
      mediaEnd_(MediaTime::invalid()),
      forwardEnd_(MediaTime::invalid()),
      mediaClock_(std::make_shared<HostClock>()) {}

// The decoder retires on a thread of its own; a snapshot may still hold it for a moment.
DecodedPlayerItem::~DecodedPlayerItem() = default;

const std::filesystem::path& DecodedPlayerItem::url() const {
    return asset_->url();
}

double DecodedPlayerItem::endTime() const {
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

namespace {

double clampedTime(double t, double end) {
    return std::isfinite(t) ? std::clamp(t, 0.0, std::max(0.0, end)) : 0.0;
}

}  // namespace

double DecodedPlayerItem::View::timeAt(double clockTime) const {
    return clampedTime(timeline.at(clockTime), endTime);
}

QImage DecodedPlayerItem::View::pictureAt(double itemTime) const {
    if (decoder) {
        QImage image = decoder->frameAt(itemTime);
        if (!image.isNull()) {
            return image;
        }
    }
    return held;
}

double DecodedPlayerItem::clockNow() const {
    return mediaClock_->timeAt(loop_.now());
}

double DecodedPlayerItem::timeAtClock(double clockTime) const {
    return clampedTime(timeline_.at(clockTime), endTime());
}

double DecodedPlayerItem::currentTime() const {
    return timeAtClock(clockNow());
}

double DecodedPlayerItem::clockTimeOf(double itemTime) const {
    if (timeline_.rate <= 0.0) {
        return MediaTime::indefinite();
    }
    const double t = std::max(itemTime, timeline_.anchorItem);
    return timeline_.anchorClock + (t - timeline_.anchorItem) / timeline_.rate;
}

DecodedPlayerItem::View DecodedPlayerItem::view() const {
    return View{decoder_, timeline_, endTime(), held_, filter_};
}

std::vector<TimeRange> DecodedPlayerItem::loadedTimeRanges() const {
    if (!decoder_) {
        return {};
    }
    const auto buffer = decoder_->buffer();
    double until = buffer.bufferedUntil;
    if (buffer.ended && std::isfinite(endTime())) {
        // Everything to the end is decoded; the last picture holds until the end.
        until = std::isfinite(until) ? std::max(until, endTime()) : endTime();
    }
    const double t = currentTime();
    if (std::isfinite(until) && until > t) {
        return {TimeRange::fromTo(t, until)};
    }
    return {};
}

void DecodedPlayerItem::setPreferredForwardBufferDuration(double seconds) {
    forwardBuffer_ = std::isfinite(seconds) && seconds > 0.0 ? seconds : kDefaultForwardBuffer;
    if (decoder_) {
        decoder_->setForwardBuffer(forwardBuffer_);
    }
}

void DecodedPlayerItem::setForwardPlaybackEndTime(double seconds) {
    const double now = clockNow();
    updateClock(now);
    forwardEnd_ = std::isfinite(seconds) ? std::max(0.0, seconds) : MediaTime::invalid();
    if (decoder_) {
        decoder_->setEndTime(forwardEnd_);
    }
    if (timeAtClock(now) < endTime() - kEpsilon) {
        endReported_ = false;
    }
    notifyOwner(Change::EndMoved);
}

void DecodedPlayerItem::setFrameFilter(std::shared_ptr<const FrameFilter> filter) {
    filter_ = filter && *filter ? std::move(filter) : nullptr;
    notifyOwner(Change::Filter);
}

void DecodedPlayerItem::seek(double time, double toleranceBefore, double toleranceAfter,
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
    keepShownPicture();
    const double now = clockNow();
    seek_ = PendingSeek{++seekCounter_, std::move(completion)};
    const double before = std::isnan(toleranceBefore) ? 0.0 : toleranceBefore;
    seekFloor_ = std::isfinite(before) ? std::max(0.0, target - std::max(0.0, before)) : 0.0;
    timeline_.anchorItem = target;
    timeline_.anchorClock = now;
    timeline_.rate = 0.0;
    updateClock(now);
    if (target < end - kEpsilon) {
        endReported_ = false;
    }
    const SeekRequest request{seek_->id, target,
                              std::isnan(toleranceBefore) ? 0.0 : toleranceBefore,
                              std::isnan(toleranceAfter) ? 0.0 : toleranceAfter};
    if (decoder_) {
        decoder_->seek(request);
    } else {
        queuedSeek_ = request;
    }
    notifyOwner(Change::SeekStarted);
}

void DecodedPlayerItem::cancelPendingSeeks() {
    finishSeek(false);
}

void DecodedPlayerItem::finishSeek(bool finished) {
    if (!seek_) {
        return;
    }
    auto completion = std::move(seek_->completion);
    seek_.reset();
    updateClock();
    if (completion) {
        loop_.post([completion = std::move(completion), finished] { completion(finished); });
    }
}

Subscription DecodedPlayerItem::onDidPlayToEnd(std::function<void()> observer) {
    return endings_.subscribe(
        [observer = std::move(observer)](const std::uint64_t&) { observer(); });
}

std::shared_ptr<PlayerItem> DecodedPlayerItem::replica() const {
    auto copy = make(asset_);
    copy->forwardBuffer_ = forwardBuffer_;
    copy->filter_ = filter_;
    return copy;
}

QImage DecodedPlayerItem::frameAt(double itemTime) const {
    return view().pictureAt(itemTime);
}

void DecodedPlayerItem::keepShownPicture() {
    if (decoder_) {
        QImage image = decoder_->frameAt(currentTime());
        if (!image.isNull()) {
            held_ = std::move(image);
        }
    }
}

// ---- for the player ----

void DecodedPlayerItem::attach(DecodedQueuePlayer* player,
                               std::shared_ptr<const MediaClock> clock) {
    owner_ = player;
    setMediaClock(std::move(clock));
    startLoading();
}

void DecodedPlayerItem::detach() {
    setClockRate(0.0, clockNow());
    owner_ = nullptr;
    finishSeek(false);
}

void DecodedPlayerItem::setMediaClock(std::shared_ptr<const MediaClock> clock) {
    if (!clock || clock == mediaClock_) {
        return;
    }
    // The item's time is kept across the change of clock.
    const double host = loop_.now();
    const double item = timeAtClock(mediaClock_->timeAt(host));
    mediaClock_ = std::move(clock);
    startAt_.reset();
    timeline_.anchorItem = item;
    timeline_.anchorClock = mediaClock_->timeAt(host);
    updateClock();
}

void DecodedPlayerItem::setClockRate(double rate, double clockTime, std::optional<double> startAt) {
    updateClock(clockTime);
    clockRate_ = rate;
    startAt_ = startAt;
    updateClock(clockTime);
}

void DecodedPlayerItem::updateClock(double clockTime) {
    timeline_.anchorItem = timeAtClock(clockTime);
    timeline_.anchorClock = clockTime;
    if (startAt_ && *startAt_ > clockTime) {
        timeline_.anchorClock = *startAt_;
    }
    timeline_.rate = ready_ && !seek_ && clockRate_ > 0.0 ? clockRate_ : 0.0;
    if (decoder_) {
        ItemClock clock{timeline_.anchorItem, timeline_.anchorClock, timeline_.rate};
        if (seek_) {
            // The decoder releases what lies before its clock: while a seek is under way, keep
            // everything from the earliest time it may land on.
            clock.anchorItem = std::min(clock.anchorItem, seekFloor_);
        }
        decoder_->setClock(clock, mediaClock_);
    }
}

bool DecodedPlayerItem::hasDisplayableFrame() const {
    return ready_ && displayable_;
}

void DecodedPlayerItem::playedToEnd() {
    endReported_ = true;
    endings_.set(endings_.get() + 1);
}

void DecodedPlayerItem::startLoading() {
    if (decoder_ || status_.get() == ItemStatus::Failed) {
        return;
    }
    ItemDecoder::Settings settings;
    settings.forwardBufferSeconds = forwardBuffer_;
    settings.endTime = forwardEnd_;
    settings.initialSeek = queuedSeek_;
    queuedSeek_.reset();
    std::weak_ptr<DecodedPlayerItem> weak = weak_from_this();
    RunLoop* loop = &loop_;
    decoder_ = std::make_shared<ItemDecoder>(
        url(), loop_,
        [loop, weak](const DecoderEvent& event) {
            loop->post([weak, event] {
                if (auto self = weak.lock()) {
                    self->handle(event);
                }
            });
        },
        std::move(settings));
    updateClock();
}

void DecodedPlayerItem::handle(const DecoderEvent& event) {
    switch (event.kind) {
        case DecoderEvent::Kind::Opened: {
            if (status_.get() != ItemStatus::Unknown) {
                return;
            }
            hasVideo_ = event.hasVideo;
            duration_ = event.duration;
            presentationSize_ = event.presentationSize;
            ready_ = true;
            std::function<void(bool)> completion;
            if (seek_ && event.seekId == seek_->id) {
                // The first picture is that of the seek asked for before loading.
                completion = std::move(seek_->completion);
                seek_.reset();
                timeline_.anchorItem = clampedTime(event.landing, endTime());
                timeline_.anchorClock = clockNow();
                timeline_.rate = 0.0;
            }
            updateClock();
            refreshBuffer();
            notifyOwner(Change::Ready);
            status_.set(ItemStatus::ReadyToPlay);
            if (completion) {
                completion(true);
            }
            return;
        }
        case DecoderEvent::Kind::Failed: {
            if (status_.get() == ItemStatus::Failed) {
                return;
            }
            error_ = event.error;
            ready_ = false;
            finishSeek(false);
            updateClock();
            decoder_.reset();
            held_ = QImage();
            displayable_ = false;
            notifyOwner(Change::Failed);
            status_.set(ItemStatus::Failed);
            return;
        }
        case DecoderEvent::Kind::SeekLanded: {
            if (!seek_ || seek_->id != event.seekId) {
                return;
            }
            auto completion = std::move(seek_->completion);
            seek_.reset();
            timeline_.anchorItem = clampedTime(event.landing, endTime());
            timeline_.anchorClock = clockNow();
            timeline_.rate = 0.0;
            updateClock();
            if (timeline_.anchorItem < endTime() - kEpsilon) {
                endReported_ = false;
            }
            refreshBuffer();
            notifyOwner(Change::SeekLanded);
            if (completion) {
                completion(true);
            }
            return;
        }
        case DecoderEvent::Kind::Progress:
            if (decoder_) {
                decoder_->progressHandled();
            }
            refreshBuffer();
            return;
    }
}

void DecodedPlayerItem::refreshBuffer() {
    if (!decoder_) {
        return;
    }
    const auto buffer = decoder_->buffer();
    if (std::isfinite(buffer.mediaEnd) && buffer.mediaEnd != mediaEnd_) {
        mediaEnd_ = buffer.mediaEnd;
        if (!std::isfinite(duration_) && ready_) {
            // The file did not say how long it is; now the decoder has seen its end.
            duration_ = mediaEnd_;
            notifyOwner(Change::EndMoved);
        }
    }
    if (buffer.hasFrame) {
        // Keep the picture shown now, so a seek or a stall that empties the queue leaves one.
        keepShownPicture();
    }
    displayable_ = displayable_ || buffer.hasFrame || (ready_ && !hasVideo_);

    bool keepUp = keepUp_.get();
    if (!keepUp && ready_ && (buffer.full || buffer.ended)) {
        keepUp = true;
    } else if (keepUp && !buffer.ended &&
               (!buffer.hasFrame || buffer.bufferedUntil <= currentTime() + kEpsilon)) {
        keepUp = false;
    }
    if (keepUp != keepUp_.get()) {
        keepUp_.set(keepUp);
    }
    // The player republishes what presenters see (the kept picture may have changed).
    notifyOwner(Change::Buffer);
}

void DecodedPlayerItem::notifyOwner(Change change) {
    if (owner_ != nullptr) {
        owner_->itemChanged(*this, change);
    }
}

}  // namespace kestio::platform::media
