#include "support/fake_media.h"

#include <algorithm>
#include <cmath>

#include "platform/media/decoded_player_layer.h"
#include "platform/media/decoded_player_looper.h"

namespace kestio::test {

using platform::MediaClock;
using platform::RunLoop;
using platform::media::ActionAtItemEnd;
using platform::media::ItemStatus;
using platform::media::Loaded;
using platform::media::MediaInfo;
using platform::media::PlayerItem;
using platform::media::QueuePlayer;
using platform::media::TimeRange;
using platform::media::TrackInfo;
using platform::media::TrackKind;

namespace detail {

// What a factory shares with what it made: the scripts, and who was made (weakly).
struct FakeMediaRegistry {
    explicit FakeMediaRegistry(RunLoop& runLoop) : loop(runLoop) {}

    // Adds `made` to `list`, dropping the entries whose object has gone: a weak reference keeps
    // the memory of an object made with make_shared, so a long test would otherwise grow.
    template <class T>
    static void remember(std::vector<std::weak_ptr<T>>& list, const std::shared_ptr<T>& made) {
        std::erase_if(list, [](const std::weak_ptr<T>& weak) { return weak.expired(); });
        list.push_back(made);
    }

    FakeMediaScript scriptFor(const std::filesystem::path& url) const {
        auto found = scripts.find(url);
        return found != scripts.end() ? found->second : defaultScript;
    }
    std::shared_ptr<FakePlayerItem> makeItem(std::shared_ptr<platform::media::Asset> asset,
                                             const std::shared_ptr<FakeMediaRegistry>& self) {
        auto fake = std::dynamic_pointer_cast<FakeAsset>(asset);
        FakeMediaScript script = fake ? fake->script() : scriptFor(asset->url());
        auto item = std::make_shared<FakePlayerItem>(self, std::move(asset), std::move(script));
        remember(items, item);
        return item;
    }

