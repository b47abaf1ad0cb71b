#include "platform/media/decoded_queue_player.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kestio::platform::media {

namespace {
// Below this a timer counts as on time (clock readings round).
constexpr double kClockSlack = 1e-9;
// Filtered pictures kept: what the views on screen compose now. Views of one player compose
// for refreshes a little apart, so across a change of picture some still show the one before
// while others already show the next; no view asks for a third.
constexpr std::size_t kFilteredKept = 2;
}  // namespace

bool DecodedQueuePlayer::CurrentTimeline::playing() const {
    auto item = player_.front();
    return item && item->moves();
}

double DecodedQueuePlayer::CurrentTimeline::endTime() const {
    auto item = player_.front();
    return item ? item->endTime() : std::numeric_limits<double>::infinity();
}

ClockTime DecodedQueuePlayer::CurrentTimeline::clockTimeOf(double itemTime) const {
    auto item = player_.front();
    return item ? item->clockTimeOf(itemTime) : ClockTime::infinity();
}

std::shared_ptr<DecodedQueuePlayer> DecodedQueuePlayer::make(RunLoop& loop) {
    return std::make_shared<DecodedQueuePlayer>(Token{}, loop);
}

DecodedQueuePlayer::DecodedQueuePlayer(Token, RunLoop& loop)
    : DecodedQueuePlayer(loop, DecodedPlayerItem::decodedFamily()) {}

DecodedQueuePlayer::DecodedQueuePlayer(RunLoop& loop, const void* family)
    : loop_(loop),
      family_(family),
      clock_(std::make_shared<HostTimeMediaClock>()),
      clockEnd_(ClockTime::infinity()),
      observers_(loop_, timeline_, clock_) {}

DecodedQueuePlayer::~DecodedQueuePlayer() {
    endTimer_.cancel();
    observers_.stop();
    detachAll();
}

void DecodedQueuePlayer::detachAll() {
    auto items = std::move(items_);
    items_.clear();
    for (auto& item : items) {
        item->detach();
    }
}

bool DecodedQueuePlayer::accepts(const ItemPtr& anyItem) const {
    const auto* item = dynamic_cast<const PlayableItem*>(anyItem.get());
    return item != nullptr && item->family() == family_ && !item->hasOwner();
}

bool DecodedQueuePlayer::insert(ItemPtr anyItem, const ItemPtr& after) {
    if (!accepts(anyItem)) {
        return false;
    }
    auto item = std::static_pointer_cast<PlayableItem>(anyItem);
    auto position = items_.end();
    if (after) {
        auto found = std::find(items_.begin(), items_.end(), after);
        if (found != items_.end()) {
            position = std::next(found);
        }
    }
    const bool wasEmpty = items_.empty();
    items_.insert(position, item);
    item->attach(this, clock_);
    if (wasEmpty) {
        currentChanged(nullptr, clock_->timeAt(loop_.now()), false);
    } else {
        // The item may now be the next one, shown across the end of the current one.
        armNext();
        publish();
    }
    return true;
}

void DecodedQueuePlayer::remove(const ItemPtr& item) {
    auto found = std::find(items_.begin(), items_.end(), item);
    if (found == items_.end()) {
        return;
    }
    const bool wasCurrent = found == items_.begin();
    PlayableItemPtr removed = *found;
    items_.erase(found);
    removed->detach();
    if (wasCurrent) {
        currentChanged(removed, clock_->timeAt(loop_.now()), false);
    } else {
        armNext();
        publish();
    }
}

void DecodedQueuePlayer::removeAllItems() {
    if (items_.empty()) {
        return;
    }
    PlayableItemPtr old = items_.front();
    detachAll();
    currentChanged(old, clock_->timeAt(loop_.now()), false);
}

void DecodedQueuePlayer::replaceAllItems(std::vector<ItemPtr> items) {
    PlayableItemPtr old = front();
    const ClockTime now = clock_->timeAt(loop_.now());
    // The picture on now (a loop set up again at a seek, a clip taken again) stays on until the
    // new current item has its own: a replacement never shows a gap.
    Picture shown = carryOver_;
    auto shownFilter = carryOverFilter_;
    if (old) {
        const PlayableItem::View view = old->view();
        if (Picture picture = view.pictureAt(view.timeAt(now)); !picture.isNull()) {
            shown = std::move(picture);
            shownFilter = view.filter;
        }
    }
    detachAll();
    for (auto& anyItem : items) {
        if (accepts(anyItem)) {
            auto item = std::static_pointer_cast<PlayableItem>(anyItem);
            items_.push_back(item);
            item->attach(this, clock_);
        }
    }
    const bool keep = !items_.empty() && !shown.isNull();
    if (keep) {
        carryOver_ = std::move(shown);
        carryOverFilter_ = std::move(shownFilter);
    }
    currentChanged(old, now, keep);
}

