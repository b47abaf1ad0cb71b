#pragma once

#include <QImage>
#include <QSize>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/media/media_factory.h"
#include "platform/media/player_time_observers.h"
#include "platform/runloop/run_loop.h"

namespace kestio::test {

// Scripted stand-ins for the media classes, exact in virtual time: every step (a load, an
// item's readiness, a seek, an end, a seam) happens at the run-loop time its script says, so
// tests driving a ManualRunLoop can assert what happens when to the tick. They follow the
// contracts of the interfaces in platform/media, as the decoded classes do, with nothing
// decoded: pictures are tiny synthetic images that say which file and frame they show. The
// looper is the real one (it works over any player), and the queue player keeps its time
// observers with the real player's PlayerTimeObservers.

// What a file holds and how long each step takes, in run-loop seconds.
struct FakeMediaScript {
    struct Video {
        double frameRate = 30000.0 / 1001.0;
        QSize naturalSize{1920, 1080};
        int rotation = 0;
    };
    struct Audio {
        double sampleRate = 48000.0;
        int channels = 2;
    };

    // False: the asset's load and every item fail with `error`.
    bool loads = true;
    std::string error = "The file could not be opened.";
    // Seconds; +infinity when the file does not say (items then never end).
    double duration = 10.0;
    std::optional<Video> video = Video{};
    std::optional<Audio> audio = Audio{};

    // From the asset's first load to its answer.
    double assetLoadDelay = 0.1;
    // From an item's first insertion into a player to ReadyToPlay (or Failed). A seek asked
    // before then lands with the readiness.
    double readyDelay = 0.1;
    // From a seek of a ready item to its landing.
    double seekDuration = 0.05;
    // From readiness or a seek's landing to likely-to-keep-up (what a preroll waits for).
    double prerollDelay = 0.0;

    platform::media::MediaInfo info() const;
    // The natural size with the rotation applied.
    QSize presentationSize() const;
    // Index of the picture shown at `itemTime` of an item ending at `endTime` (the last
    // picture before the end at and past it); -1 without video.
    int frameIndexAt(double itemTime, double endTime) const;
};

// Which file and picture a fake picture shows. Fake pictures are 16x9: pixel (0, 0) holds the
// frame index, pixel (1, 0) a 24-bit tag of the URL, pixel (2, 0) a marker, the rest grey.
struct FakeFrame {
    std::uint32_t urlTag = 0;
    int index = -1;

