#include "platform/media/decoded_player_looper.h"

#include <algorithm>
#include <cmath>

namespace kestio::platform::media {

namespace {

constexpr double kEpsilon = 1e-6;

// Two passes, so two decoders: the one playing and the next, decoded ahead from the range
// start while the other plays. The finished pass is repositioned at the seam and queued again.
// The next pass is queued once the first has its first picture: decoded together, the two
// would share the processor while the loop's first picture is awaited on air.
constexpr int kPasses = 2;

}  // namespace

TimeRange loopRangeWithin(TimeRange range, double duration) {
    if (!std::isfinite(duration) || duration <= 0.0) {
        return range;
    }
    const double start = range.start >= duration - kEpsilon ? 0.0 : range.start;
    double end = std::min(range.end(), duration);
    if (end <= start + kEpsilon) {
        end = duration;
    }
    return TimeRange::fromTo(start, end);
}

DecodedPlayerLooper::DecodedPlayerLooper(std::shared_ptr<QueuePlayer> player,
                                         const ItemPtr& templateItem,
                                         std::optional<TimeRange> range)
    : player_(std::move(player)), restoreAction_(player_->actionAtItemEnd()) {
    if (range && std::isfinite(range->start) && std::isfinite(range->end())) {
        const double start = std::max(0.0, range->start);
        range_ = TimeRange::fromTo(start, range->end());
    }
    // An item that stands at the range start already (opened or prerolled there) is the first
    // pass itself: it starts from what it holds instead of a new item being opened. Any other
    // template is only copied, so a picture it shows from elsewhere never reaches a pass.
    const double start = range_ ? range_->start : 0.0;
    const bool templateFirst = std::abs(templateItem->currentTime() - start) < kEpsilon &&
                               templateItem->statusValue() != ItemStatus::Failed;
    for (int i = 0; i < kPasses; ++i) {
        const bool useTemplate = i == 0 && templateFirst;
        ItemPtr replica = useTemplate ? templateItem : templateItem->replica();
        if (useTemplate) {
            applyEnd(replica);
        } else {
            applyRange(replica);
        }
        subscriptions_.push_back(replica->status().subscribe(
            [this, replica = std::weak_ptr<PlayerItem>(replica)](const ItemStatus& status) {
                if (auto item = replica.lock()) {
                    replicaStatusChanged(item, status);
                }
            }));
        subscriptions_.push_back(
            replica->onDidPlayToEnd([this, replica = std::weak_ptr<PlayerItem>(replica)] {
                endedReplica_ = replica.lock();
            }));
        replicas_.push_back(std::move(replica));
    }
    subscriptions_.push_back(
        player_->observeCurrentItem([this](const ItemPtr& oldItem, const ItemPtr& newItem) {
            currentItemChanged(oldItem, newItem);
        }));
    player_->setActionAtItemEnd(ActionAtItemEnd::Advance);
    const bool firstReady = replicas_.front()->statusValue() == ItemStatus::ReadyToPlay;
    if (firstReady) {
        player_->replaceAllItems(replicas_);
    } else {
        player_->replaceAllItems({replicas_.front()});
        nextPassHeld_ = true;
    }
    // A template that is ready already reports no change of its status.
    if (templateFirst && firstReady) {
        replicaStatusChanged(templateItem, ItemStatus::ReadyToPlay);
    }
}

DecodedPlayerLooper::~DecodedPlayerLooper() {
    disableLooping();
}

void DecodedPlayerLooper::applyEnd(const ItemPtr& replica) {
    if (range_ && range_->duration > 0.0) {
        replica->setForwardPlaybackEndTime(range_->end());
    } else {
        replica->setForwardPlaybackEndTime(MediaTime::invalid());
    }
}

void DecodedPlayerLooper::applyRange(const ItemPtr& replica) {
    applyEnd(replica);
    if (range_) {
        replica->seek(range_->start, 0.0, 0.0);
    }
}

void DecodedPlayerLooper::disableLooping() {
    if (!looping_) {
        return;
    }
    looping_ = false;
    endedReplica_.reset();
    const auto current = player_->current();
    for (const auto& queued : player_->items()) {
        if (queued != current &&
            std::find(replicas_.begin(), replicas_.end(), queued) != replicas_.end()) {
            player_->remove(queued);
        }
    }
    player_->setActionAtItemEnd(restoreAction_);
}

void DecodedPlayerLooper::replicaStatusChanged(const ItemPtr& replica, ItemStatus status) {
    if (status == ItemStatus::Failed) {
        if (status_.get() != LooperStatus::Failed) {
            status_.set(LooperStatus::Failed);
        }
        return;
    }
    if (status != ItemStatus::ReadyToPlay) {
        return;
    }
    if (nextPassHeld_ && replica == replicas_.front()) {
        nextPassHeld_ = false;
        if (looping_) {
            player_->insert(replicas_.back(), replica);
        }
    }
    if (!clamped_) {
        clamped_ = true;
        if (range_) {
            const TimeRange clamped = loopRangeWithin(*range_, replica->duration());
            if (!(clamped == *range_)) {
                range_ = clamped;
                for (const auto& item : replicas_) {
                    applyRange(item);
                }
            }
        }
    }
    if (status_.get() == LooperStatus::Unknown) {
        status_.set(LooperStatus::Ready);
    }
}

void DecodedPlayerLooper::currentItemChanged(const ItemPtr& oldItem, const ItemPtr& /*newItem*/) {
    if (!looping_ || !oldItem || oldItem != endedReplica_) {
        return;
    }
    endedReplica_.reset();
    const auto queued = player_->items();
    if (std::find(queued.begin(), queued.end(), oldItem) != queued.end()) {
        return;
    }
    ++loopCount_;
    oldItem->seek(range_ ? range_->start : 0.0, 0.0, 0.0);
    player_->insert(oldItem);
}

}  // namespace kestio::platform::media