void DecodedQueuePlayer::advanceToNextItem() {
    if (items_.empty()) {
        return;
    }
    PlayableItemPtr old = items_.front();
    items_.pop_front();
    old->detach();
    currentChanged(old, clock_->timeAt(loop_.now()), false);
}

Subscription DecodedQueuePlayer::observeCurrentItem(
    std::function<void(const ItemPtr& oldItem, const ItemPtr& newItem)> observer) {
    return currentItem_.subscribe([this, observer = std::move(observer)](const ItemPtr& item) {
        observer(previousItem_, item);
    });
}

void DecodedQueuePlayer::currentChanged(const PlayableItemPtr& oldItem, ClockTime clockTime,
                                        bool keepCarryOver) {
    PlayableItemPtr newItem = front();
    if (newItem) {
        applyRateTo(*newItem, clockTime);
    }
    if (!keepCarryOver) {
        carryOver_ = Picture();
        carryOverFilter_.reset();
    }
    reschedule();
    updateDisplayable();
    // The old item is let go once the observers have seen it.
    previousItem_ = oldItem;
    currentItem_.set(newItem);
    previousItem_.reset();
    observers_.postPeriodicCalls();
    checkPrerolls();
}

void DecodedQueuePlayer::setClock(std::shared_ptr<const MediaClock> clock) {
    clock_ = clock ? std::move(clock) : std::make_shared<HostTimeMediaClock>();
    for (auto& item : items_) {
        item->setMediaClock(clock_);
    }
    observers_.setClock(clock_);
    reschedule();
}

void DecodedQueuePlayer::setRate(float rate) {
    const float value = std::isfinite(rate) && rate > 0.0f ? rate : 0.0f;
    if (value == rateValue_ && !pendingRate_) {
        // Nothing changes: observers keep their phase.
        rate_.set(value);
        return;
    }
    applyRate(value, std::nullopt);
}

void DecodedQueuePlayer::setRate(float rate, ClockTime atClockTime) {
    const float value = std::isfinite(rate) && rate > 0.0f ? rate : 0.0f;
    applyRate(value, atClockTime.isFinite() ? std::optional<ClockTime>(atClockTime) : std::nullopt);
}

void DecodedQueuePlayer::applyRate(float value, std::optional<ClockTime> startAt) {
    const bool changed = value != rateValue_;
    rateValue_ = value;
    const ClockTime now = clock_->timeAt(loop_.now());
    if (startAt && *startAt > now) {
        rateNow_ = rateAt(now);
        pendingRate_ = PendingRate{*startAt, value};
    } else {
        rateNow_ = value;
        pendingRate_.reset();
    }
    if (auto item = front()) {
        item->setClockRate(value, now, startAt);
    }
    reschedule();
    rate_.set(value);
    if (changed) {
        observers_.postPeriodicCalls();
    }
}

double DecodedQueuePlayer::rateAt(ClockTime clockTime) const {
    return pendingRate_ && clockTime >= pendingRate_->clockTime ? pendingRate_->rate : rateNow_;
}

void DecodedQueuePlayer::applyRateTo(PlayableItem& item, ClockTime clockTime) {
    item.setClockRate(rateAt(clockTime), clockTime);
    if (pendingRate_ && pendingRate_->clockTime > clockTime) {
        item.setClockRate(pendingRate_->rate, clockTime, pendingRate_->clockTime);
    }
}

double DecodedQueuePlayer::currentTime() const {
    auto item = front();
    return item ? item->currentTime() : 0.0;
}

void DecodedQueuePlayer::seek(double time, double toleranceBefore, double toleranceAfter,
                              std::function<void(bool)> completion) {
    auto item = front();
    if (!item) {
        if (completion) {
            loop_.post([completion = std::move(completion)] { completion(false); });
        }
        return;
    }
    item->seek(time, toleranceBefore, toleranceAfter, std::move(completion));
}

void DecodedQueuePlayer::preroll(float /*rate*/, std::function<void(bool)> completion) {
    if (!completion) {
        return;
    }
    auto item = front();
    if (!item) {
        loop_.post([completion = std::move(completion)] { completion(false); });
        return;
    }
    prerolls_.push_back({item, std::move(completion)});
    checkPrerolls();
}

void DecodedQueuePlayer::cancelPendingPrerolls() {
    auto pending = std::move(prerolls_);
    prerolls_.clear();
    for (auto& preroll : pending) {
        loop_.post([completion = std::move(preroll.completion)] { completion(false); });
    }
}