    static FakeFrame of(const std::filesystem::path& url, int index);
    bool operator==(const FakeFrame&) const = default;
};
std::uint32_t fakeUrlTag(const std::filesystem::path& url);
QImage fakeFramePicture(const FakeFrame& frame);
// Empty when `image` is null or not a fake picture (its marker is missing).
std::optional<FakeFrame> readFakeFrame(const QImage& image);

class FakeQueuePlayer;
namespace detail {
struct FakeMediaRegistry;
}

class FakeAsset final : public platform::media::Asset,
                        public std::enable_shared_from_this<FakeAsset> {
  public:
    FakeAsset(platform::RunLoop& loop, std::filesystem::path url, FakeMediaScript script);

    const std::filesystem::path& url() const override { return url_; }
    platform::RunLoop& runLoop() const override { return loop_; }
    void loadInfo(std::function<void(const platform::media::Loaded<platform::media::MediaInfo>&)>
                      done) override;

    const FakeMediaScript& script() const { return script_; }
    int loadCount() const { return loadCount_; }

  private:
    using Done = std::function<void(const platform::media::Loaded<platform::media::MediaInfo>&)>;
    platform::media::Loaded<platform::media::MediaInfo> answer() const;

    platform::RunLoop& loop_;
    std::filesystem::path url_;
    FakeMediaScript script_;
    bool answered_ = false;
    int loadCount_ = 0;
    std::vector<Done> waiting_;
    platform::TimerHandle timer_;
};

class FakePlayerItem final : public platform::media::PlayerItem,
                             public std::enable_shared_from_this<FakePlayerItem> {
  public:
    struct SeekCall {
        double time;
        double toleranceBefore;
        double toleranceAfter;
        double hostTime;
    };
    // Item time against the player's clock: anchorItem + rate × (clockTime − anchorClock),
    // standing at anchorItem before anchorClock.
    struct Timeline {
        double anchorItem = 0.0;
        double anchorClock = 0.0;
        double rate = 0.0;
        double at(double clockTime) const;
    };
    // What a picture of this item needs, for any thread.
    struct View {
        std::filesystem::path url;
        FakeMediaScript script;
        bool showsPictures = false;
        Timeline timeline;
        double endTime = 0.0;
        std::shared_ptr<const platform::media::FrameFilter> filter;
        double timeAt(double clockTime) const;
        QImage pictureAt(double itemTime) const;
    };

    FakePlayerItem(std::shared_ptr<detail::FakeMediaRegistry> registry,
                   std::shared_ptr<platform::media::Asset> asset, FakeMediaScript script);
    ~FakePlayerItem() override;

    const std::shared_ptr<platform::media::Asset>& asset() const override { return asset_; }
    const std::filesystem::path& url() const override { return asset_->url(); }
    platform::Published<platform::media::ItemStatus>& status() override { return status_; }
    platform::media::ItemStatus statusValue() const override { return status_.get(); }
    const std::string& error() const override { return error_; }
    platform::Published<bool>& isPlaybackLikelyToKeepUp() override { return keepUp_; }
    bool likelyToKeepUp() const override { return keepUp_.get(); }
    QSize presentationSize() const override { return presentationSize_; }
    double duration() const override { return duration_; }
    bool hasVideo() const override { return hasVideo_; }
    double currentTime() const override;
    std::vector<platform::media::TimeRange> loadedTimeRanges() const override;
    double preferredForwardBufferDuration() const override { return forwardBuffer_; }
    void setPreferredForwardBufferDuration(double seconds) override;
    double forwardPlaybackEndTime() const override { return forwardEnd_; }
    void setForwardPlaybackEndTime(double seconds) override;
    void setFrameFilter(std::shared_ptr<const platform::media::FrameFilter> filter) override;
    std::shared_ptr<const platform::media::FrameFilter> frameFilter() const override {
        return filter_;
    }
    void seek(double time, double toleranceBefore, double toleranceAfter,
              std::function<void(bool finished)> completion = {}) override;
    void cancelPendingSeeks() override;
    [[nodiscard]] platform::Subscription onDidPlayToEnd(std::function<void()> observer) override;
    std::shared_ptr<platform::media::PlayerItem> replica() const override;

    // For tests.
    const FakeMediaScript& script() const { return script_; }
    const std::vector<SeekCall>& seeks() const { return seeks_; }
    bool isSeeking() const { return seek_.has_value(); }
    bool loadingStarted() const { return loadingStarted_; }
    // The item fails now (a file that breaks while playing).
    void failNow(const std::string& error);
    // Decoding falls behind (false) or catches up (true) now.
    void setLikelyToKeepUp(bool keepUp);
    // The picture this item shows at item time `itemTime` (no filter applied).
    QImage pictureAt(double itemTime) const { return view().pictureAt(itemTime); }

  private:
    friend class FakeQueuePlayer;
    enum class Change { Ready, Failed, SeekStarted, SeekLanded, EndMoved, Buffer, Filter };
    struct PendingSeek {
        double target = 0.0;
        std::function<void(bool)> completion;
    };

    void attach(FakeQueuePlayer* player, std::shared_ptr<const platform::MediaClock> clock);
    void detach();
    void setMediaClock(std::shared_ptr<const platform::MediaClock> clock);
    void setClockRate(double rate, double clockTime, std::optional<double> startAt = {});
    double effectiveRate() const { return timeline_.rate; }
    double clockNow() const;
    double timeAtClock(double clockTime) const;
    double clockTimeOf(double itemTime) const;
    double endTime() const;
    bool isReady() const { return ready_; }
    bool endReported() const { return endReported_; }
    void playedToEnd();
    View view() const;

    void startLoading();
    void becomeReady();
    void land();
    void finishSeek(bool finished);
    void scheduleKeepUp();
    void updateClock(double clockTime);
    void notifyOwner(Change change);

    std::shared_ptr<detail::FakeMediaRegistry> registry_;
    platform::RunLoop& loop_;
    std::shared_ptr<platform::media::Asset> asset_;
    FakeMediaScript script_;
    platform::Published<platform::media::ItemStatus> status_{platform::media::ItemStatus::Unknown};
    platform::Published<bool> keepUp_{false};
    std::string error_;
    QSize presentationSize_{0, 0};
    double duration_;
    bool hasVideo_ = false;
    double forwardBuffer_ = 2.0;
    double forwardEnd_;
    std::shared_ptr<const platform::media::FrameFilter> filter_;

    FakeQueuePlayer* owner_ = nullptr;
    std::shared_ptr<const platform::MediaClock> clock_;
    bool loadingStarted_ = false;
    bool ready_ = false;
    bool endReported_ = false;
    std::optional<PendingSeek> seek_;
    double clockRate_ = 0.0;
    std::optional<double> startAt_;
    Timeline timeline_;
    platform::TimerHandle readyTimer_;
    platform::TimerHandle seekTimer_;
    platform::TimerHandle keepUpTimer_;
    platform::Published<std::uint64_t> endings_{0};
    std::vector<SeekCall> seeks_;
};

class FakeQueuePlayer final : public platform::media::QueuePlayer,
                              public std::enable_shared_from_this<FakeQueuePlayer> {
  public:
    // A call made on the player, for assertions.
    struct Call {
        enum class Kind {
            Insert,
            Remove,
            RemoveAll,
            ReplaceAll,
            AdvanceToNext,
            SetClock,
            SetRate,
            Seek,
            Preroll,
            CancelPrerolls,
            SetActionAtItemEnd,
        };
        Kind kind = Kind::Insert;
        double hostTime = 0.0;
        // Insert and Remove: the item; Seek: the current item (identity only).
        const platform::media::PlayerItem* item = nullptr;
        // Insert: whether the item was taken.
        bool accepted = true;
        // Seek: the target and tolerances.
        double time = 0.0;
        double toleranceBefore = 0.0;
        double toleranceAfter = 0.0;
        // SetRate and Preroll: the rate; SetRate: the clock time asked for, if any.
        float rate = 0.0f;
        std::optional<double> atClockTime{};
        platform::media::ActionAtItemEnd action = platform::media::ActionAtItemEnd::Advance;
    };

    FakeQueuePlayer(std::shared_ptr<detail::FakeMediaRegistry> registry);
    ~FakeQueuePlayer() override;

    bool insert(ItemPtr item, const ItemPtr& after = nullptr) override;
    void remove(const ItemPtr& item) override;
    void removeAllItems() override;
    void replaceAllItems(std::vector<ItemPtr> items) override;
    void advanceToNextItem() override;
    std::vector<ItemPtr> items() const override { return {items_.begin(), items_.end()}; }
    platform::Published<ItemPtr>& currentItem() override { return currentItem_; }
    ItemPtr current() const override { return front(); }
    [[nodiscard]] platform::Subscription observeCurrentItem(
        std::function<void(const ItemPtr& oldItem, const ItemPtr& newItem)> observer) override;
    void setClock(std::shared_ptr<const platform::MediaClock> clock) override;
    std::shared_ptr<const platform::MediaClock> clock() const override { return clock_; }
    platform::Published<float>& rate() override { return rate_; }
    float rateValue() const override { return rateValue_; }
    void setRate(float rate) override;
    void setRate(float rate, double atClockTime) override;
    double currentTime() const override;
    using QueuePlayer::seek;
    void seek(double time, double toleranceBefore, double toleranceAfter,
              std::function<void(bool finished)> completion = {}) override;
    void preroll(float rate, std::function<void(bool finished)> completion) override;
    void cancelPendingPrerolls() override;
    platform::media::ActionAtItemEnd actionAtItemEnd() const override { return action_; }
    void setActionAtItemEnd(platform::media::ActionAtItemEnd action) override;
    [[nodiscard]] platform::Subscription addPeriodicTimeObserver(
        double interval, std::function<void(double)> observer) override;
    [[nodiscard]] platform::Subscription addBoundaryTimeObserver(
        std::vector<double> times, std::function<void()> observer) override;
    QImage frameAt(double hostTime) const override;
    platform::Published<bool>& hasDisplayableFrame() override { return hasDisplayableFrame_; }

    // For tests.
    const std::vector<Call>& calls() const { return calls_; }
    std::vector<Call> callsOf(Call::Kind kind) const;
    void clearCalls() { calls_.clear(); }
    // Which picture frameAt(hostTime) shows (empty for none).
    std::optional<FakeFrame> frameShownAt(double hostTime) const {
        return readFakeFrame(frameAt(hostTime));
    }

  private:
    friend class FakePlayerItem;
    using FakeItemPtr = std::shared_ptr<FakePlayerItem>;
    // The current item, as the time observers see it.
    class CurrentTimeline final : public platform::media::PlayerTimeline {
      public:
        explicit CurrentTimeline(const FakeQueuePlayer& player) : player_(player) {}
        bool playing() const override;
        double currentTime() const override { return player_.currentTime(); }
        double endTime() const override;
        double clockTimeOf(double itemTime) const override;

      private:
        const FakeQueuePlayer& player_;
    };
    struct Preroll {
        FakeItemPtr item;
        std::function<void(bool)> completion;
    };
    struct Snapshot {
        std::shared_ptr<const platform::MediaClock> clock;
        std::optional<FakePlayerItem::View> current;
        std::optional<FakePlayerItem::View> next;
        double clockEnd = 0.0;
        double rate = 0.0;
        QImage carryOver;
        std::shared_ptr<const platform::media::FrameFilter> carryOverFilter;
    };

    FakeItemPtr front() const { return items_.empty() ? nullptr : items_.front(); }
    void log(Call call);
    void itemChanged(FakePlayerItem& item, FakePlayerItem::Change change);
    void currentChanged(const FakeItemPtr& oldItem, double clockTime, bool gapless);
    void applyRate(float rate, std::optional<double> startAt);
    void reschedule();
    void reachedEnd(FakePlayerItem* item, double clockEnd);
    void updateDisplayable();
    void checkPrerolls();
    void detachAll();
    void publish();

    std::shared_ptr<detail::FakeMediaRegistry> registry_;
    platform::RunLoop& loop_;
    std::shared_ptr<const platform::MediaClock> clock_;
    std::vector<FakeItemPtr> items_;
    platform::Published<ItemPtr> currentItem_;
    FakeItemPtr previousItem_;
    platform::Published<float> rate_{0.0f};
    float rateValue_ = 0.0f;
    platform::media::ActionAtItemEnd action_ = platform::media::ActionAtItemEnd::Advance;
    platform::Published<bool> hasDisplayableFrame_{false};
    platform::TimerHandle endTimer_;
    double clockEnd_;
    QImage carryOver_;
    std::shared_ptr<const platform::media::FrameFilter> carryOverFilter_;
    CurrentTimeline timeline_{*this};
    platform::media::PlayerTimeObservers observers_;
    std::vector<Preroll> prerolls_;
    std::vector<Call> calls_;

    mutable std::mutex snapshotMutex_;
    std::shared_ptr<const Snapshot> snapshot_;
};

class FakePlayerLayer final : public platform::media::PlayerLayer {
  public:
    explicit FakePlayerLayer(std::shared_ptr<platform::media::QueuePlayer> player);

