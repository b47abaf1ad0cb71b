#include "platform/media/decoded_queue_player.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kestio::platform::media {

namespace {
constexpr double kEpsilon = 1e-6;
// How often a playing player hands decoded pictures back to its decoder.
constexpr double kTickSeconds = 1.0 / 60.0;
}  // namespace

struct DecodedQueuePlayer::Periodic {
    double interval = 0.05;
    std::function<void(double)> observer;
    TimerHandle timer;
    bool alive = true;
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
      hostEnd_(std::numeric_limits<double>::infinity()) {}

DecodedQueuePlayer::~DecodedQueuePlayer() {
    endTimer_.cancel();
    tickTimer_.cancel();
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
    const double host = loop_.now();
    auto items = std::move(items_);
    items_.clear();
    for (auto& item : items) {
        item->detach(host);
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
    item->attach(this);
    if (wasEmpty) {
        currentChanged(nullptr, loop_.now(), false);
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
    removed->detach(loop_.now());
    if (wasCurrent) {
        currentChanged(removed, loop_.now(), false);
    }
}

void DecodedQueuePlayer::removeAllItems() {
    if (items_.empty()) {
        return;
    }
    DecodedItemPtr old = items_.front();
    detachAll();
    currentChanged(old, loop_.now(), false);
}

void DecodedQueuePlayer::replaceAllItems(std::vector<ItemPtr> items) {
    DecodedItemPtr old = items_.empty() ? nullptr : items_.front();
    detachAll();
    for (auto& anyItem : items) {
        auto item = std::dynamic_pointer_cast<DecodedPlayerItem>(anyItem);
        if (item && item->owner_ == nullptr) {
            items_.push_back(item);
            item->attach(this);
        }
    }
    currentChanged(old, loop_.now(), false);
}

void DecodedQueuePlayer::advanceToNextItem() {
    if (items_.empty()) {
        return;
    }
    DecodedItemPtr old = items_.front();
    items_.pop_front();
    old->detach(loop_.now());
    currentChanged(old, loop_.now(), false);
}

Subscription DecodedQueuePlayer::observeCurrentItem(
    std::function<void(const ItemPtr& oldItem, const ItemPtr& newItem)> observer) {
    return currentItem_.subscribe([this, observer = std::move(observer)](const ItemPtr& item) {
        observer(previousItem_, item);
    });
}

void DecodedQueuePlayer::currentChanged(const DecodedItemPtr& oldItem, double host, bool gapless) {
    DecodedItemPtr newItem = items_.empty() ? nullptr : items_.front();
    if (newItem) {
        newItem->setClockRate(rateValue_, host);
    }
    if (!gapless) {
        carryOver_ = QImage();
    }
    reschedule();
    updateDisplayable();
    previousItem_ = oldItem;
    currentItem_.set(newItem);
    postPeriodicCalls();
    checkPrerolls();
}

void DecodedQueuePlayer::setClock(std::shared_ptr<const MediaClock> clock) {
    clock_ = clock ? std::move(clock) : std::make_shared<HostClock>();
}

void DecodedQueuePlayer::setRate(float rate, double /*atClockTime*/) {
    setRate(rate);
}

void DecodedQueuePlayer::setRate(float rate) {
    const float value = std::isfinite(rate) && rate > 0.0f ? rate : 0.0f;
    const bool changed = value != rateValue_;
    rateValue_ = value;
    if (auto item = front()) {
        item->setClockRate(value, loop_.now());
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

void DecodedQueuePlayer::restartPeriodic(const std::shared_ptr<Periodic>& periodic) {
    periodic->timer.cancel();
    auto item = front();
    if (!periodic->alive || !item || item->effectiveRate() <= 0.0) {
        return;
    }
    std::weak_ptr<DecodedQueuePlayer> weakSelf = weak_from_this();
    std::weak_ptr<Periodic> weakPeriodic = periodic;
    periodic->timer =
        loop_.every(periodic->interval / item->effectiveRate(), [weakSelf, weakPeriodic] {
            auto self = weakSelf.lock();
            auto p = weakPeriodic.lock();
            if (self && p && p->alive) {
                p->observer(self->currentTime());
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
    const double host = item->hostTimeOf(time);
    std::weak_ptr<DecodedQueuePlayer> weakSelf = weak_from_this();
    std::weak_ptr<Boundary> weakBoundary = boundary;
    boundary->timer =
        loop_.after(std::max(0.0, host - loop_.now()), [weakSelf, weakBoundary, time] {
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
    tickTimer_.cancel();
    hostEnd_ = std::numeric_limits<double>::infinity();
    for (auto& boundary : boundaries_) {
        boundary->timer.cancel();
    }
    for (auto& periodic : periodic_) {
        restartPeriodic(periodic);
    }
    auto item = front();
    if (!item || item->effectiveRate() <= 0.0) {
        return;
    }
    // Boundaries first: one that falls on the end instant runs before the end is handled.
    const double t = item->currentTime();
    for (auto& boundary : boundaries_) {
        scheduleBoundary(boundary, t);
    }
    std::weak_ptr<DecodedQueuePlayer> weakSelf = weak_from_this();
    const double end = item->endTime();
    if (std::isfinite(end) && !item->endReported()) {
        hostEnd_ = item->hostTimeOf(end);
        DecodedPlayerItem* raw = item.get();
        const double hostEnd = hostEnd_;
        endTimer_ = loop_.after(std::max(0.0, hostEnd - loop_.now()), [weakSelf, raw, hostEnd] {
            if (auto self = weakSelf.lock()) {
                self->reachedEnd(raw, hostEnd);
            }
        });
    }
    tickTimer_ = loop_.every(kTickSeconds, [weakSelf] {
        if (auto self = weakSelf.lock()) {
            self->tick();
        }
    });
}

void DecodedQueuePlayer::reachedEnd(DecodedPlayerItem* ended, double host) {
    DecodedItemPtr item = items_.empty() ? nullptr : items_.front();
    if (item.get() != ended || item->endReported()) {
        return;
    }
    hostEnd_ = std::numeric_limits<double>::infinity();
    item->playedToEnd();
    if (front() != item) {
        return;  // an observer changed the queue
    }
    switch (action_) {
        case ActionAtItemEnd::Advance:
            carryOver_ = item->frameAt(item->endTime());
            items_.pop_front();
            item->detach(host);
            currentChanged(item, host, true);
            break;
        case ActionAtItemEnd::Pause: {
            const bool changed = rateValue_ != 0.0f;
            rateValue_ = 0.0f;
            item->setClockRate(0.0, host);
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

void DecodedQueuePlayer::tick() {
    auto item = front();
    if (!item) {
        return;
    }
    item->release(loop_.now());
    item->refreshBuffer();
}

void DecodedQueuePlayer::itemChanged(DecodedPlayerItem& item, DecodedPlayerItem::Change change) {
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

QImage DecodedQueuePlayer::frameAt(double runLoopTime) const {
    if (items_.empty()) {
        return {};
    }
    if (items_.size() >= 2 && action_ == ActionAtItemEnd::Advance && std::isfinite(hostEnd_) &&
        runLoopTime >= hostEnd_ - 1e-9) {
        // Past the end, before the run loop has handled it: the next item is already on.
        const auto& next = items_[1];
        QImage image = next->frameAt(next->currentTime() + rateValue_ * (runLoopTime - hostEnd_));
        if (!image.isNull()) {
            return image;
        }
    }
    const auto& item = items_.front();
    QImage image = item->frameAt(item->timeAt(runLoopTime));
    if (!image.isNull()) {
        carryOver_ = QImage();
        return image;
    }
    return carryOver_;
}

}  // namespace kestio::platform::media
