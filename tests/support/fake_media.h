#pragma once

#include <QImage>
#include <QSize>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/media/decoded_queue_player.h"
#include "platform/media/media_factory.h"
#include "platform/media/playable_item.h"
#include "platform/runloop/run_loop.h"

namespace kestio::test {

// Scripted stand-ins for the media classes, exact in virtual time: every step (a load, an
// item's readiness, a seek, an end, a seam) happens at the run-loop time its script says, so
// tests driving a ManualRunLoop can assert what happens when to the tick. They follow the
// contracts of the interfaces in platform/media with nothing decoded: pictures are tiny
// synthetic images that say which file and frame they show. Only what a decoder does is faked:
// the queue player, the looper and the player layer are the real ones, and the fake items share the
// real items' timeline, seek and end code (PlayableItem).

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

// A scripted item: it fakes what a decoder does (when it is ready, when a seek lands, which
// picture it has for a time, failures); its timeline, seeks and end are the real items' own.
class FakePlayerItem final : public platform::media::PlayableItem,
                             public std::enable_shared_from_this<FakePlayerItem> {
  public:
    struct SeekCall {
        double time;
        double toleranceBefore;
        double toleranceAfter;
        platform::HostTime hostTime{};
    };

    FakePlayerItem(std::shared_ptr<detail::FakeMediaRegistry> registry,
                   std::shared_ptr<platform::media::Asset> asset, FakeMediaScript script);
    ~FakePlayerItem() override;

    const std::shared_ptr<platform::media::Asset>& asset() const override { return asset_; }
    const std::filesystem::path& url() const override { return asset_->url(); }
    std::vector<platform::media::TimeRange> loadedTimeRanges() const override;
    using PlayableItem::seek;
    void seek(double time, double toleranceBefore, double toleranceAfter,
              std::function<void(bool finished)> completion = {}) override;
    std::shared_ptr<platform::media::PlayerItem> replica() const override;

    // For tests.
    const FakeMediaScript& script() const { return script_; }
    const std::vector<SeekCall>& seeks() const { return seeks_; }
    bool loadingStarted() const { return loadingStarted_; }
    // The item fails now (a file that breaks while playing).
    void failNow(const std::string& error);
    // Decoding falls behind (false) or catches up (true) now.
    void setLikelyToKeepUp(bool keepUp);

  private:
    void startLoading() override;
    void startSeek(std::uint64_t id, double target, double toleranceBefore,
                   double toleranceAfter) override;
    void seekFinished() override;
    void settled() override { scheduleKeepUp(); }
    void failing() override;
    std::shared_ptr<const platform::media::ItemPictures> pictures() const override;

    void becomeReady();
    void land();
    void scheduleKeepUp();

    std::shared_ptr<detail::FakeMediaRegistry> registry_;
    std::shared_ptr<platform::media::Asset> asset_;
    FakeMediaScript script_;
    bool loadingStarted_ = false;
    platform::TimerHandle readyTimer_;
    platform::TimerHandle seekTimer_;
    platform::TimerHandle keepUpTimer_;
    std::vector<SeekCall> seeks_;
};

// The real queue player over the fake items, logging the calls made on it.
class FakeQueuePlayer final : public platform::media::DecodedQueuePlayer {
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
        platform::HostTime hostTime{};
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
        std::optional<platform::ClockTime> atClockTime{};
        platform::media::ActionAtItemEnd action = platform::media::ActionAtItemEnd::Advance;
    };

    explicit FakeQueuePlayer(std::shared_ptr<detail::FakeMediaRegistry> registry);
    ~FakeQueuePlayer() override;

    bool insert(ItemPtr item, const ItemPtr& after = nullptr) override;
    void remove(const ItemPtr& item) override;
    void removeAllItems() override;
    void replaceAllItems(std::vector<ItemPtr> items) override;
    void advanceToNextItem() override;
    void setClock(std::shared_ptr<const platform::MediaClock> clock) override;
    void setRate(float rate) override;
    void setRate(float rate, platform::ClockTime atClockTime) override;
    using QueuePlayer::seek;
    void seek(double time, double toleranceBefore, double toleranceAfter,
              std::function<void(bool finished)> completion = {}) override;
    void preroll(float rate, std::function<void(bool finished)> completion) override;
    void cancelPendingPrerolls() override;
    void setActionAtItemEnd(platform::media::ActionAtItemEnd action) override;

    // For tests.
    const std::vector<Call>& calls() const { return calls_; }
    std::vector<Call> callsOf(Call::Kind kind) const;
    void clearCalls() { calls_.clear(); }
    // Which picture frameAt(hostTime) shows (empty for none).
    std::optional<FakeFrame> frameShownAt(platform::HostTime hostTime) const {
        return readFakeFrame(frameAt(hostTime));
    }

  private:
    void log(Call call);

    // Keeps the factory's registry (the family of this player's items) alive.
    std::shared_ptr<detail::FakeMediaRegistry> registry_;
    std::vector<Call> calls_;
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
