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

#include "platform/media/item_decoder.h"
#include "platform/media/media_time.h"
#include "platform/media/player_item.h"
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
    enum class Change { Ready, Failed, SeekStarted, SeekLanded, EndMoved, Buffer };

    struct PendingSeek {
        std::uint64_t id = 0;
        std::function<void(bool)> completion;
    };

    // For the player.
    void attach(DecodedQueuePlayer* player);
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

    DecodedQueuePlayer* owner_ = nullptr;
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
