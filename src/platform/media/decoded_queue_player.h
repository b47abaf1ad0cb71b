#pragma once

#include <QImage>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "platform/media/decoded_player_item.h"
#include "platform/media/queue_player.h"
#include "platform/runloop/published.h"
#include "platform/runloop/run_loop.h"

namespace kestio::platform::media {

// A queue player of DecodedPlayerItems (it refuses items of other kinds).
//
// Timing: reaching an item's end is scheduled on the run loop at the exact run-loop time the
// end falls on. Everything but frameAt() runs on the run loop's thread.
class DecodedQueuePlayer final : public QueuePlayer,
                                 public std::enable_shared_from_this<DecodedQueuePlayer> {
    struct Token {};

  public:
    using DecodedItemPtr = std::shared_ptr<DecodedPlayerItem>;

    static std::shared_ptr<DecodedQueuePlayer> make(RunLoop& loop);
    DecodedQueuePlayer(Token, RunLoop& loop);
    ~DecodedQueuePlayer() override;

    RunLoop& runLoop() const { return loop_; }

    bool insert(ItemPtr item, const ItemPtr& after = nullptr) override;
    void remove(const ItemPtr& item) override;
    void removeAllItems() override;
    void replaceAllItems(std::vector<ItemPtr> items) override;
    void advanceToNextItem() override;
    std::vector<ItemPtr> items() const override { return {items_.begin(), items_.end()}; }

    Published<ItemPtr>& currentItem() override { return currentItem_; }
    ItemPtr current() const override { return items_.empty() ? nullptr : items_.front(); }
    [[nodiscard]] Subscription observeCurrentItem(
        std::function<void(const ItemPtr& oldItem, const ItemPtr& newItem)> observer) override;

    void setClock(std::shared_ptr<const MediaClock> clock) override;
    std::shared_ptr<const MediaClock> clock() const override { return clock_; }

    Published<float>& rate() override { return rate_; }
    float rateValue() const override { return rate_.get(); }
    void setRate(float rate) override;
    void setRate(float rate, double atClockTime) override;

    double currentTime() const override;
    using QueuePlayer::seek;
    void seek(double time, double toleranceBefore, double toleranceAfter,
              std::function<void(bool finished)> completion = {}) override;
    void preroll(float rate, std::function<void(bool finished)> completion) override;
    void cancelPendingPrerolls() override;

    ActionAtItemEnd actionAtItemEnd() const override { return action_; }
    void setActionAtItemEnd(ActionAtItemEnd action) override;

    [[nodiscard]] Subscription addPeriodicTimeObserver(
        double interval, std::function<void(double)> observer) override;
    [[nodiscard]] Subscription addBoundaryTimeObserver(std::vector<double> times,
                                                       std::function<void()> observer) override;

    QImage frameAt(double hostTime) const override;
    Published<bool>& hasDisplayableFrame() override { return hasDisplayableFrame_; }

  private:
    friend class DecodedPlayerItem;
    struct Periodic;
    struct Boundary;
    struct Preroll {
        DecodedItemPtr item;
        std::function<void(bool)> completion;
    };

    DecodedItemPtr front() const { return items_.empty() ? nullptr : items_.front(); }
    void itemChanged(DecodedPlayerItem& item, DecodedPlayerItem::Change change);
    void currentChanged(const DecodedItemPtr& oldItem, double host, bool gapless);
    void reschedule();
    void scheduleBoundary(const std::shared_ptr<Boundary>& boundary, double after);
    void restartPeriodic(const std::shared_ptr<Periodic>& periodic);
    void postPeriodicCalls();
    void reachedEnd(DecodedPlayerItem* item, double host);
    void tick();
    void updateDisplayable();
    void checkPrerolls();
    void detachAll();

    RunLoop& loop_;
    std::shared_ptr<const MediaClock> clock_;
    std::deque<DecodedItemPtr> items_;
    Published<ItemPtr> currentItem_;
    DecodedItemPtr previousItem_;
    Published<float> rate_{0.0f};
    float rateValue_ = 0.0f;
    ActionAtItemEnd action_ = ActionAtItemEnd::Advance;
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
