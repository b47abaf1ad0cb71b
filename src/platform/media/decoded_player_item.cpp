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
      forwardEnd_(MediaTime::invalid()) {}

DecodedPlayerItem::~DecodedPlayerItem() {
    decoder_.reset();
}

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

double DecodedPlayerItem::timeAt(double host) const {
    const double t = clock_.at(host);
    if (!std::isfinite(t)) {
        return 0.0;
    }
    return std::clamp(t, 0.0, std::max(0.0, endTime()));
}

double DecodedPlayerItem::currentTime() const {
    return timeAt(loop_.now());
}

double DecodedPlayerItem::hostTimeOf(double itemTime) const {
    if (clock_.rate <= 0.0) {
        return MediaTime::indefinite();
    }
    return clock_.anchorHost + (itemTime - clock_.anchorItem) / clock_.rate;
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
    const double host = loop_.now();
    updateClock(host);
    forwardEnd_ = std::isfinite(seconds) ? std::max(0.0, seconds) : MediaTime::invalid();
    if (decoder_) {
        decoder_->setEndTime(forwardEnd_);
    }
    if (timeAt(host) < endTime() - kEpsilon) {
        endReported_ = false;
    }
    notifyOwner(Change::EndMoved);
}

void DecodedPlayerItem::setFrameFilter(std::shared_ptr<const FrameFilter> filter) {
    filter_ = filter && *filter ? std::move(filter) : nullptr;
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
    const double host = loop_.now();
    seek_ = PendingSeek{++seekCounter_, std::move(completion)};
    clock_.anchorItem = target;
    clock_.anchorHost = host;
    updateClock(host);
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
    updateClock(loop_.now());
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
    if (decoder_) {
        QImage image = decoder_->frameAt(itemTime);
        if (!image.isNull()) {
            held_ = image;
            return image;
        }
    }
    return held_;
}

// ---- for the player ----

void DecodedPlayerItem::attach(DecodedQueuePlayer* player) {
    owner_ = player;
    startLoading();
}

void DecodedPlayerItem::detach(double host) {
    setClockRate(0.0, host);
    owner_ = nullptr;
    finishSeek(false);
}

void DecodedPlayerItem::setClockRate(double rate, double host) {
    clockRate_ = rate;
    updateClock(host);
}

void DecodedPlayerItem::updateClock(double host) {
    clock_.anchorItem = timeAt(host);
    clock_.anchorHost = host;
    clock_.rate = ready_ && !seek_ && clockRate_ > 0.0 ? clockRate_ : 0.0;
    if (decoder_) {
        decoder_->setClock(clock_);
    }
}

bool DecodedPlayerItem::hasDisplayableFrame() const {
    return ready_ && displayable_;
}

void DecodedPlayerItem::release(double host) {
    if (decoder_) {
        decoder_->release(timeAt(host));
    }
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
    decoder_ = std::make_unique<ItemDecoder>(
        url(), loop_,
        [loop, weak](const DecoderEvent& event) {
            loop->post([weak, event] {
                if (auto self = weak.lock()) {
                    self->handle(event);
                }
            });
        },
        std::move(settings));
    decoder_->setClock(clock_);
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
                clock_.anchorItem = std::clamp(event.landing, 0.0, std::max(0.0, endTime()));
                clock_.anchorHost = loop_.now();
                clock_.rate = 0.0;
            }
            updateClock(loop_.now());
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
            updateClock(loop_.now());
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
            const double host = loop_.now();
            clock_.anchorItem = std::clamp(event.landing, 0.0, std::max(0.0, endTime()));
            clock_.anchorHost = host;
            clock_.rate = 0.0;
            updateClock(host);
            if (clock_.anchorItem < endTime() - kEpsilon) {
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
    if (buffer.hasFrame && held_.isNull()) {
        // Keep a picture from now on, so a seek that empties the queue leaves one to show.
        held_ = decoder_->frameAt(currentTime());
    }
    const bool displayable = displayable_ || buffer.hasFrame || (ready_ && !hasVideo_);
    const bool displayChanged = displayable != displayable_;
    displayable_ = displayable;

    bool keepUp = keepUp_.get();
    if (!keepUp && ready_ && (buffer.full || buffer.ended)) {
        keepUp = true;
    } else if (keepUp && !buffer.ended &&
               (!buffer.hasFrame || buffer.bufferedUntil <= currentTime() + kEpsilon)) {
        keepUp = false;
    }
    const bool keepUpChanged = keepUp != keepUp_.get();
    if (keepUpChanged) {
        keepUp_.set(keepUp);
    }
    if (displayChanged || keepUpChanged) {
        notifyOwner(Change::Buffer);
    }
}

void DecodedPlayerItem::notifyOwner(Change change) {
    if (owner_ != nullptr) {
        owner_->itemChanged(*this, change);
    }
}

}  // namespace kestio::platform::media