    void setPlayer(std::shared_ptr<platform::media::QueuePlayer> player) override;
    std::shared_ptr<platform::media::QueuePlayer> player() const override;
    platform::Published<bool>& isReadyForDisplay() override { return ready_; }
    bool readyForDisplay() const override { return ready_.get(); }
    QImage frameAt(double hostTime) const override;

  private:
    void update(bool ready);

    mutable std::mutex mutex_;
    std::shared_ptr<platform::media::QueuePlayer> player_;
    platform::Published<bool> ready_{false};
    platform::Subscription subscription_;
};

// Makes the fakes on `loop`, each URL following its script (the default script for URLs
// without one). Scripts are read when an asset or item is made.
class FakeMediaFactory final : public platform::media::MediaFactory {
  public:
    explicit FakeMediaFactory(platform::RunLoop& loop);
    ~FakeMediaFactory() override;

    void setScript(const std::filesystem::path& url, FakeMediaScript script);
    void setDefaultScript(FakeMediaScript script);
    FakeMediaScript script(const std::filesystem::path& url) const;

    std::shared_ptr<platform::media::Asset> makeAsset(const std::filesystem::path& url) override;
    std::shared_ptr<platform::media::PlayerItem> makeItem(
        std::shared_ptr<platform::media::Asset> asset) override;
    std::shared_ptr<platform::media::QueuePlayer> makeQueuePlayer() override;
    std::unique_ptr<platform::media::PlayerLooper> makeLooper(
        std::shared_ptr<platform::media::QueuePlayer> player,
        const std::shared_ptr<platform::media::PlayerItem>& item,
        std::optional<platform::media::TimeRange> range) override;
    std::unique_ptr<platform::media::PlayerLayer> makePlayerLayer(
        std::shared_ptr<platform::media::QueuePlayer> player) override;

    // What was made and is still alive, in the order made (replicas included).
    std::vector<std::shared_ptr<FakeAsset>> assets() const;
    std::vector<std::shared_ptr<FakePlayerItem>> items() const;
    std::vector<std::shared_ptr<FakeQueuePlayer>> players() const;
    int loopersMade() const;

  private:
    std::shared_ptr<detail::FakeMediaRegistry> registry_;
};

}  // namespace kestio::test