    RunLoop& loop;
    std::map<std::filesystem::path, FakeMediaScript> scripts;
    FakeMediaScript defaultScript;
    std::vector<std::weak_ptr<FakeAsset>> assets;
    std::vector<std::weak_ptr<FakePlayerItem>> items;
    std::vector<std::weak_ptr<FakeQueuePlayer>> players;
    int loopers = 0;
};

}  // namespace detail

namespace {

constexpr double kEpsilon = 1e-6;
constexpr int kPictureWidth = 16;
constexpr int kPictureHeight = 9;
constexpr QRgb kMarker = 0xff5a1e3c;
constexpr QRgb kGrey = 0xff808080;

template <class T>
std::vector<std::shared_ptr<T>> alive(const std::vector<std::weak_ptr<T>>& list) {
    std::vector<std::shared_ptr<T>> result;
    for (const auto& weak : list) {
        if (auto strong = weak.lock()) {
            result.push_back(std::move(strong));
        }
    }
    return result;
}

}  // namespace

// ---- script and pictures ----

MediaInfo FakeMediaScript::info() const {
    MediaInfo info;
    info.duration = duration;
    info.formatName = "mov,mp4,m4a,3gp,3g2,mj2";
    int id = 1;
    if (video) {
        TrackInfo track;
        track.trackID = id++;
        track.kind = TrackKind::Video;
        track.mediaType = "vide";
        track.mediaSubType = platform::media::fourCC("avc1");
        track.codec = "avc1";
        track.decodable = true;
        track.naturalSize = video->naturalSize;
        track.nominalFrameRate = video->frameRate;
        track.rotation = video->rotation;
        info.tracks.push_back(track);
    }
    if (audio) {
        TrackInfo track;
        track.trackID = id++;
        track.kind = TrackKind::Audio;
        track.mediaType = "soun";
        track.mediaSubType = platform::media::fourCC("aac ");
        track.codec = "aac";
        track.decodable = true;
        track.sampleRate = audio->sampleRate;
        track.channels = audio->channels;
        info.tracks.push_back(track);
    }
    info.isPlayable = !info.tracks.empty();
    return info;
}

QSize FakeMediaScript::presentationSize() const {
    if (!video) {
        return {0, 0};
    }
    const bool quarterTurn = video->rotation == 90 || video->rotation == 270;
    return quarterTurn ? video->naturalSize.transposed() : video->naturalSize;
}

int FakeMediaScript::frameIndexAt(double itemTime, double endTime) const {
    if (!video || !(video->frameRate > 0.0)) {
        return -1;
    }
    const double rate = video->frameRate;
    double end = endTime;
    if (std::isfinite(duration)) {
        end = std::min(end, duration);
    }
    if (std::isfinite(end) && itemTime >= end - kEpsilon) {
        // The picture whose interval holds the instant just before the end.
        return std::max(0, static_cast<int>(std::ceil(end * rate - kEpsilon)) - 1);
    }
    return std::max(0, static_cast<int>(std::floor(itemTime * rate + kEpsilon)));
}

FakeFrame FakeFrame::of(const std::filesystem::path& url, int index) {
    return {fakeUrlTag(url), index};
}

std::uint32_t fakeUrlTag(const std::filesystem::path& url) {
    // FNV-1a, folded to 24 bits.
    std::uint32_t hash = 2166136261u;
    for (unsigned char c : url.string()) {
        hash = (hash ^ c) * 16777619u;
    }
    return (hash >> 24) ^ (hash & 0xffffffu);
}

QImage fakeFramePicture(const FakeFrame& frame) {
    QImage image(kPictureWidth, kPictureHeight, QImage::Format_RGB32);
    image.fill(kGrey);
    const auto index = static_cast<std::uint32_t>(frame.index) & 0xffffffu;
    image.setPixel(0, 0, 0xff000000u | index);
    image.setPixel(1, 0, 0xff000000u | (frame.urlTag & 0xffffffu));
    image.setPixel(2, 0, kMarker);
    return image;
}

std::optional<FakeFrame> readFakeFrame(const QImage& image) {
    if (image.width() != kPictureWidth || image.height() != kPictureHeight ||
        image.pixel(2, 0) != kMarker) {
        return std::nullopt;
    }
    return FakeFrame{image.pixel(1, 0) & 0xffffffu,
                     static_cast<int>(image.pixel(0, 0) & 0xffffffu)};
}

// ---- asset ----

FakeAsset::FakeAsset(RunLoop& loop, std::filesystem::path url, FakeMediaScript script)
    : loop_(loop), url_(std::move(url)), script_(std::move(script)) {}

Loaded<MediaInfo> FakeAsset::answer() const {
    return script_.loads ? Loaded<MediaInfo>(script_.info())
                         : Loaded<MediaInfo>::failure(script_.error);
}

void FakeAsset::loadInfo(std::function<void(const Loaded<MediaInfo>&)> done) {
    ++loadCount_;
    std::weak_ptr<FakeAsset> weak = weak_from_this();
    if (answered_) {
        loop_.post([weak, done = std::move(done)] {
            if (auto self = weak.lock()) {
                done(self->answer());
            }
        });
        return;
    }
    waiting_.push_back(std::move(done));
    if (timer_.active()) {
        return;
    }
    timer_ = loop_.after(std::max(0.0, script_.assetLoadDelay), [weak] {
        auto self = weak.lock();
        if (!self) {
            return;
        }
        self->answered_ = true;
        const auto result = self->answer();
        auto waiting = std::move(self->waiting_);
        self->waiting_.clear();
        for (auto& answer : waiting) {
            answer(result);
        }
    });
}

// ---- item ----

namespace {

// The pictures of a ready fake item with video: each names its file and frame.
class FakePictures final : public platform::media::ItemPictures {
  public:
    FakePictures(std::filesystem::path url, FakeMediaScript script)
        : url_(std::move(url)), script_(std::move(script)) {}
    platform::Picture pictureAt(double itemTime, double endTime) const override {
        const int index = script_.frameIndexAt(itemTime, endTime);
        return index < 0 ? QImage() : fakeFramePicture(FakeFrame::of(url_, index));
    }

