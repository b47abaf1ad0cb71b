#pragma once

#include <QSize>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/graphics/frame_filter.h"
#include "platform/media/media_time.h"
#include "platform/runloop/published.h"

namespace kestio::platform::media {

class Asset;

enum class ItemStatus { Unknown = 0, ReadyToPlay = 1, Failed = 2 };

// One playing of an asset: its position, its state and the facts known once it is open.
// Items are made by a MediaFactory and played by a QueuePlayer of the same factory.
//
// Contract for every implementation (all on the run loop's thread):
// - Loading starts when the item is first put into a player's queue. status() goes from
//   Unknown to ReadyToPlay once the first picture (or, for sound only, the file) is there, or
//   to Failed, once; each set notifies. presentationSize(), duration() and hasVideo() are
//   valid from ReadyToPlay on.
// - The item's time stands still until it is ready, while a seek is under way and while it is
//   not its player's current item or the player's rate is 0; otherwise it runs at the
//   player's rate against the player's clock.
// - seek(): the time jumps to the (clamped) target at once; the completion is posted to the
//   run loop (never run inside the call): true once the picture at the landing time is there;
//   false at once when another seek supersedes it, when the item fails or has failed, or when
//   it leaves its player. A seek asked before the item is ready is carried out first and the
//   item becomes ready at its landing.
// - onDidPlayToEnd: the player calls it when playback reaches endTime (the forward playback
//   end time, else the duration); once per arrival, again only after the time moved back
//   before the end (a seek, or a later end time).
class PlayerItem {
  public:
    virtual ~PlayerItem() = default;

    virtual const std::shared_ptr<Asset>& asset() const = 0;
    virtual const std::filesystem::path& url() const = 0;

    virtual Published<ItemStatus>& status() = 0;
    virtual ItemStatus statusValue() const = 0;
    // Why the item failed (empty otherwise).
    virtual const std::string& error() const = 0;
    // False while decoding is not keeping up with the position (nothing decoded beyond it);
    // true once the decoded pictures reach far enough ahead or to the end.
    virtual Published<bool>& isPlaybackLikelyToKeepUp() = 0;
    virtual bool likelyToKeepUp() const = 0;

    // The size pictures are shown at (pixel aspect and rotation applied); 0x0 until ready.
    virtual QSize presentationSize() const = 0;
    // Seconds: NaN until ready; +infinity while unknown (the file does not say).
    virtual double duration() const = 0;
    virtual bool hasVideo() const = 0;
    // The item's time now.
    virtual double currentTime() const = 0;
    // The span of decoded pictures from the position on; empty when nothing beyond it is.
    virtual std::vector<TimeRange> loadedTimeRanges() const = 0;

    // How much compressed data to read ahead of the position (default 2 s; 0 restores it).
    virtual double preferredForwardBufferDuration() const = 0;
    virtual void setPreferredForwardBufferDuration(double seconds) = 0;
    // Where playback of this item ends (NaN: the end of the media).
    virtual double forwardPlaybackEndTime() const = 0;
    virtual void setForwardPlaybackEndTime(double seconds) = 0;
    // The picture step applied to this item's pictures when they are composed (see
    // FrameFilter); null removes it. The change holds from the next picture composed.
    virtual void setFrameFilter(std::shared_ptr<const FrameFilter> filter) = 0;
    virtual std::shared_ptr<const FrameFilter> frameFilter() const = 0;
    bool hasFrameFilter() const { return frameFilter() != nullptr; }

    // Moves the position to `time`, landing in [time - toleranceBefore, time + toleranceAfter]
    // (zero tolerances: exactly at `time`, showing the picture whose interval holds it).
    virtual void seek(double time, double toleranceBefore, double toleranceAfter,
                      std::function<void(bool finished)> completion = {}) = 0;
    virtual void cancelPendingSeeks() = 0;

    // Called on the run loop's thread each time playback of this item reaches its end.
    [[nodiscard]] virtual Subscription onDidPlayToEnd(std::function<void()> observer) = 0;

    // A new item for the same asset with the same frame filter and buffering.
    virtual std::shared_ptr<PlayerItem> replica() const = 0;

  protected:
    PlayerItem() = default;
    PlayerItem(const PlayerItem&) = delete;
    PlayerItem& operator=(const PlayerItem&) = delete;
};

}  // namespace kestio::platform::media