void DecodedQueuePlayer::checkPrerolls() {
    auto pending = std::move(prerolls_);
    prerolls_.clear();
    const PlayableItemPtr item = front();
    for (auto& preroll : pending) {
        std::optional<bool> answer;
        if (preroll.item != item || preroll.item->statusValue() == ItemStatus::Failed) {
            answer = false;
        } else if (preroll.item->isReady() && !preroll.item->isSeeking() &&
                   preroll.item->likelyToKeepUp()) {
            answer = true;
        }
        if (answer) {
            loop_.post([completion = std::move(preroll.completion), finished = *answer] {
                completion(finished);
            });
        } else {
            prerolls_.push_back(std::move(preroll));
        }
    }
}

void DecodedQueuePlayer::setActionAtItemEnd(ActionAtItemEnd action) {
    action_ = action;
    armNext();
    publish();
}

void DecodedQueuePlayer::setFrameFilter(std::shared_ptr<const FrameFilter> filter) {
    filter_ = filter && *filter ? std::move(filter) : nullptr;
    publish();
}

Subscription DecodedQueuePlayer::addPeriodicTimeObserver(double interval,
                                                         std::function<void(double)> observer) {
    return observers_.addPeriodic(interval, std::move(observer));
}

Subscription DecodedQueuePlayer::addBoundaryTimeObserver(std::vector<double> times,
                                                         std::function<void()> observer) {
    return observers_.addBoundary(std::move(times), std::move(observer));
}

void DecodedQueuePlayer::reschedule() {
    endTimer_.cancel();
    clockEnd_ = ClockTime::infinity();
    // Observers first: a boundary that falls on the end instant runs before the end is handled.
    observers_.reschedule();
    auto item = front();
    if (item && item->moves()) {
        const double end = item->endTime();
        if (std::isfinite(end) && !item->endReported()) {
            clockEnd_ = item->clockTimeOf(end);
            std::weak_ptr<DecodedQueuePlayer> weakSelf = weak_from_this();
            PlayableItem* raw = item.get();
            const ClockTime clockEnd = clockEnd_;
            observers_.armAt(&endTimer_, weakSelf, clockEnd, [weakSelf, raw, clockEnd] {
                if (auto self = weakSelf.lock()) {
                    self->reachedEnd(raw, clockEnd);
                }
            });
        }
    }
    armNext();
    publish();
}

void DecodedQueuePlayer::armNext() {
    if (items_.size() < 2) {
        return;
    }
    PlayableItem& next = *items_[1];
    if (action_ == ActionAtItemEnd::Advance && clockEnd_.isFinite()) {
        // The next item runs from the end instant by itself: its decoder moves on and presenters
        // show it whether or not the run loop has handled the end yet.
        // A rate change asked for beyond the end goes with it.
        if (pendingRate_ && pendingRate_->clockTime > clockEnd_) {
            next.startAtClock(clockEnd_, rateAt(clockEnd_), pendingRate_->clockTime,
                              pendingRate_->rate);
        } else {
            next.startAtClock(clockEnd_, rateAt(clockEnd_));
        }
    } else if (next.moves()) {
        next.setClockRate(0.0, clock_->timeAt(loop_.now()));
    }
}

void DecodedQueuePlayer::reachedEnd(PlayableItem* ended, ClockTime clockEnd) {
    PlayableItemPtr item = front();
    if (item.get() != ended || item->endReported()) {
        return;
    }
    clockEnd_ = ClockTime::infinity();
    item->playedToEnd();
    if (front() != item) {
        return;  // an observer changed the queue
    }
    switch (action_) {
        case ActionAtItemEnd::Advance:
            carryOver_ = item->pictureAt(item->endTime());
            carryOverFilter_ = item->frameFilter();
            items_.pop_front();
            item->detach();
            // The next item runs from the end instant itself, however late this runs.
            currentChanged(item, clockEnd, true);
            break;
        case ActionAtItemEnd::Pause: {
            const bool changed = rateValue_ != 0.0f;
            rateValue_ = 0.0f;
            rateNow_ = 0.0f;
            pendingRate_.reset();
            item->setClockRate(0.0, clockEnd);
            reschedule();
            rate_.set(0.0f);
            if (changed) {
                observers_.postPeriodicCalls();
            }
            break;
        }
        case ActionAtItemEnd::None:
            reschedule();
            break;
    }
}

