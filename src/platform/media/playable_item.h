#pragma once

#include <QImage>
#include <QSize>
#include <algorithm>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <string>

#include "platform/media/item_clock.h"
#include "platform/media/media_time.h"
#include "platform/media/player_item.h"
#include "platform/runloop/media_clock.h"
#include "platform/runloop/published.h"
#include "platform/runloop/run_loop.h"

#include "platform/graphics/picture.h"

namespace kestio::platform::media {

class DecodedQueuePlayer;

// The pictures of one item, for presenter threads: immutable once made.
class ItemPictures {
  public:
    virtual ~ItemPictures() = default;
    // The picture for `itemTime` of an item ending at `endTime` (no filter applied); null when
    // there is none.
    virtual Picture pictureAt(double itemTime, double endTime) const = 0;
};

// A player item as the queue player plays it: its timeline against the player's clock, its
// seeks, its readiness, failure and end, written once. What a source of pictures does (when it
// is ready, when a seek lands, which picture it has for a time) is left to the kinds of item:
// the decoded item and the test fakes. They report it through becomeReady(), landSeek() and
// fail(), and answer the hooks below.
//
// All on the run loop's thread, except View, which any thread may read.
class PlayableItem : public PlayerItem {
  public:
    // Item time against the player's media clock (see ItemClock).
    using Timeline = ItemClock;
    // What composing this item's pictures needs, for presenter threads: immutable once made.
    struct View {
        std::shared_ptr<const ItemPictures> pictures;
        Timeline timeline;
        double endTime = 0.0;
        std::shared_ptr<const FrameFilter> filter;
        // The item's time at `clockTime`, within [0, endTime].
        double timeAt(ClockTime clockTime) const;
        // The picture for `itemTime`, null when there is none.
        Picture pictureAt(double itemTime) const;
    };

    ~PlayableItem() override;

    // Items of one family play in the players of that family only (one media factory's).
    const void* family() const { return family_; }

    Published<ItemStatus>& status() override { return status_; }
    ItemStatus statusValue() const override { return status_.get(); }
    const std::string& error() const override { return error_; }
    Published<bool>& isPlaybackLikelyToKeepUp() override { return keepUp_; }
    bool likelyToKeepUp() const override { return keepUp_.get(); }
    QSize presentationSize() const override { return presentationSize_; }
    double duration() const override { return duration_; }
    bool hasVideo() const override { return hasVideo_; }
    double currentTime() const override;

    double preferredForwardBufferDuration() const override { return forwardBuffer_; }
    void setPreferredForwardBufferDuration(double seconds) override;
    double forwardPlaybackEndTime() const override { return forwardEnd_; }
    void setForwardPlaybackEndTime(double seconds) override;
    void setFrameFilter(std::shared_ptr<const FrameFilter> filter) override;
    std::shared_ptr<const FrameFilter> frameFilter() const override { return filter_; }

    void seek(double time, double toleranceBefore, double toleranceAfter,
              std::function<void(bool finished)> completion = {}) override;
    void cancelPendingSeeks() override;
    [[nodiscard]] Subscription onDidPlayToEnd(std::function<void()> observer) override;

    bool isSeeking() const { return seek_.has_value(); }
    // The picture for `itemTime` (no filter applied).
    Picture pictureAt(double itemTime) const { return view().pictureAt(itemTime); }

  protected:
    enum class Change { Ready, Failed, SeekStarted, SeekLanded, EndMoved, Buffer, Filter };

    PlayableItem(RunLoop& loop, const void* family);

    // ---- what the kinds of item report ----
    // The source is open: the item becomes ready. `seekLanding`: the pending seek (asked before
    // loading) lands there with the readiness.
    void becomeReady(bool hasVideo, double duration, QSize presentationSize,
                     std::optional<double> seekLanding);
    // The pending seek lands at `landing`.
    void landSeek(double landing);
    // The item fails for good (once).
    void fail(const std::string& error);
    void setKeepUp(bool keepUp);
    void notifyOwner(Change change);
    // Shares this item's buffering and filter with a new item of the same asset.
    void copySettingsTo(PlayableItem& copy) const;

