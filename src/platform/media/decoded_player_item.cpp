#include "platform/media/decoded_player_item.h"

#include <algorithm>
#include <cmath>

#include "platform/media/asset.h"

namespace kestio::platform::media {

namespace {

constexpr double kEpsilon = 1e-6;

// What presenters read of a decoded item: the decoder's queue, and the picture kept for while
// it has none.
class DecodedPictures final : public ItemPictures {
  public:
    DecodedPictures(std::shared_ptr<ItemDecoder> decoder, Picture held)
        : decoder_(std::move(decoder)), held_(std::move(held)) {}
    Picture pictureAt(double itemTime, double /*endTime*/) const override {
        if (decoder_) {
            Picture image = decoder_->frameAt(itemTime);
            if (!image.isNull()) {
                return image;
            }
        }
        return held_;
    }

  private:
    std::shared_ptr<ItemDecoder> decoder_;
    Picture held_;
};

}  // namespace

std::shared_ptr<DecodedPlayerItem> DecodedPlayerItem::make(std::shared_ptr<Asset> asset) {
    return std::make_shared<DecodedPlayerItem>(Token{}, std::move(asset));
}

const void* DecodedPlayerItem::decodedFamily() {
    static const char family = 0;
    return &family;
}

DecodedPlayerItem::DecodedPlayerItem(Token, std::shared_ptr<Asset> asset)
    : PlayableItem(asset->runLoop(), decodedFamily()), asset_(std::move(asset)) {}

// The decoder retires on a thread of its own; a snapshot may still hold it for a moment.
DecodedPlayerItem::~DecodedPlayerItem() = default;

const std::filesystem::path& DecodedPlayerItem::url() const {
    return asset_->url();
}

std::shared_ptr<const ItemPictures> DecodedPlayerItem::pictures() const {
    return std::make_shared<const DecodedPictures>(decoder_, held_);
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

void DecodedPlayerItem::forwardBufferChanged() {
    if (decoder_) {
        decoder_->setForwardBuffer(forwardBuffer_);
    }
}

void DecodedPlayerItem::endTimeChanged() {
    if (decoder_) {
        // A nearer end drops the queued pictures past it, the shown one perhaps.
        keepShownPicture();
        decoder_->setEndTime(forwardEnd_);
    }
}

void DecodedPlayerItem::startSeek(std::uint64_t id, double target, double toleranceBefore,
                                  double toleranceAfter) {
    const SeekRequest request{id, target, toleranceBefore, toleranceAfter};
    if (decoder_) {
        decoder_->seek(request);
    } else {
        queuedSeek_ = request;
    }
}

std::shared_ptr<PlayerItem> DecodedPlayerItem::replica() const {
    auto copy = make(asset_);
    copySettingsTo(*copy);
    return copy;
}

void DecodedPlayerItem::seekAsked() {
    // An item no player holds shows nothing while it seeks (a loop's finished pass going back
    // to the start): it keeps no picture for it, and lets go of one kept before.
    if (inPlayer()) {
        keepShownPicture();
    } else {
        held_ = Picture();
    }
}

void DecodedPlayerItem::keepShownPicture() {
    if (decoder_) {
        Picture image = decoder_->frameAt(currentTime());
        if (!image.isNull()) {
            held_ = std::move(image);
        }
    }
}

void DecodedPlayerItem::timelineChanged() {
    if (!decoder_) {
        return;
    }
    const Timeline& now = timeline();
    ItemClock clock = now;
    if (isSeeking()) {
        // The decoder releases what lies before its clock: while a seek is under way, keep
        // everything from the earliest time it may land on.
        clock.anchorItem = std::min(clock.anchorItem, ItemTime(seekFloor()));
    }
    // In this order, so that the decode thread never sees an item that stands until its start
    // as one asked to move now: it would fill its queue meanwhile.
    decoder_->setQueuedBehind(queuedBehindCurrent());
    decoder_->setClock(clock, mediaClock());
    decoder_->setStanding(pausedByPlayer());
}

void DecodedPlayerItem::startLoading() {
    if (decoder_ || status_.get() == ItemStatus::Failed) {
        return;
    }
    ItemDecoder::Settings settings;
    settings.forwardBufferSeconds = forwardBuffer_;
    settings.endTime = forwardEnd_;
    settings.initialSeek = queuedSeek_;
    settings.standing = pausedByPlayer();
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
    timelineChanged();
}

void DecodedPlayerItem::failing() {
    decoder_.reset();
    held_ = Picture();
    displayable_ = false;
}

void DecodedPlayerItem::handle(const DecoderEvent& event) {
    switch (event.kind) {
        case DecoderEvent::Kind::Opened: {
            if (status_.get() != ItemStatus::Unknown) {
                return;
            }
            const bool landsSeek = pendingSeekId() == event.seekId;
            becomeReady(event.hasVideo, event.duration, event.presentationSize,
                        landsSeek ? std::optional<double>(event.landing) : std::nullopt);
            return;
        }
        case DecoderEvent::Kind::Failed:
            fail(event.error);
            return;
        case DecoderEvent::Kind::SeekLanded:
            if (pendingSeekId() == event.seekId) {
                landSeek(event.landing);
            }
            return;
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
        // The decoder shows its own pictures again (its queue keeps the one showing until a
        // newer one is due): the picture kept for a seek goes, so that its memory does too.
        held_ = Picture();
    }
    displayable_ = displayable_ || buffer.hasFrame || (ready_ && !hasVideo_);

    bool keepUp = keepUp_.get();
    if (!keepUp && ready_ && (buffer.enoughToPlay || buffer.ended)) {
        keepUp = true;
    } else if (keepUp && !buffer.ended &&
               (!buffer.hasFrame || buffer.bufferedUntil <= currentTime() + kEpsilon)) {
        keepUp = false;
    }
    setKeepUp(keepUp);
    // The player republishes what presenters see (the kept picture may have changed).
    notifyOwner(Change::Buffer);
}

}  // namespace kestio::platform::media