  private:
    std::filesystem::path url_;
    FakeMediaScript script_;
};

}  // namespace

FakePlayerItem::FakePlayerItem(std::shared_ptr<detail::FakeMediaRegistry> registry,
                               std::shared_ptr<platform::media::Asset> asset,
                               FakeMediaScript script)
    : PlayableItem(registry->loop, registry.get()),
      registry_(std::move(registry)),
      asset_(std::move(asset)),
      script_(std::move(script)) {}

FakePlayerItem::~FakePlayerItem() = default;

std::shared_ptr<const platform::media::ItemPictures> FakePlayerItem::pictures() const {
    if (!ready_ || !hasVideo_) {
        return nullptr;
    }
    return std::make_shared<const FakePictures>(url(), script_);
}

std::vector<TimeRange> FakePlayerItem::loadedTimeRanges() const {
    const double end = endTime();
    const double t = currentTime();
    if (!keepUp_.get() || !std::isfinite(end) || end <= t) {
        return {};
    }
    return {TimeRange::fromTo(t, end)};
}

void FakePlayerItem::seek(double time, double toleranceBefore, double toleranceAfter,
                          std::function<void(bool)> completion) {
    seeks_.push_back({time, toleranceBefore, toleranceAfter, loop_.now()});
    PlayableItem::seek(time, toleranceBefore, toleranceAfter, std::move(completion));
}

void FakePlayerItem::startSeek(std::uint64_t /*id*/, double /*target*/, double /*toleranceBefore*/,
                               double /*toleranceAfter*/) {
    keepUpTimer_.cancel();
    setKeepUp(false);
    if (ready_) {
        std::weak_ptr<FakePlayerItem> weak = weak_from_this();
        seekTimer_ = loop_.after(std::max(0.0, script_.seekDuration), [weak] {
            if (auto self = weak.lock()) {
                self->land();
            }
        });
    }
}

void FakePlayerItem::seekFinished() {
    seekTimer_.cancel();
    if (ready_) {
        scheduleKeepUp();
    }
}

void FakePlayerItem::land() {
    if (auto target = pendingSeekTarget()) {
        landSeek(*target);
    }
}

void FakePlayerItem::scheduleKeepUp() {
    keepUpTimer_.cancel();
    if (script_.prerollDelay <= 0.0) {
        setKeepUp(true);
        return;
    }
    std::weak_ptr<FakePlayerItem> weak = weak_from_this();
    keepUpTimer_ = loop_.after(script_.prerollDelay, [weak] {
        if (auto self = weak.lock()) {
            self->setLikelyToKeepUp(true);
        }
    });
}

void FakePlayerItem::setLikelyToKeepUp(bool keepUp) {
    keepUpTimer_.cancel();
    setKeepUp(keepUp);
    notifyOwner(Change::Buffer);
}

std::shared_ptr<PlayerItem> FakePlayerItem::replica() const {
    auto copy = registry_->makeItem(asset_, registry_);
    copySettingsTo(*copy);
    return copy;
}

void FakePlayerItem::failNow(const std::string& error) {
    fail(error);
}

void FakePlayerItem::failing() {
    readyTimer_.cancel();
    keepUpTimer_.cancel();
    seekTimer_.cancel();
    setKeepUp(false);
}

void FakePlayerItem::startLoading() {
    if (loadingStarted_ || statusValue() == ItemStatus::Failed) {
        return;
    }
    loadingStarted_ = true;
    std::weak_ptr<FakePlayerItem> weak = weak_from_this();
    readyTimer_ = loop_.after(std::max(0.0, script_.readyDelay), [weak] {
        if (auto self = weak.lock()) {
            self->becomeReady();
        }
    });
}

void FakePlayerItem::becomeReady() {
    if (!script_.loads) {
        failNow(script_.error);
        return;
    }
    // A seek asked before loading lands with the readiness.
    PlayableItem::becomeReady(script_.video.has_value(), script_.duration,
                              script_.presentationSize(), pendingSeekTarget());
}

// ---- queue player ----

FakeQueuePlayer::FakeQueuePlayer(std::shared_ptr<detail::FakeMediaRegistry> registry)
    : DecodedQueuePlayer(registry->loop, registry.get()), registry_(std::move(registry)) {}

FakeQueuePlayer::~FakeQueuePlayer() = default;

void FakeQueuePlayer::log(Call call) {
    call.hostTime = runLoop().now();
    calls_.push_back(std::move(call));
}

std::vector<FakeQueuePlayer::Call> FakeQueuePlayer::callsOf(Call::Kind kind) const {
    std::vector<Call> result;
    std::copy_if(calls_.begin(), calls_.end(), std::back_inserter(result),
                 [kind](const Call& call) { return call.kind == kind; });
    return result;
}

bool FakeQueuePlayer::insert(ItemPtr item, const ItemPtr& after) {
    log({.kind = Call::Kind::Insert, .item = item.get(), .accepted = accepts(item)});
    return DecodedQueuePlayer::insert(std::move(item), after);
}

void FakeQueuePlayer::remove(const ItemPtr& item) {
    log({.kind = Call::Kind::Remove, .item = item.get()});
    DecodedQueuePlayer::remove(item);
}

void FakeQueuePlayer::removeAllItems() {
    log({.kind = Call::Kind::RemoveAll});
    DecodedQueuePlayer::removeAllItems();
}

void FakeQueuePlayer::replaceAllItems(std::vector<ItemPtr> items) {
    log({.kind = Call::Kind::ReplaceAll});
    DecodedQueuePlayer::replaceAllItems(std::move(items));
}

void FakeQueuePlayer::advanceToNextItem() {
    log({.kind = Call::Kind::AdvanceToNext});
    DecodedQueuePlayer::advanceToNextItem();
}

void FakeQueuePlayer::setClock(std::shared_ptr<const MediaClock> clock) {
    log({.kind = Call::Kind::SetClock});
    DecodedQueuePlayer::setClock(std::move(clock));
}

void FakeQueuePlayer::setRate(float rate) {
    log({.kind = Call::Kind::SetRate, .rate = rate});
    DecodedQueuePlayer::setRate(rate);
}

void FakeQueuePlayer::setRate(float rate, platform::ClockTime atClockTime) {
    log({.kind = Call::Kind::SetRate, .rate = rate, .atClockTime = atClockTime});
    DecodedQueuePlayer::setRate(rate, atClockTime);
}

void FakeQueuePlayer::seek(double time, double toleranceBefore, double toleranceAfter,
                           std::function<void(bool)> completion) {
    log({.kind = Call::Kind::Seek,
         .item = current().get(),
         .time = time,
         .toleranceBefore = toleranceBefore,
         .toleranceAfter = toleranceAfter});
    DecodedQueuePlayer::seek(time, toleranceBefore, toleranceAfter, std::move(completion));
}

void FakeQueuePlayer::preroll(float rate, std::function<void(bool)> completion) {
    log({.kind = Call::Kind::Preroll, .rate = rate});
    DecodedQueuePlayer::preroll(rate, std::move(completion));
}

void FakeQueuePlayer::cancelPendingPrerolls() {
    log({.kind = Call::Kind::CancelPrerolls});
    DecodedQueuePlayer::cancelPendingPrerolls();
}

void FakeQueuePlayer::setActionAtItemEnd(ActionAtItemEnd action) {
    log({.kind = Call::Kind::SetActionAtItemEnd, .action = action});
    DecodedQueuePlayer::setActionAtItemEnd(action);
}

// ---- factory ----

FakeMediaFactory::FakeMediaFactory(RunLoop& loop)
    : registry_(std::make_shared<detail::FakeMediaRegistry>(loop)) {}

FakeMediaFactory::~FakeMediaFactory() = default;

void FakeMediaFactory::setScript(const std::filesystem::path& url, FakeMediaScript script) {
    registry_->scripts[url] = std::move(script);
}

void FakeMediaFactory::setDefaultScript(FakeMediaScript script) {
    registry_->defaultScript = std::move(script);
}

FakeMediaScript FakeMediaFactory::script(const std::filesystem::path& url) const {
    return registry_->scriptFor(url);
}

std::shared_ptr<platform::media::Asset> FakeMediaFactory::makeAsset(
    const std::filesystem::path& url) {
    auto asset = std::make_shared<FakeAsset>(registry_->loop, url, registry_->scriptFor(url));
    detail::FakeMediaRegistry::remember(registry_->assets, asset);
    return asset;
}

std::shared_ptr<PlayerItem> FakeMediaFactory::makeItem(
    std::shared_ptr<platform::media::Asset> asset) {
    return registry_->makeItem(std::move(asset), registry_);
}

std::shared_ptr<QueuePlayer> FakeMediaFactory::makeQueuePlayer() {
    auto player = std::make_shared<FakeQueuePlayer>(registry_);
    detail::FakeMediaRegistry::remember(registry_->players, player);
    return player;
}

std::unique_ptr<platform::media::PlayerLooper> FakeMediaFactory::makeLooper(
    std::shared_ptr<QueuePlayer> player, const std::shared_ptr<PlayerItem>& item,
    std::optional<TimeRange> range) {
    ++registry_->loopers;
    return std::make_unique<platform::media::DecodedPlayerLooper>(std::move(player), item, range);
}

std::unique_ptr<platform::media::PlayerLayer> FakeMediaFactory::makePlayerLayer(
    std::shared_ptr<QueuePlayer> player) {
    return std::make_unique<platform::media::DecodedPlayerLayer>(std::move(player));
}

std::vector<std::shared_ptr<FakeAsset>> FakeMediaFactory::assets() const {
    return alive(registry_->assets);
}

std::vector<std::shared_ptr<FakePlayerItem>> FakeMediaFactory::items() const {
    return alive(registry_->items);
}

std::vector<std::shared_ptr<FakeQueuePlayer>> FakeMediaFactory::players() const {
    return alive(registry_->players);
}

int FakeMediaFactory::loopersMade() const {
    return registry_->loopers;
}

}  // namespace kestio::test
