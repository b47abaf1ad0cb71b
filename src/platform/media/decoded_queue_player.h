#pragma once

#include <QImage>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/media/atomic_snapshot.h"
#include "platform/media/decoded_player_item.h"
#include "platform/media/player_time_observers.h"
#include "platform/media/queue_player.h"
#include "platform/runloop/published.h"
#include "platform/runloop/run_loop.h"

namespace kestio::platform::media {

// The queue player, over any PlayableItem: make() gives one that plays DecodedPlayerItems (it
// refuses items of other families); the test fakes make one that plays their scripted items,
// so the playback layers' unit tests run this very player.
//
// Timing: reaching an item's end, boundaries and periodic observers are run-loop timers due at
// the host time the player's clock reaches them. frameAt() is safe from any thread: it reads
// only an immutable snapshot of the player, replaced whenever what it shows changes, and the
// item decoders' queues; it never depends on the run loop's thread having run. Everything else
// runs on the run loop's thread.
class DecodedQueuePlayer : public QueuePlayer,
                           public std::enable_shared_from_this<DecodedQueuePlayer> {
    struct Token {};

  public:
    using PlayableItemPtr = std::shared_ptr<PlayableItem>;

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
    void setRate(float rate, ClockTime atClockTime) override;

    double currentTime() const override;
    using QueuePlayer::seek;
    void seek(double time, double toleranceBefore, double toleranceAfter,
              std::function<void(bool finished)> completion = {}) override;
    void preroll(float rate, std::function<void(bool finished)> completion) override;
    void cancelPendingPrerolls() override;
    // A preroll is waiting for its item to be ready (for tests, which wait on real time for
    // the decoding threads while holding the run loop).
    bool prerolling() const { return !prerolls_.empty(); }

    ActionAtItemEnd actionAtItemEnd() const override { return action_; }
    void setActionAtItemEnd(ActionAtItemEnd action) override;

    [[nodiscard]] Subscription addPeriodicTimeObserver(
        double interval, std::function<void(double)> observer) override;
    [[nodiscard]] Subscription addBoundaryTimeObserver(std::vector<double> times,
                                                       std::function<void()> observer) override;

    void setFrameFilter(std::shared_ptr<const FrameFilter> filter) override;
    std::shared_ptr<const FrameFilter> frameFilter() const override { return filter_; }

    QImage frameAt(HostTime hostTime) const override;
    Picture pictureAt(HostTime hostTime) const override;
    Published<bool>& hasDisplayableFrame() override { return hasDisplayableFrame_; }

  protected:
    // A player of the items of `family` (see PlayableItem::family()).
    DecodedQueuePlayer(RunLoop& loop, const void* family);
    // Whether insert() would take `item` now.
    bool accepts(const ItemPtr& item) const;

  private:
    friend class PlayableItem;
    // The current item, as the time observers see it.
    class CurrentTimeline final : public ObservedItemTimeline {
      public:
        explicit CurrentTimeline(const DecodedQueuePlayer& player) : player_(player) {}
        bool playing() const override;
        double currentTime() const override { return player_.currentTime(); }
        double endTime() const override;
        ClockTime clockTimeOf(double itemTime) const override;

      private:
        const DecodedQueuePlayer& player_;
    };
    struct Preroll {
        PlayableItemPtr item;
        std::function<void(bool)> completion;
    };
    // What frameAt() needs, published whole on every change (see publish()).
    struct Snapshot {
        std::shared_ptr<const MediaClock> clock;
        std::optional<PlayableItem::View> current;
        // The next item, while the current one will advance to it at clockEnd.
        std::optional<PlayableItem::View> next;
        ClockTime clockEnd{};
        // The player's filter, over the items' own.
        std::shared_ptr<const FrameFilter> filter;
        // The last picture of the item before, shown until the current one has its first.
        Picture carryOver;
        std::shared_ptr<const FrameFilter> carryOverFilter;
    };
    // A picture filtered, or (without a filter) converted to an image for frameAt().
    struct Filtered {
        qint64 key = 0;
        std::shared_ptr<const FrameFilter> filter;
        QImage picture;
    };

    PlayableItemPtr front() const { return items_.empty() ? nullptr : items_.front(); }
    void itemChanged(PlayableItem& item, PlayableItem::Change change);
    // `keepCarryOver`: the picture carried over (from an item before) stays until the new current
    // item has its own.
    void currentChanged(const PlayableItemPtr& oldItem, ClockTime clockTime, bool keepCarryOver);
    void applyRate(float rate, std::optional<ClockTime> startAt);
    // The rate in force at `clockTime` (a change asked for ahead counts from its clock time).
    double rateAt(ClockTime clockTime) const;
    // Gives `item` the player's rate from `clockTime` on, and the change still pending.
    void applyRateTo(PlayableItem& item, ClockTime clockTime);
    // Sets the next item running from the current one's end, where it will advance to it.
    void armNext();
    void reschedule();
    void reachedEnd(PlayableItem* item, ClockTime clockEnd);
    void updateDisplayable();
    void checkPrerolls();
    void detachAll();
    void publish();
    Picture filtered(const Picture& picture,
                     const std::shared_ptr<const FrameFilter>& filter) const;
    // `picture` as an image, the same image for as long as the picture is the same.
    QImage imageOf(const Picture& picture) const;

    RunLoop& loop_;
    const void* family_;
    std::shared_ptr<const MediaClock> clock_;
    std::deque<PlayableItemPtr> items_;
    Published<ItemPtr> currentItem_;
    // The item before, only while currentItem_ notifies.
    PlayableItemPtr previousItem_;
    Published<float> rate_{0.0f};
    float rateValue_ = 0.0f;
    // The rate in force now, and a change asked for ahead of its clock time.
    struct PendingRate {
        ClockTime clockTime{};
        float rate = 0.0f;
    };
    float rateNow_ = 0.0f;
    std::optional<PendingRate> pendingRate_;
    std::shared_ptr<const FrameFilter> filter_;
    ActionAtItemEnd action_ = ActionAtItemEnd::Advance;
    Published<bool> hasDisplayableFrame_{false};

    TimerHandle endTimer_;
    ClockTime clockEnd_{};
    Picture carryOver_;
    std::shared_ptr<const FrameFilter> carryOverFilter_;
    CurrentTimeline timeline_{*this};
    PlayerTimeObservers observers_;
    std::vector<Preroll> prerolls_;

    AtomicSnapshot<const Snapshot> snapshot_;
    // Filtered pictures, shared by every view of this player: so several views pay once.
    mutable std::mutex filteredMutex_;
    mutable std::deque<Filtered> filtered_;
};

}  // namespace kestio::platform::media
