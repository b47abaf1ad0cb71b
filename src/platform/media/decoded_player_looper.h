#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "platform/media/media_time.h"
#include "platform/media/player_looper.h"
#include "platform/media/queue_player.h"
#include "platform/runloop/published.h"

namespace kestio::platform::media {

// The range a looper plays once the item's duration is known: an end past the duration becomes
// the duration; an end at or before the start loops from the start to the end of the item; a
// start at or past the end loops the whole item. Unchanged while the duration is unknown.
TimeRange loopRangeWithin(TimeRange range, double duration);

// The looper of the real media classes (it works over any QueuePlayer and PlayerItem, the test
// fakes' too).
//
// It queues two passes, each ending at the range end and positioned at the range start, so the
// next pass is decoded before the seam: the template item itself first when it stands at the
// range start already (so an item prerolled there keeps its decoded picture), else a replica of
// it, then replicas; a first pass not ready yet is queued alone until it is, so that the next
// pass does not take the processor from the first picture. At each seam the player
// advances to the next replica and the finished replica is repositioned and queued again at
// the tail: at most two decoders, whatever the range. A range shorter than the time the
// finished replica needs to seek back and decode its first picture cannot be pre-rolled in
// one pass: the seam then holds the last picture of the range until the first one is there,
// and the passes keep their times (the clock never waits), so the loop stays in time.
class DecodedPlayerLooper final : public PlayerLooper {
  public:
    // `range` empty: the whole item.
    DecodedPlayerLooper(std::shared_ptr<QueuePlayer> player, const ItemPtr& templateItem,
                        std::optional<TimeRange> range = std::nullopt);
    // Stops looping (as disableLooping()).
    ~DecodedPlayerLooper() override;

    void disableLooping() override;
    bool isLooping() const override { return looping_; }
    const std::vector<ItemPtr>& loopingPlayerItems() const override { return replicas_; }
    int loopCount() const override { return loopCount_; }
    Published<LooperStatus>& status() override { return status_; }
    LooperStatus statusValue() const override { return status_.get(); }
    std::optional<TimeRange> range() const override { return range_; }

  private:
    void replicaStatusChanged(const ItemPtr& replica, ItemStatus status);
    void currentItemChanged(const ItemPtr& oldItem, const ItemPtr& newItem);
    void applyRange(const ItemPtr& replica);
    void applyEnd(const ItemPtr& replica);

    std::shared_ptr<QueuePlayer> player_;
    std::optional<TimeRange> range_;
    std::vector<ItemPtr> replicas_;
    ActionAtItemEnd restoreAction_;
    bool looping_ = true;
    bool clamped_ = false;
    bool nextPassHeld_ = false;  // the next pass waits for the first's picture to be queued
    int loopCount_ = 0;
    ItemPtr endedReplica_;
    Published<LooperStatus> status_{LooperStatus::Unknown};
    std::vector<Subscription> subscriptions_;
};

}  // namespace kestio::platform::media
