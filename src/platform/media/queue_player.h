#pragma once

#include <QImage>
#include <functional>
#include <memory>
#include <vector>

#include "platform/graphics/picture.h"
#include "platform/media/player_item.h"
#include "platform/runloop/media_clock.h"
#include "platform/runloop/published.h"

namespace kestio::platform::media {

enum class ActionAtItemEnd {
    Advance,  // the next queued item becomes current without a gap
    Pause,    // the rate becomes 0 and the last picture stays
    None,     // the item stays current at its end
};

// Plays a queue of items, one at a time. It makes no sound: its pictures are for player
// layers (any number of them), its sound is played elsewhere.
//
// Time: the current item's time runs against the player's media clock (host time unless
// setClock() gives another, e.g. an audio engine's): item time = anchor item time + rate ×
// (clock time − anchor clock time), while the rate is above 0 (rates below 0 count as 0).
//
// Contract for every implementation (all on the run loop's thread unless said otherwise):
// - insert() refuses (false) an item already in a queue, and an item not made by the same
//   factory. The current item changes (currentItem() set, observeCurrentItem called once with
//   the old and new item) whenever the front of the queue changes, and only then.
// - The end of the current item is handled at the run-loop time the clock reaches the item's
//   end: its onDidPlayToEnd observers run, then the action at item end. With Advance the next
//   item starts from that very clock time (a gapless seam: frameAt() shows the last picture of
//   one item, then the first of the next). A removed or replaced item is let go at once.
// - Boundary observers run at the run-loop time the clock reaches a boundary while playing
//   (boundaries on the end instant before the end is handled); periodic observers every
//   `interval` of item time while playing, and once, posted, after playback starts or stops,
//   a seek lands or the current item changes. Setting the rate to the value it has changes
//   nothing but notifies rate() subscribers.
class QueuePlayer {
  public:
    using ItemPtr = std::shared_ptr<PlayerItem>;

    virtual ~QueuePlayer() = default;

    // The queue. insert() places the item after `after` (at the end when `after` is null or
    // not queued) and starts loading it; an empty queue's first item becomes current at once.
    virtual bool insert(ItemPtr item, const ItemPtr& after = nullptr) = 0;
    virtual void remove(const ItemPtr& item) = 0;
    virtual void removeAllItems() = 0;
    // Replaces the whole queue in one step: the current item changes once, to items[0].
    // Items refused by insert() are skipped.
    virtual void replaceAllItems(std::vector<ItemPtr> items) = 0;
    // Makes the next queued item current now (without an end notification).
    virtual void advanceToNextItem() = 0;
    virtual std::vector<ItemPtr> items() const = 0;

    // The current item (null when the queue is empty).
    virtual Published<ItemPtr>& currentItem() = 0;
    virtual ItemPtr current() const = 0;
    // Called on every change of the current item with the item before and after.
    [[nodiscard]] virtual Subscription observeCurrentItem(
        std::function<void(const ItemPtr& oldItem, const ItemPtr& newItem)> observer) = 0;

    // The clock the items' time runs against (default: host time). Set it before playing.
    virtual void setClock(std::shared_ptr<const MediaClock> clock) = 0;
    virtual std::shared_ptr<const MediaClock> clock() const = 0;

    // Rate: 0 paused, 1 normal speed. Every set notifies the rate's subscribers.
    virtual Published<float>& rate() = 0;
    virtual float rateValue() const = 0;
    virtual void setRate(float rate) = 0;
    // The current item's time keeps the rate it has until the clock reads `atClockTime`, then
    // runs at `rate` from there (so that a sound started or changing pace at that clock time
    // does so with the picture). A time already past takes effect now. rate() gives the new
    // rate at once.
    virtual void setRate(float rate, ClockTime atClockTime) = 0;
    void play() { setRate(1.0f); }
    void pause() { setRate(0.0f); }

    // The current item's time (0 without an item).
    virtual double currentTime() const = 0;
    // Seeks the current item (see PlayerItem::seek); without an item the completion gets false.
    virtual void seek(double time, double toleranceBefore, double toleranceAfter,
                      std::function<void(bool finished)> completion = {}) = 0;
    // Seeks with unlimited tolerance (to the key frame at or before `time`).
    void seek(double time, std::function<void(bool finished)> completion = {});
    // Calls `completion` (posted) with true once the current item is ready and decoded ahead;
    // false when the current item changes, seeks or fails first, or when there is none.
    virtual void preroll(float rate, std::function<void(bool finished)> completion) = 0;
    virtual void cancelPendingPrerolls() = 0;

    virtual ActionAtItemEnd actionAtItemEnd() const = 0;
    virtual void setActionAtItemEnd(ActionAtItemEnd action) = 0;
    // Kept for the callers' sake: playback never waits for buffering before it starts.
    bool automaticallyWaitsToMinimizeStalling() const { return waitsToMinimizeStalling_; }
    void setAutomaticallyWaitsToMinimizeStalling(bool waits) { waitsToMinimizeStalling_ = waits; }
    // Kept for the callers' sake: a queue player is always silent.
    float volume() const { return volume_; }
    void setVolume(float volume) { volume_ = volume; }
    bool isMuted() const { return muted_; }
    void setMuted(bool muted) { muted_ = muted; }

    // Calls `observer` with the current time every `interval` seconds of item time while
    // playing (see above). Nothing is delivered once the subscription ends.
    [[nodiscard]] virtual Subscription addPeriodicTimeObserver(
        double interval, std::function<void(double)> observer) = 0;
    // Calls `observer` when playback crosses one of `times` (item time) while playing. Times
    // jumped over by a seek, and a time the item stands on when it starts, do not count.
    [[nodiscard]] virtual Subscription addBoundaryTimeObserver(std::vector<double> times,
                                                               std::function<void()> observer) = 0;

    // The picture step applied to every picture the player shows, whichever item or loop pass
    // it comes from (over an item's own filter); null removes it. The change holds from the
    // next picture composed, paused or not.
    virtual void setFrameFilter(std::shared_ptr<const FrameFilter> filter) = 0;
    virtual std::shared_ptr<const FrameFilter> frameFilter() const = 0;

    // The picture to compose for host (run-loop) time `hostTime`: the current item's picture
    // for its time then (across an Advance end, the next item's), with the frame filter in
    // force now applied (the player's, else the item's). Null when there is nothing to show. Safe
    // from any thread.
    virtual QImage frameAt(HostTime hostTime) const = 0;
    // The same picture as the compositor takes it: possibly still as decoded (see
    // FrameSource::pictureAt()). By default, frameAt()'s image.
    virtual Picture pictureAt(HostTime hostTime) const { return frameAt(hostTime); }
    // True while the current item has a picture for its time (or is ready and has none
    // to show: a file with sound only).
    virtual Published<bool>& hasDisplayableFrame() = 0;

  protected:
    QueuePlayer() = default;
    QueuePlayer(const QueuePlayer&) = delete;
    QueuePlayer& operator=(const QueuePlayer&) = delete;

  private:
    bool waitsToMinimizeStalling_ = true;
    float volume_ = 1.0f;
    bool muted_ = false;
};

}  // namespace kestio::platform::media