void DecodedQueuePlayer::itemChanged(PlayableItem& item, PlayableItem::Change change) {
    if (items_.size() >= 2 && items_[1].get() == &item) {
        // The next item: what is shown across the seam may have changed.
        publish();
        return;
    }
    if (front().get() != &item) {
        return;
    }
    switch (change) {
        case PlayableItem::Change::SeekStarted:
            for (auto& preroll : prerolls_) {
                if (preroll.item.get() == &item) {
                    preroll.item = nullptr;  // answered false below
                }
            }
            reschedule();
            break;
        case PlayableItem::Change::SeekLanded:
            reschedule();
            observers_.postPeriodicCalls();
            break;
        case PlayableItem::Change::Ready:
        case PlayableItem::Change::Failed:
        case PlayableItem::Change::EndMoved:
            reschedule();
            break;
        case PlayableItem::Change::Buffer:
        case PlayableItem::Change::Filter:
            publish();
            break;
    }
    updateDisplayable();
    checkPrerolls();
}

void DecodedQueuePlayer::updateDisplayable() {
    auto item = front();
    const bool displayable = item && item->hasDisplayableFrame();
    if (displayable != hasDisplayableFrame_.get()) {
        hasDisplayableFrame_.set(displayable);
    }
}

void DecodedQueuePlayer::publish() {
    if (!carryOver_.isNull()) {
        // The item before's last picture is shown only until the current item has its own.
        auto item = front();
        if (item && !item->pictureAt(item->currentTime()).isNull()) {
            carryOver_ = Picture();
            carryOverFilter_.reset();
        }
    }
    auto snapshot = std::make_shared<Snapshot>();
    snapshot->clock = clock_;
    snapshot->filter = filter_;
    snapshot->carryOver = carryOver_;
    snapshot->carryOverFilter = carryOverFilter_;
    if (auto item = front()) {
        snapshot->current = item->view();
        snapshot->clockEnd = clockEnd_;
        if (items_.size() >= 2 && action_ == ActionAtItemEnd::Advance && clockEnd_.isFinite()) {
            snapshot->next = items_[1]->view();
        }
    }
    snapshot_.store(std::move(snapshot));
}

Picture DecodedQueuePlayer::filtered(const Picture& picture,
                                     const std::shared_ptr<const FrameFilter>& filter) const {
    if (!filter || picture.isNull()) {
        return picture;
    }
    const qint64 key = picture.key();
    {
        std::lock_guard lock(filteredMutex_);
        for (const auto& entry : filtered_) {
            if (entry.key == key && entry.filter == filter) {
                return entry.picture;
            }
        }
    }
    QImage result;
    try {
        result = (*filter)(picture);
    } catch (...) {
        result = QImage();
    }
    if (result.size() != picture.size()) {
        // A filter that fails or changes the size shows the picture as decoded.
        return picture;
    }
    std::lock_guard lock(filteredMutex_);
    filtered_.push_back({key, filter, result});
    while (filtered_.size() > kFilteredKept) {
        filtered_.pop_front();
    }
    return result;
}

QImage DecodedQueuePlayer::imageOf(const Picture& picture) const {
    if (picture.yuv() == nullptr) {
        return picture.image();
    }
    const qint64 key = picture.key();
    {
        std::lock_guard lock(filteredMutex_);
        for (const auto& entry : filtered_) {
            if (entry.key == key && !entry.filter) {
                return entry.picture;
            }
        }
    }
    QImage image = picture.toImage();
    std::lock_guard lock(filteredMutex_);
    filtered_.push_back({key, nullptr, image});
    while (filtered_.size() > kFilteredKept) {
        filtered_.pop_front();
    }
    return image;
}

QImage DecodedQueuePlayer::frameAt(HostTime hostTime) const {
    return imageOf(pictureAt(hostTime));
}

Picture DecodedQueuePlayer::pictureAt(HostTime hostTime) const {
    const auto snapshot = snapshot_.load();
    if (!snapshot || !snapshot->current) {
        return {};
    }
    const auto& current = *snapshot->current;
    const ClockTime clockTime = snapshot->clock->timeAt(hostTime);
    if (snapshot->next && clockTime >= snapshot->clockEnd - kClockSlack) {
        // Past the end, before the run loop has handled it: the next item is already on (it
        // runs from the end instant by itself).
        const auto& next = *snapshot->next;
        Picture image = next.pictureAt(next.timeAt(clockTime));
        if (!image.isNull()) {
            return filtered(image, snapshot->filter ? snapshot->filter : next.filter);
        }
    }
    Picture image = current.pictureAt(current.timeAt(clockTime));
    if (!image.isNull()) {
        return filtered(image, snapshot->filter ? snapshot->filter : current.filter);
    }
    return filtered(snapshot->carryOver,
                    snapshot->filter ? snapshot->filter : snapshot->carryOverFilter);
}

}  // namespace kestio::platform::media
