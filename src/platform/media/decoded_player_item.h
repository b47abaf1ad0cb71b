#pragma once

#include <QImage>
#include <QSize>
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/media/item_decoder.h"
#include "platform/media/media_time.h"
#include "platform/media/player_item.h"
#include "platform/runloop/media_clock.h"
#include "platform/runloop/published.h"
#include "platform/runloop/run_loop.h"

namespace kestio::platform::media {

class DecodedQueuePlayer;

// A player item that decodes its file with FFmpeg: a decode thread of its own opens the file
// and decodes ahead of the position. It is ready to play once its first picture is decoded
// (or, for a file with sound only, once it is open), and failed when the file cannot be opened
// or yields no picture. It plays in a DecodedQueuePlayer only.
class DecodedPlayerItem final : public PlayerItem,
                                public std::enable_shared_from_this<DecodedPlayerItem> {
    struct Token {};

  public:
    static std::shared_ptr<DecodedPlayerItem> make(std::shared_ptr<Asset> asset);
    DecodedPlayerItem(Token, std::shared_ptr<Asset> asset);
    ~DecodedPlayerItem() override;

    const std::shared_ptr<Asset>& asset() const override { return asset_; }
    const std::filesystem::path& url() const override;

    Published<ItemStatus>& status() override { return status_; }
    ItemStatus statusValue() const override { return status_.get(); }
    const std::string& error() const override { return error_; }
    Published<bool>& isPlaybackLikelyToKeepUp() override { return keepUp_; }
    bool likelyToKeepUp() const override { return keepUp_.get(); }

    QSize presentationSize() const override { return presentationSize_; }
    // +infinity while unknown, until the decoder reaches the end of the pictures.
    double duration() const override { return duration_; }
    bool hasVideo() const override { return hasVideo_; }
    double currentTime() const override;
    // To the end once everything is decoded.
    std::vector<TimeRange> loadedTimeRanges() const override;

    // Decoded pictures are kept for a quarter of a second ahead (at least three, at most
    // twelve, less for very large pictures), so memory stays bounded.
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

    std::shared_ptr<PlayerItem> replica() const override;

    // The decoded picture for `itemTime` (no filter applied): the queued picture whose
    // interval holds it, or the last one kept while nothing newer is decoded (during a seek,
    // say). Null before the first.
    QImage frameAt(double itemTime) const;

  private:
    friend class DecodedQueuePlayer;
    enum class Change { Ready, Failed, SeekStarted, SeekLanded, EndMoved, Buffer, Filter };

    struct PendingSeek {
        std::uint64_t id = 0;
        std::function<void(bool)> completion;
    };

  public:
    // Item time against the player's media clock: anchorItem + rate × (clockTime −
    // anchorClock), standing at anchorItem before anchorClock (a start at a later clock time).
    struct Timeline {
        double anchorItem = 0.0;
        double anchorClock = 0.0;
        double rate = 0.0;
        double at(double clockTime) const {
            return anchorItem + rate * std::max(0.0, clockTime - anchorClock);
        }
    };
    // What composing this item's pictures needs, for presenter threads: immutable once made.
    struct View {
        std::shared_ptr<ItemDecoder> decoder;
        Timeline timeline;
        double endTime = 0.0;
        QImage held;
        std::shared_ptr<const FrameFilter> filter;
        // The item's time at `clockTime`, within [0, endTime].
        double timeAt(double clockTime) const;
        // The decoded picture for `itemTime`, or the one kept while none is decoded.
        QImage pictureAt(double itemTime) const;
    };

  private:
    // For the player.
    void attach(DecodedQueuePlayer* player, std::shared_ptr<const MediaClock> clock);
    void detach();
    void setMediaClock(std::shared_ptr<const MediaClock> clock);
    // Runs at `rate` from the player's clock time `clockNow` on, or, given `startAt`, stands
    // until that clock time and runs from there.
    void setClockRate(double rate, double clockNow, std::optional<double> startAt = {});
    double effectiveRate() const { return timeline_.rate; }
    double clockNow() const;
    double timeAtClock(double clockTime) const;
    // The clock time at which the item reaches `itemTime` (+infinity while it stands).
    double clockTimeOf(double itemTime) const;
    double endTime() const;
    bool hasDisplayableFrame() const;
    void refreshBuffer();
    void playedToEnd();
    bool endReported() const { return endReported_; }
    bool isReady() const { return ready_; }
    View view() const;

    void startLoading();
    void handle(const DecoderEvent& event);
    // Re-anchors the timeline at the clock time `clockTime` with the rate now in force.
    void updateClock(double clockTime);
    void updateClock() { updateClock(clockNow()); }
    void notifyOwner(Change change);
    void finishSeek(bool finished);
    void keepShownPicture();

    RunLoop& loop_;
    std::shared_ptr<Asset> asset_;
    Published<ItemStatus> status_{ItemStatus::Unknown};
    Published<bool> keepUp_{false};
    std::string error_;
    QSize presentationSize_{0, 0};
    double duration_;
    double mediaEnd_;
    bool hasVideo_ = false;
    double forwardBuffer_ = 2.0;
    double forwardEnd_;
    std::shared_ptr<const FrameFilter> filter_;

    DecodedQueuePlayer* owner_ = nullptr;
    std::shared_ptr<const MediaClock> mediaClock_;
    // Shared with the player's snapshots, which may keep it after the item is gone.
    std::shared_ptr<ItemDecoder> decoder_;
    std::optional<SeekRequest> queuedSeek_;
    std::optional<PendingSeek> seek_;
    std::uint64_t seekCounter_ = 0;
    // The earliest time the pending seek may land on.
    double seekFloor_ = 0.0;
    double clockRate_ = 0.0;
    std::optional<double> startAt_;
    Timeline timeline_;
    bool ready_ = false;
    bool endReported_ = false;
    bool displayable_ = false;
    // The picture last known to be shown, for while the decoder has none (during a seek).
    QImage held_;
    Published<std::uint64_t> endings_{0};
};

}  // namespace kestio::platform::media
