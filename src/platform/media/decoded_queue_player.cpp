#include "platform/media/decoded_queue_player.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kestio::platform::media {

namespace {
constexpr double kEpsilon = 1e-6;
// Below this a timer counts as on time (clock readings round).
constexpr double kClockSlack = 1e-9;
// Filtered pictures kept: the current and next picture of a few views at slightly different
// times, and of both sides of a seam.
constexpr std::size_t kFilteredKept = 6;
}  // namespace

struct DecodedQueuePlayer::Periodic {
    double interval = 0.05;
    std::function<void(double)> observer;
    TimerHandle timer;
    bool alive = true;
    // Calls fall due at item times base + k × interval.
    double base = 0.0;
    int count = 0;
};

struct DecodedQueuePlayer::Boundary {
    std::vector<double> times;
    std::function<void()> observer;
    TimerHandle timer;
    bool alive = true;
};

std::shared_ptr<DecodedQueuePlayer> DecodedQueuePlayer::make(RunLoop& loop) {
    return std::make_shared<DecodedQueuePlayer>(Token{}, loop);
}

DecodedQueuePlayer::DecodedQueuePlayer(Token, RunLoop& loop)
    : loop_(loop),
      clock_(std::make_shared<HostClock>()),
      clockEnd_(std::numeric_limits<double>::infinity()) {}

DecodedQueuePlayer::~DecodedQueuePlayer() {
    endTimer_.cancel();
    for (auto& periodic : periodic_) {
        periodic->alive = false;
        periodic->timer.cancel();
    }
    for (auto& boundary : boundaries_) {
        boundary->alive = false;
        boundary->timer.cancel();
    }
    detachAll();
}

void DecodedQueuePlayer::detachAll() {
    auto items = std::move(items_);
    items_.clear();
    for (auto& item : items) {
        item->detach();
    }
}

bool DecodedQueuePlayer::insert(ItemPtr anyItem, const ItemPtr& after) {
    auto item = std::dynamic_pointer_cast<DecodedPlayerItem>(anyItem);
    if (!item || item->owner_ != nullptr) {
        return false;
    }
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
    DecodedItemPtr removed = *found;
    items_.erase(found);
    removed->detach();
    if (wasCurrent) {
        currentChanged(removed, clock_->timeAt(loop_.now()), false);
    } else {
        publish();
    }
}

void DecodedQueuePlayer::removeAllItems() {
    if (items_.empty()) {
        return;
    }
    DecodedItemPtr old = items_.front();
    detachAll();
    currentChanged(old, clock_->timeAt(loop_.now()), false);
}

void DecodedQueuePlayer::replaceAllItems(std::vector<ItemPtr> items) {
    DecodedItemPtr old = front();
    detachAll();
    for (auto& anyItem : items) {
        auto item = std::dynamic_pointer_cast<DecodedPlayerItem>(anyItem);
        if (item && item->owner_ == nullptr) {
            items_.push_back(item);
            item->attach(this, clock_);
        }
    }
    currentChanged(old, clock_->timeAt(loop_.now()), false);
}

