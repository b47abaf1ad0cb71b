#pragma once

#include <QImage>
#include <QSize>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/media/frame_filter.h"
#include "platform/media/item_decoder.h"
#include "platform/media/media_time.h"
#include "platform/runloop/published.h"
#include "platform/runloop/run_loop.h"

namespace kestio::platform::media {

class Asset;
class QueuePlayer;

enum class ItemStatus { Unknown = 0, ReadyToPlay = 1, Failed = 2 };

// One playing of an asset: its position, its pictures and its state. An item starts loading
// when it is first put into a player's queue: a decode thread of its own opens the file and
// decodes ahead of the position. It is ready to play once its first picture is decoded (or,
// for a file with sound only, once it is open), and failed when the file cannot be opened or
// yields no picture.
//
// An item's clock is the run loop's clock: while it is its player's current item and the
// player's rate is above 0, its time runs at that rate from the moment it became ready (or
// from the moment a seek landed). Items belong to the run loop's thread.
class PlayerItem : public std::enable_shared_from_this<PlayerItem> {
    struct Token {};

  public:
    static std::shared_ptr<PlayerItem> make(std::shared_ptr<Asset> asset);
    PlayerItem(Token, std::shared_ptr<Asset> asset);
    // Stops and joins the decode thread.
    ~PlayerItem();
    PlayerItem(const PlayerItem&) = delete;
    PlayerItem& operator=(const PlayerItem&) = delete;

    const std::shared_ptr<Asset>& asset() const { return asset_; }
    const std::filesystem::path& url() const;

    Published<ItemStatus>& status() { return status_; }
    ItemStatus statusValue() const { return status_.get(); }
    // Why the item failed (empty otherwise).
    const std::string& error() const { return error_; }
    // False while the decoder is not keeping up with the position (nothing decoded beyond it);
    // true once the picture queue is full or holds everything to the end.
    Published<bool>& isPlaybackLikelyToKeepUp() { return keepUp_; }
    bool likelyToKeepUp() const { return keepUp_.get(); }

    // The size pictures are shown at (pixel aspect and rotation applied); 0x0 until ready.
    QSize presentationSize() const { return presentationSize_; }
    // Seconds: NaN until ready; +infinity while unknown (the file does not say), until the
    // decoder reaches the end of the pictures.
    double duration() const { return duration_; }
    bool hasVideo() const { return hasVideo_; }
    double currentTime() const;
    // The span of decoded pictures from the position on (to the end once everything is
    // decoded); empty when nothing beyond the position is decoded.
    std::vector<TimeRange> loadedTimeRanges() const;

    // How much compressed data to read ahead of the position (default 2 s; 0 restores it).
    // Decoded pictures are kept for a quarter of a second ahead (at least three, at most
    // twelve, less for very large pictures), so memory stays bounded.
    double preferredForwardBufferDuration() const { return forwardBuffer_; }
    void setPreferredForwardBufferDuration(double seconds);
    // Where playback of this item ends (NaN: the end of the media).
    double forwardPlaybackEndTime() const { return forwardEnd_; }
    void setForwardPlaybackEndTime(double seconds);
    // Runs on the decode thread on every picture decoded from now on (an empty filter
    // removes it). Pictures already queued are not filtered again.
    void setFrameFilter(FrameFilter filter);
    bool hasFrameFilter() const { return filter_ != nullptr; }

    // Moves the position to `time`, landing in [time - toleranceBefore, time + toleranceAfter]
    // (zero tolerances: exactly at `time`, showing the picture whose interval holds it). The
    // completion runs on the run loop's thread: true once the picture at the landing time is
    // decoded; false when the seek is superseded by another, when the item fails or when it
    // leaves its player. While a seek is under way the item's time stands at `time`.
    void seek(double time, double toleranceBefore, double toleranceAfter,
              std::function<void(bool finished)> completion = {});
    void cancelPendingSeeks();

    // Called on the run loop's thread each time playback of this item reaches its end.
    [[nodiscard]] Subscription onDidPlayToEnd(std::function<void()> observer);

    // A new item for the same asset with the same frame filter and buffering.
    std::shared_ptr<PlayerItem> replica() const;

    // The picture for `itemTime`: the queued picture whose interval holds it, or the last one
    // shown while nothing newer is decoded (during a seek, say). Null before the first.
    QImage frameAt(double itemTime) const;

  private:
    friend class QueuePlayer;
    enum class Change { Ready, Failed, SeekStarted, SeekLanded, EndMoved, Buffer };

    struct PendingSeek {
        std::uint64_t id = 0;
        std::function<void(bool)> completion;
    };

    // For the player.
    void attach(QueuePlayer* player);
    void detach(double host);
    void setClockRate(double rate, double host);
    double effectiveRate() const { return clock_.rate; }
    double timeAt(double host) const;
    double hostTimeOf(double itemTime) const;
    double endTime() const;
    bool hasDisplayableFrame() const;
    void release(double host);
    void refreshBuffer();
    void playedToEnd();
    bool endReported() const { return endReported_; }
    bool isReady() const { return ready_; }

    void startLoading();
    void handle(const DecoderEvent& event);
    void updateClock(double host);
    void notifyOwner(Change change);
    void finishSeek(bool finished);

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

    QueuePlayer* owner_ = nullptr;
    std::unique_ptr<ItemDecoder> decoder_;
    std::optional<SeekRequest> queuedSeek_;
    std::optional<PendingSeek> seek_;
    std::uint64_t seekCounter_ = 0;
    double clockRate_ = 0.0;
    ItemClock clock_;
    bool ready_ = false;
    bool endReported_ = false;
    bool displayable_ = false;
    mutable QImage held_;
    Published<std::uint64_t> endings_{0};
};

}  // namespace kestio::platform::media
