#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "platform/media/media_time.h"
#include "platform/media/queue_player.h"
#include "platform/runloop/published.h"

namespace kestio::platform::media {

enum class LooperStatus { Unknown, Ready, Failed, Cancelled };

// Plays a time range of an item over and over on a queue player, without a gap: the last
// picture of the range is followed by the first picture of the range on the next display
// tick, never a repeated, skipped or black one.
//
// It queues replicas of the template item (at least three, more for short ranges), each
// ending at the range end and positioned at the range start, so the next pass is decoded
// before the seam. At each seam the player advances to the next replica (its current item
// changes) and the finished replica is repositioned and queued again at the tail. The player's
// queue is replaced at creation (the current item changes once, to the first replica) and its
// action at item end is Advance while looping.
//
// A range beyond the item is clamped once its duration is known: an end past the duration
// becomes the duration; an end at or before the start loops from the start to the end of the
// item; a start at or past the end loops the whole item.
class PlayerLooper {
  public:
    using ItemPtr = QueuePlayer::ItemPtr;

    // `range` empty: the whole item.
    PlayerLooper(std::shared_ptr<QueuePlayer> player, const ItemPtr& templateItem,
                 std::optional<TimeRange> range = std::nullopt);
    // Stops looping (as disableLooping()).
    ~PlayerLooper();
    PlayerLooper(const PlayerLooper&) = delete;
    PlayerLooper& operator=(const PlayerLooper&) = delete;

    // Stops re-queuing: the replicas queued after the current one are removed, the player's
    // own action at item end is restored, and the current replica plays to the range end.
    void disableLooping();
    bool isLooping() const { return looping_; }

    // The replicas, in the order they were made.
    const std::vector<ItemPtr>& loopingPlayerItems() const { return replicas_; }
    // Passes completed so far.
    int loopCount() const { return loopCount_; }
    // Unknown until the first replica is ready; Failed when the media cannot be played.
    Published<LooperStatus>& status() { return status_; }
    LooperStatus statusValue() const { return status_.get(); }
    // The range looped (clamped to the item once its duration is known); empty: whole item.
    std::optional<TimeRange> range() const { return range_; }

  private:
    void replicaStatusChanged(const ItemPtr& replica, ItemStatus status);
    void currentItemChanged(const ItemPtr& oldItem, const ItemPtr& newItem);
    void applyRange(const ItemPtr& replica);

    std::shared_ptr<QueuePlayer> player_;
    std::optional<TimeRange> range_;
    std::vector<ItemPtr> replicas_;
    ActionAtItemEnd restoreAction_;
    bool looping_ = true;
    bool clamped_ = false;
    int loopCount_ = 0;
    ItemPtr endedReplica_;
    Published<LooperStatus> status_{LooperStatus::Unknown};
    std::vector<Subscription> subscriptions_;
};

}  // namespace kestio::platform::media
