#pragma once

#include <QImage>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "platform/media/player_item.h"
#include "platform/runloop/published.h"
#include "platform/runloop/run_loop.h"

namespace kestio::platform::media {

enum class ActionAtItemEnd {
    Advance,  // the next queued item becomes current without a gap
    Pause,    // the rate becomes 0 and the last picture stays
    None,     // the item stays current at its end
};

// Plays a queue of items, one at a time, on the run loop's clock. It makes no sound: its
// pictures are for player layers (any number of them), its sound is played elsewhere.
//
// Timing: a current item's time runs at the player's rate while the rate is above 0 (rates
// below 0 are taken as 0). Reaching an item's end is scheduled on the run loop at the exact
// run-loop time the end falls on; with ActionAtItemEnd::Advance the next item starts from that
// instant, so frameAt() shows the last picture of one item and the first of the next on
// consecutive display ticks. Periodic and boundary observers run on run-loop timers.
//
// Everything here runs on the run loop's thread.
class QueuePlayer : public std::enable_shared_from_this<QueuePlayer> {
    struct Token {};

  public:
    using ItemPtr = std::shared_ptr<PlayerItem>;

    static std::shared_ptr<QueuePlayer> make(RunLoop& loop);
    QueuePlayer(Token, RunLoop& loop);
    ~QueuePlayer();
    QueuePlayer(const QueuePlayer&) = delete;
    QueuePlayer& operator=(const QueuePlayer&) = delete;

    RunLoop& runLoop() const { return loop_; }

    // The queue. insert() places the item after `after` (at the end when `after` is null or
    // not queued) and starts loading it; an empty queue's first item becomes current at once.
    // An item can be in one player's queue once: inserting it again, or into a second player,
    // is refused (false).
    bool insert(ItemPtr item, const ItemPtr& after = nullptr);
    void remove(const ItemPtr& item);
    void removeAllItems();
    // Replaces the whole queue in one step: the current item changes once, to items[0].
    // Items already in another player's queue are skipped.
    void replaceAllItems(std::vector<ItemPtr> items);
    // Makes the next queued item current now (without an end notification).
    void advanceToNextItem();
    std::vector<ItemPtr> items() const { return {items_.begin(), items_.end()}; }

    // The current item (null when the queue is empty).
    Published<ItemPtr>& currentItem() { return currentItem_; }
    ItemPtr current() const { return items_.empty() ? nullptr : items_.front(); }
    // Called on every change of the current item with the item before and after.
    [[nodiscard]] Subscription observeCurrentItem(
        std::function<void(const ItemPtr& oldItem, const ItemPtr& newItem)> observer);

    // Rate: 0 paused, 1 normal speed. Every set notifies the rate's subscribers.
    Published<float>& rate() { return rate_; }
    float rateValue() const { return rate_.get(); }
    void setRate(float rate);
    void play() { setRate(1.0f); }
    void pause() { setRate(0.0f); }

    // The current item's time (0 without an item).
    double currentTime() const;
    // Seeks the current item (see PlayerItem::seek); without an item the completion gets false.
    void seek(double time, double toleranceBefore, double toleranceAfter,
              std::function<void(bool finished)> completion = {});
    // Seeks with unlimited tolerance (to the key frame at or before `time`).
    void seek(double time, std::function<void(bool finished)> completion = {});
    // Calls `completion` with true once the current item is ready and decoded ahead; false
    // when the current item changes, seeks or fails first, or when there is none.
    void preroll(float rate, std::function<void(bool finished)> completion);
    void cancelPendingPrerolls();

    ActionAtItemEnd actionAtItemEnd() const { return action_; }
    void setActionAtItemEnd(ActionAtItemEnd action);
    // Kept for the callers' sake: playback never waits for buffering before it starts.
    bool automaticallyWaitsToMinimizeStalling() const { return waitsToMinimizeStalling_; }
    void setAutomaticallyWaitsToMinimizeStalling(bool waits) { waitsToMinimizeStalling_ = waits; }
    // Kept for the callers' sake: a queue player is always silent.
    float volume() const { return volume_; }
    void setVolume(float volume) { volume_ = volume; }
    bool isMuted() const { return muted_; }
    void setMuted(bool muted) { muted_ = muted; }

    // Calls `observer` with the current time every `interval` seconds of item time while
    // playing, and once (on the next run-loop turn) after playback starts or stops, a seek
    // lands or the current item changes. Nothing is delivered once the subscription ends.
    [[nodiscard]] Subscription addPeriodicTimeObserver(double interval,
                                                       std::function<void(double)> observer);
    // Calls `observer` when playback crosses one of `times` (item time) while playing. Times
    // jumped over by a seek, and a time the item stands on when it starts, do not count.
    [[nodiscard]] Subscription addBoundaryTimeObserver(std::vector<double> times,
                                                       std::function<void()> observer);

    // The picture for run-loop time `runLoopTime` (normally now): the current item's picture
    // for its time then, or across an Advance end the next item's. Null when there is
    // nothing to show.
    QImage frameAt(double runLoopTime) const;
    // True while the current item has a picture for its time (or is ready and has none
    // to show: a file with sound only).
    Published<bool>& hasDisplayableFrame() { return hasDisplayableFrame_; }

  private:
    friend class PlayerItem;
    struct Periodic;
    struct Boundary;
    struct Preroll {
        ItemPtr item;
        std::function<void(bool)> completion;
    };

    void itemChanged(PlayerItem& item, PlayerItem::Change change);
    void currentChanged(const ItemPtr& oldItem, double host, bool gapless);
    void reschedule();
    void scheduleBoundary(const std::shared_ptr<Boundary>& boundary, double after);
    void restartPeriodic(const std::shared_ptr<Periodic>& periodic);
    void postPeriodicCalls();
    void reachedEnd(PlayerItem* item, double host);
    void tick();
    void updateDisplayable();
    void checkPrerolls();
    void detachAll();

    RunLoop& loop_;
    std::deque<ItemPtr> items_;
    Published<ItemPtr> currentItem_;
    ItemPtr previousItem_;
    Published<float> rate_{0.0f};
    float rateValue_ = 0.0f;
    ActionAtItemEnd action_ = ActionAtItemEnd::Advance;
    bool waitsToMinimizeStalling_ = true;
    float volume_ = 1.0f;
    bool muted_ = false;
    Published<bool> hasDisplayableFrame_{false};

    TimerHandle endTimer_;
    TimerHandle tickTimer_;
    double hostEnd_;
    mutable QImage carryOver_;
    std::vector<std::shared_ptr<Periodic>> periodic_;
    std::vector<std::shared_ptr<Boundary>> boundaries_;
    std::vector<Preroll> prerolls_;
};

}  // namespace kestio::platform::media