void DecodedQueuePlayer::advanceToNextItem() {
    if (items_.empty()) {
        return;
    }
    DecodedItemPtr old = items_.front();
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

void DecodedQueuePlayer::currentChanged(const DecodedItemPtr& oldItem, double clockTime,
                                        bool gapless) {
    DecodedItemPtr newItem = front();
    if (newItem) {
        newItem->setClockRate(rateValue_, clockTime);
    }
    if (!gapless) {
        carryOver_ = QImage();
        carryOverFilter_.reset();
    }
    reschedule();
    updateDisplayable();
    // The old item is let go once the observers have seen it.
    previousItem_ = oldItem;
    currentItem_.set(newItem);
    previousItem_.reset();
    postPeriodicCalls();
    checkPrerolls();
}

void DecodedQueuePlayer::setClock(std::shared_ptr<const MediaClock> clock) {
    clock_ = clock ? std::move(clock) : std::make_shared<HostClock>();
    for (auto& item : items_) {
        item->setMediaClock(clock_);
    }
    reschedule();
}

void DecodedQueuePlayer::setRate(float rate) {
    const float value = std::isfinite(rate) && rate > 0.0f ? rate : 0.0f;
    if (value == rateValue_) {
        // Nothing changes: observers keep their phase.
        rate_.set(value);
        return;
    }
    applyRate(value, std::nullopt);
}

void DecodedQueuePlayer::setRate(float rate, double atClockTime) {
    const float value = std::isfinite(rate) && rate > 0.0f ? rate : 0.0f;
    applyRate(value,
              std::isfinite(atClockTime) ? std::optional<double>(atClockTime) : std::nullopt);
}

void DecodedQueuePlayer::applyRate(float value, std::optional<double> startAt) {
    const bool changed = value != rateValue_;
    rateValue_ = value;
    if (auto item = front()) {
        item->setClockRate(value, clock_->timeAt(loop_.now()), startAt);
    }
    reschedule();
    rate_.set(value);
    if (changed) {
        postPeriodicCalls();
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
    const DecodedItemPtr item = front();
    for (auto& preroll : pending) {
        std::optional<bool> answer;
        if (preroll.item != item || preroll.item->statusValue() == ItemStatus::Failed) {
            answer = false;
        } else if (preroll.item->isReady() && !preroll.item->seek_ &&
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
    publish();
}

Subscription DecodedQueuePlayer::addPeriodicTimeObserver(double interval,
                                                         std::function<void(double)> observer) {
    auto periodic = std::make_shared<Periodic>();
    periodic->interval = std::isfinite(interval) && interval > 0.001 ? interval : 0.001;
    periodic->observer = std::move(observer);
    periodic_.push_back(periodic);
    restartPeriodic(periodic);
    std::weak_ptr<DecodedQueuePlayer> weakSelf = weak_from_this();
    std::weak_ptr<Periodic> weakPeriodic = periodic;
    return Subscription([weakSelf, weakPeriodic] {
        if (auto p = weakPeriodic.lock()) {
            p->alive = false;
            p->timer.cancel();
        }
        if (auto self = weakSelf.lock()) {
            std::erase_if(self->periodic_, [&](const auto& p) { return p == weakPeriodic.lock(); });
        }
    });
}

Subscription DecodedQueuePlayer::addBoundaryTimeObserver(std::vector<double> times,
                                                         std::function<void()> observer) {
    auto boundary = std::make_shared<Boundary>();
    std::erase_if(times, [](double t) { return !std::isfinite(t); });
    std::sort(times.begin(), times.end());
    boundary->times = std::move(times);
    boundary->observer = std::move(observer);
    boundaries_.push_back(boundary);
    scheduleBoundary(boundary, currentTime());
    std::weak_ptr<DecodedQueuePlayer> weakSelf = weak_from_this();
    std::weak_ptr<Boundary> weakBoundary = boundary;
    return Subscription([weakSelf, weakBoundary] {
        if (auto b = weakBoundary.lock()) {
            b->alive = false;
            b->timer.cancel();
        }
        if (auto self = weakSelf.lock()) {
            std::erase_if(self->boundaries_,
                          [&](const auto& b) { return b == weakBoundary.lock(); });
        }
    });
}

void DecodedQueuePlayer::armAt(TimerHandle* slot, std::weak_ptr<void> guard, double clockTime,
                               std::function<void()> action) {
    const double due = clock_->hostTimeAt(clockTime);
    std::weak_ptr<DecodedQueuePlayer> weakSelf = weak_from_this();
    *slot = loop_.after(std::max(0.0, due - loop_.now()),
                        [weakSelf, guard, slot, clockTime, action = std::move(action)]() mutable {
                            auto self = weakSelf.lock();
                            auto alive = guard.lock();
                            if (!self || !alive) {
                                return;
                            }
                            const double now = self->loop_.now();
                            if (self->clock_->timeAt(now) < clockTime - kClockSlack &&
                                self->clock_->hostTimeAt(clockTime) > now + kClockSlack) {
                                // Early: the clock ran slower than host time. Wait for the
                                // remainder.
                                auto later = std::move(action);
                                self->armAt(slot, alive, clockTime, std::move(later));
                                return;
                            }
                            auto run = std::move(action);
                            run();
                        });
}

void DecodedQueuePlayer::restartPeriodic(const std::shared_ptr<Periodic>& periodic) {
    periodic->timer.cancel();
    auto item = front();
    if (!periodic->alive || !item || item->effectiveRate() <= 0.0) {
        return;
    }
    periodic->base = item->currentTime();
    periodic->count = 0;
    armPeriodic(periodic);
}

void DecodedQueuePlayer::armPeriodic(const std::shared_ptr<Periodic>& periodic) {
    auto item = front();
    if (!item) {
        return;
    }
    // A call missed while the run loop was held up is not made up.
    const double behind = (item->currentTime() - periodic->base) / periodic->interval;
    periodic->count =
        std::max(periodic->count + 1, static_cast<int>(std::floor(behind + 1e-9)) + 1);
    const double due = item->clockTimeOf(periodic->base + periodic->count * periodic->interval);
    if (!std::isfinite(due)) {
        return;
    }
    std::weak_ptr<DecodedQueuePlayer> weakSelf = weak_from_this();
    std::weak_ptr<Periodic> weakPeriodic = periodic;
    armAt(&periodic->timer, periodic, due, [weakSelf, weakPeriodic] {
        auto self = weakSelf.lock();
        auto p = weakPeriodic.lock();
        if (self && p && p->alive) {
            p->observer(self->currentTime());
            if (p->alive) {
                self->armPeriodic(p);
            }
        }
    });
}

void DecodedQueuePlayer::postPeriodicCalls() {
    std::weak_ptr<DecodedQueuePlayer> weakSelf = weak_from_this();
    for (const auto& periodic : periodic_) {
        std::weak_ptr<Periodic> weakPeriodic = periodic;
        loop_.post([weakSelf, weakPeriodic] {
            auto self = weakSelf.lock();
            auto p = weakPeriodic.lock();
            if (self && p && p->alive) {
                p->observer(self->currentTime());
            }
        });
    }
}

void DecodedQueuePlayer::scheduleBoundary(const std::shared_ptr<Boundary>& boundary, double after) {
    boundary->timer.cancel();
    auto item = front();
    if (!boundary->alive || !item || item->effectiveRate() <= 0.0) {
        return;
    }
    const double end = item->endTime();
    auto next = std::find_if(boundary->times.begin(), boundary->times.end(),
                             [&](double t) { return t > after + kEpsilon; });
    if (next == boundary->times.end() || *next > end + kEpsilon) {
        return;
    }
    const double time = *next;
    std::weak_ptr<DecodedQueuePlayer> weakSelf = weak_from_this();
    std::weak_ptr<Boundary> weakBoundary = boundary;
    armAt(&boundary->timer, boundary, item->clockTimeOf(time), [weakSelf, weakBoundary, time] {
        auto self = weakSelf.lock();
        auto b = weakBoundary.lock();
        if (!self || !b || !b->alive) {
            return;
        }
        b->observer();
        if (b->alive) {
            self->scheduleBoundary(b, std::max(time, self->currentTime()));
        }
    });
}

void DecodedQueuePlayer::reschedule() {
    endTimer_.cancel();
    clockEnd_ = std::numeric_limits<double>::infinity();
    for (auto& boundary : boundaries_) {
        boundary->timer.cancel();
    }
    for (auto& periodic : periodic_) {
        restartPeriodic(periodic);
    }
    auto item = front();
    if (item && item->effectiveRate() > 0.0) {
        // Boundaries first: one that falls on the end instant runs before the end is handled.
        const double t = item->currentTime();
        for (auto& boundary : boundaries_) {
            scheduleBoundary(boundary, t);
        }
        const double end = item->endTime();
        if (std::isfinite(end) && !item->endReported()) {
            clockEnd_ = item->clockTimeOf(end);
            std::weak_ptr<DecodedQueuePlayer> weakSelf = weak_from_this();
            DecodedPlayerItem* raw = item.get();
            const double clockEnd = clockEnd_;
            armAt(&endTimer_, weakSelf, clockEnd, [weakSelf, raw, clockEnd] {
                if (auto self = weakSelf.lock()) {
                    self->reachedEnd(raw, clockEnd);
                }
            });
        }
    }
    publish();
}

void DecodedQueuePlayer::reachedEnd(DecodedPlayerItem* ended, double clockEnd) {
    DecodedItemPtr item = front();
    if (item.get() != ended || item->endReported()) {
        return;
    }
    clockEnd_ = std::numeric_limits<double>::infinity();
    item->playedToEnd();
    if (front() != item) {
        return;  // an observer changed the queue
    }
    switch (action_) {
        case ActionAtItemEnd::Advance:
            carryOver_ = item->frameAt(item->endTime());
            carryOverFilter_ = item->frameFilter();
            items_.pop_front();
            item->detach();
            // The next item runs from the end instant itself, however late this runs.
            currentChanged(item, clockEnd, true);
            break;
        case ActionAtItemEnd::Pause: {
            const bool changed = rateValue_ != 0.0f;
            rateValue_ = 0.0f;
            item->setClockRate(0.0, clockEnd);
            reschedule();
            rate_.set(0.0f);
            if (changed) {
                postPeriodicCalls();
            }
            break;
        }
        case ActionAtItemEnd::None:
            reschedule();
            break;
    }
}

void DecodedQueuePlayer::itemChanged(DecodedPlayerItem& item, DecodedPlayerItem::Change change) {
    if (items_.size() >= 2 && items_[1].get() == &item) {
        // The next item: what is shown across the seam may have changed.
        publish();
        return;
    }
    if (front().get() != &item) {
        return;
    }
    switch (change) {
        case DecodedPlayerItem::Change::SeekStarted:
            for (auto& preroll : prerolls_) {
                if (preroll.item.get() == &item) {
                    preroll.item = nullptr;  // answered false below
                }
            }
            reschedule();
            break;
        case DecodedPlayerItem::Change::SeekLanded:
            reschedule();
            postPeriodicCalls();
            break;
        case DecodedPlayerItem::Change::Ready:
        case DecodedPlayerItem::Change::Failed:
        case DecodedPlayerItem::Change::EndMoved:
            reschedule();
            break;
        case DecodedPlayerItem::Change::Buffer:
        case DecodedPlayerItem::Change::Filter:
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
    auto snapshot = std::make_shared<Snapshot>();
    snapshot->clock = clock_;
    snapshot->rate = rateValue_;
    snapshot->carryOver = carryOver_;
    snapshot->carryOverFilter = carryOverFilter_;
    if (auto item = front()) {
        snapshot->current = item->view();
        snapshot->clockEnd = clockEnd_;
        if (items_.size() >= 2 && action_ == ActionAtItemEnd::Advance && std::isfinite(clockEnd_)) {
            snapshot->next = items_[1]->view();
        }
    }
    snapshot_.store(std::move(snapshot));
}

QImage DecodedQueuePlayer::filtered(const QImage& picture,
                                    const std::shared_ptr<const FrameFilter>& filter) const {
    if (!filter || picture.isNull()) {
        return picture;
    }
    const qint64 key = picture.cacheKey();
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
        result = picture;
    }
    std::lock_guard lock(filteredMutex_);
    filtered_.push_back({key, filter, result});
    while (filtered_.size() > kFilteredKept) {
        filtered_.pop_front();
    }
    return result;
}

QImage DecodedQueuePlayer::frameAt(double hostTime) const {
    const auto snapshot = snapshot_.load();
    if (!snapshot || !snapshot->current) {
        return {};
    }
    const auto& current = *snapshot->current;
    const double clockTime = snapshot->clock->timeAt(hostTime);
    if (snapshot->next && clockTime >= snapshot->clockEnd - kClockSlack) {
        // Past the end, before the run loop has handled it: the next item is already on.
        const auto& next = *snapshot->next;
        const double t =
            next.timeAt(clockTime) + snapshot->rate * std::max(0.0, clockTime - snapshot->clockEnd);
        QImage image = next.pictureAt(std::min(t, next.endTime));
        if (!image.isNull()) {
            return filtered(image, next.filter);
        }
    }
    QImage image = current.pictureAt(current.timeAt(clockTime));
    if (!image.isNull()) {
        return filtered(image, current.filter);
    }
    return filtered(snapshot->carryOver, snapshot->carryOverFilter);
}

}  // namespace kestio::platform::media
