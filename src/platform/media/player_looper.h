#pragma once

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
// Contract for every implementation (all on the run loop's thread):
// - Creating a looper replaces the player's queue (its current item changes once, to the
//   first pass) and sets its action at item end to Advance while looping.
// - Each pass is an item of the looper's (loopingPlayerItems()) ending at the range end and
//   positioned at the range start; the first is the template item itself when it stands at
//   the range start already, the rest (and otherwise all) replicas of it. At
//   each seam (the clock reaching the range end) the player's current item changes to the next pass
//   and loopCount() counts the pass finished.
// - A range beyond the item is clamped once its duration is known: an end past the duration
//   becomes the duration; an end at or before the start loops from the start to the end of
//   the item; a start at or past the end loops the whole item.
// - status() becomes Ready when the first pass is ready, Failed when the item fails.
// - disableLooping() (also on destruction) removes the passes queued after the current one,
//   restores the player's own action at item end and lets the current pass play to its end.
class PlayerLooper {
  public:
    using ItemPtr = QueuePlayer::ItemPtr;

    virtual ~PlayerLooper() = default;

    virtual void disableLooping() = 0;
    virtual bool isLooping() const = 0;

    // The looper's items, in the order they were made.
    virtual const std::vector<ItemPtr>& loopingPlayerItems() const = 0;
    // Passes completed so far.
    virtual int loopCount() const = 0;
    virtual Published<LooperStatus>& status() = 0;
    virtual LooperStatus statusValue() const = 0;
    // The range looped (clamped to the item once its duration is known); empty: whole item.
    virtual std::optional<TimeRange> range() const = 0;

  protected:
    PlayerLooper() = default;
    PlayerLooper(const PlayerLooper&) = delete;
    PlayerLooper& operator=(const PlayerLooper&) = delete;
};

}  // namespace kestio::platform::media