    // ---- hooks ----
    // The player took the item: start opening the source (once).
    virtual void startLoading() = 0;
    // A seek starts (the timeline already stands at `target`); the pending seek is `id`.
    virtual void startSeek(std::uint64_t id, double target, double toleranceBefore,
                           double toleranceAfter) = 0;
    // Just before a seek moves the position.
    virtual void seekAsked() {}
    // The pending seek ended without landing (superseded, cancelled, left the player).
    virtual void seekFinished() {}
    // After becomeReady() or landSeek() re-anchored the timeline, before the player hears.
    virtual void settled() {}
    // In fail(), after the seek ended and before the player hears.
    virtual void failing() {}
    // The timeline changed (anchor, rate or clock).
    virtual void timelineChanged() {}
    // The forward playback end time changed.
    virtual void endTimeChanged() {}
    // The preferred forward buffer changed.
    virtual void forwardBufferChanged() {}
    // True while the item has a picture for its time (or is ready with none to show).
    virtual bool hasDisplayableFrame() const { return ready_; }
    virtual std::shared_ptr<const ItemPictures> pictures() const = 0;

    ClockTime clockNow() const;
    double timeAtClock(ClockTime clockTime) const;
    double endTime() const;
    std::optional<std::uint64_t> pendingSeekId() const;
    std::optional<double> pendingSeekTarget() const;
    // The earliest time the pending seek may land on.
    double seekFloor() const { return seekFloor_; }
    const Timeline& timeline() const { return timeline_; }
    const std::shared_ptr<const MediaClock>& mediaClock() const { return mediaClock_; }
    bool isReady() const { return ready_; }
    // True while a player holds the item (as its current item or queued).
    bool inPlayer() const { return owner_ != nullptr; }
    // True while the item is queued behind its player's current item.
    bool queuedBehindCurrent() const;
    // True while the player asks the item to stand: no rate, and no start or change of rate
    // pending. (The timeline also stands while loading or seeking, the player asking it to run.)
    bool pausedByPlayer() const { return clockRate_ <= 0.0 && !rateChange_; }

    RunLoop& loop_;
    Published<ItemStatus> status_{ItemStatus::Unknown};
    Published<bool> keepUp_{false};
    std::string error_;
    QSize presentationSize_{0, 0};
    double duration_;
    // Where the source was seen to end (NaN until then), for sources that do not say.
    double mediaEnd_;
    bool hasVideo_ = false;
    double forwardBuffer_ = 2.0;
    double forwardEnd_;
    std::shared_ptr<const FrameFilter> filter_;
    bool ready_ = false;

  private:
    friend class DecodedQueuePlayer;
    struct PendingSeek {
        std::uint64_t id = 0;
        double target = 0.0;
        std::function<void(bool)> completion;
    };

    // ---- for the player ----
    void attach(DecodedQueuePlayer* player, std::shared_ptr<const MediaClock> clock);
    void detach();
    void setMediaClock(std::shared_ptr<const MediaClock> clock);
    // Runs at `rate` from the player's clock time `clockTime` on, or, given a later `changeAt`,
    // keeps the rate it has until that clock time and runs at `rate` from there.
    void setClockRate(double rate, ClockTime clockTime, std::optional<ClockTime> changeAt = {});
    // Stands (where it stands now) until the clock time `clockTime`, then runs at `rate`: the
    // next item across a seam, so that it starts at the seam by itself. Given a later
    // `changeAt`, it runs at `changeRate` from that clock time on (a rate change asked for
    // beyond the seam), also by itself.
    void startAtClock(ClockTime clockTime, double rate, ClockTime changeAt = ClockTime::infinity(),
                      double changeRate = 0.0);
    // True while the item's time moves, or will at a pending change of rate.
    bool moves() const { return timeline_.moves(); }
    // The clock time at which the item reaches `itemTime` (+infinity while it stands).
    ClockTime clockTimeOf(double itemTime) const;
    void playedToEnd();
    bool endReported() const { return endReported_; }
    bool hasOwner() const { return owner_ != nullptr; }
    View view() const;

    // Re-anchors the timeline at the clock time `clockTime` with the rate now in force.
    void updateClock(ClockTime clockTime);
    void updateClock() { updateClock(clockNow()); }
    void finishSeek(bool finished);

    const void* family_;
    DecodedQueuePlayer* owner_ = nullptr;
    std::shared_ptr<const MediaClock> mediaClock_;
    std::optional<PendingSeek> seek_;
    std::uint64_t seekCounter_ = 0;
    double seekFloor_ = 0.0;
    // The rate the player asks for, and a change of it asked for ahead of its clock time.
    struct RateChange {
        ClockTime clockTime{};
        double rate = 0.0;
    };
    double clockRate_ = 0.0;
    std::optional<RateChange> rateChange_;
    // A change after rateChange_, for an item standing until its start (see startAtClock).
    std::optional<RateChange> laterChange_;
    Timeline timeline_;
    bool endReported_ = false;
    Published<std::uint64_t> endings_{0};
};

}  // namespace kestio::platform::media
