#include "support/fake_media.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/media/decoded_player_looper.h"

namespace kestio::test {

using platform::MediaClock;
using platform::Published;
using platform::RunLoop;
using platform::Subscription;
using platform::TimerHandle;
using platform::media::ActionAtItemEnd;
using platform::media::FrameFilter;
using platform::media::ItemStatus;
using platform::media::Loaded;
using platform::media::MediaInfo;
using platform::media::MediaTime;
using platform::media::PlayerItem;
using platform::media::QueuePlayer;
using platform::media::TimeRange;
using platform::media::TrackInfo;
using platform::media::TrackKind;

namespace detail {

// What a factory shares with what it made: the scripts, and who was made (weakly).
struct FakeMediaRegistry {
    explicit FakeMediaRegistry(RunLoop& runLoop) : loop(runLoop) {}

    FakeMediaScript scriptFor(const std::filesystem::path& url) const {
        auto found = scripts.find(url);
        return found != scripts.end() ? found->second : defaultScript;
    }
    std::shared_ptr<FakePlayerItem> makeItem(std::shared_ptr<platform::media::Asset> asset,
                                             const std::shared_ptr<FakeMediaRegistry>& self) {
        auto fake = std::dynamic_pointer_cast<FakeAsset>(asset);
        FakeMediaScript script = fake ? fake->script() : scriptFor(asset->url());
        auto item = std::make_shared<FakePlayerItem>(self, std::move(asset), std::move(script));
        items.push_back(item);
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
constexpr double kClockSlack = 1e-9;
constexpr int kPictureWidth = 16;
constexpr int kPictureHeight = 9;
constexpr QRgb kMarker = 0xff5a1e3c;
constexpr QRgb kGrey = 0xff808080;

double clampedTime(double t, double end) {
    return std::isfinite(t) ? std::clamp(t, 0.0, std::max(0.0, end)) : 0.0;
}

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

double FakePlayerItem::Timeline::at(double clockTime) const {
    return anchorItem + rate * std::max(0.0, clockTime - anchorClock);
}

double FakePlayerItem::View::timeAt(double clockTime) const {
    return clampedTime(timeline.at(clockTime), endTime);
}

QImage FakePlayerItem::View::pictureAt(double itemTime) const {
    if (!showsPictures) {
        return {};
    }
    const int index = script.frameIndexAt(itemTime, endTime);
    return index < 0 ? QImage() : fakeFramePicture(FakeFrame::of(url, index));
}

FakePlayerItem::FakePlayerItem(std::shared_ptr<detail::FakeMediaRegistry> registry,
                               std::shared_ptr<platform::media::Asset> asset,
                               FakeMediaScript script)
    : registry_(std::move(registry)),
      loop_(registry_->loop),
      asset_(std::move(asset)),
      script_(std::move(script)),
      duration_(MediaTime::invalid()),
      forwardEnd_(MediaTime::invalid()),
      clock_(std::make_shared<platform::HostClock>()) {}

FakePlayerItem::~FakePlayerItem() = default;

double FakePlayerItem::clockNow() const {
    return clock_->timeAt(loop_.now());
}

double FakePlayerItem::endTime() const {
    double end = std::isfinite(duration_) ? duration_ : MediaTime::indefinite();
    if (std::isfinite(forwardEnd_)) {
        end = std::min(end, std::max(0.0, forwardEnd_));
    }
    return end;
}

double FakePlayerItem::timeAtClock(double clockTime) const {
    return clampedTime(timeline_.at(clockTime), endTime());
}

double FakePlayerItem::currentTime() const {
    return timeAtClock(clockNow());
}

double FakePlayerItem::clockTimeOf(double itemTime) const {
    if (timeline_.rate <= 0.0) {
        return MediaTime::indefinite();
    }
    const double t = std::max(itemTime, timeline_.anchorItem);
    return timeline_.anchorClock + (t - timeline_.anchorItem) / timeline_.rate;
}

FakePlayerItem::View FakePlayerItem::view() const {
    return View{url(), script_, ready_ && hasVideo_, timeline_, endTime(), filter_};
}

std::vector<TimeRange> FakePlayerItem::loadedTimeRanges() const {
    const double end = endTime();
    const double t = currentTime();
    if (!keepUp_.get() || !std::isfinite(end) || end <= t) {
        return {};
    }
    return {TimeRange::fromTo(t, end)};
}

void FakePlayerItem::setPreferredForwardBufferDuration(double seconds) {
    forwardBuffer_ = std::isfinite(seconds) && seconds > 0.0 ? seconds : 2.0;
}

void FakePlayerItem::setForwardPlaybackEndTime(double seconds) {
    const double now = clockNow();
    updateClock(now);
    forwardEnd_ = std::isfinite(seconds) ? seconds : MediaTime::invalid();
    if (timeAtClock(now) < endTime() - kEpsilon) {
        endReported_ = false;
    }
    notifyOwner(Change::EndMoved);
}

void FakePlayerItem::setFrameFilter(std::shared_ptr<const FrameFilter> filter) {
    filter_ = filter && *filter ? std::move(filter) : nullptr;
    notifyOwner(Change::Filter);
}

void FakePlayerItem::seek(double time, double toleranceBefore, double toleranceAfter,
                          std::function<void(bool)> completion) {
    seeks_.push_back({time, toleranceBefore, toleranceAfter, loop_.now()});
    if (status_.get() == ItemStatus::Failed) {
        if (completion) {
            loop_.post([completion = std::move(completion)] { completion(false); });
        }
        return;
    }
    finishSeek(false);
    const double end = endTime();
    double target = std::isfinite(time) ? std::max(0.0, time) : 0.0;
    if (std::isfinite(end)) {
        target = std::min(target, end);
    }
    const double now = clockNow();
    seek_ = PendingSeek{target, std::move(completion)};
    timeline_ = Timeline{target, now, 0.0};
    updateClock(now);
    if (target < end - kEpsilon) {
        endReported_ = false;
    }
    keepUpTimer_.cancel();
    if (keepUp_.get()) {
        keepUp_.set(false);
    }
    if (ready_) {
        std::weak_ptr<FakePlayerItem> weak = weak_from_this();
        seekTimer_ = loop_.after(std::max(0.0, script_.seekDuration), [weak] {
            if (auto self = weak.lock()) {
                self->land();
            }
        });
    }
    notifyOwner(Change::SeekStarted);
}

void FakePlayerItem::cancelPendingSeeks() {
    finishSeek(false);
}

void FakePlayerItem::finishSeek(bool finished) {
    if (!seek_) {
        return;
    }
    seekTimer_.cancel();
    auto completion = std::move(seek_->completion);
    seek_.reset();
    updateClock(clockNow());
    if (ready_) {
        scheduleKeepUp();
    }
    if (completion) {
        loop_.post([completion = std::move(completion), finished] { completion(finished); });
    }
}

void FakePlayerItem::land() {
    if (!seek_) {
        return;
    }
    auto completion = std::move(seek_->completion);
    const double target = clampedTime(seek_->target, endTime());
    seek_.reset();
    timeline_ = Timeline{target, clockNow(), 0.0};
    updateClock(clockNow());
    if (target < endTime() - kEpsilon) {
        endReported_ = false;
    }
    scheduleKeepUp();
    notifyOwner(Change::SeekLanded);
    if (completion) {
        completion(true);
    }
}

void FakePlayerItem::scheduleKeepUp() {
    keepUpTimer_.cancel();
    if (script_.prerollDelay <= 0.0) {
        if (!keepUp_.get()) {
            keepUp_.set(true);
        }
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
    if (keepUp != keepUp_.get()) {
        keepUp_.set(keepUp);
    }
    notifyOwner(Change::Buffer);
}

Subscription FakePlayerItem::onDidPlayToEnd(std::function<void()> observer) {
    return endings_.subscribe(
        [observer = std::move(observer)](const std::uint64_t&) { observer(); });
}

std::shared_ptr<PlayerItem> FakePlayerItem::replica() const {
    auto copy = registry_->makeItem(asset_, registry_);
    copy->forwardBuffer_ = forwardBuffer_;
    copy->filter_ = filter_;
    return copy;
}

void FakePlayerItem::failNow(const std::string& error) {
    if (status_.get() == ItemStatus::Failed) {
        return;
    }
    error_ = error.empty() ? std::string("unknown error") : error;
    ready_ = false;
    readyTimer_.cancel();
    keepUpTimer_.cancel();
    finishSeek(false);
    updateClock(clockNow());
    if (keepUp_.get()) {
        keepUp_.set(false);
    }
    notifyOwner(Change::Failed);
    status_.set(ItemStatus::Failed);
}

void FakePlayerItem::attach(FakeQueuePlayer* player, std::shared_ptr<const MediaClock> clock) {
    owner_ = player;
    setMediaClock(std::move(clock));
    startLoading();
}

void FakePlayerItem::detach() {
    setClockRate(0.0, clockNow());
    owner_ = nullptr;
    finishSeek(false);
}

void FakePlayerItem::setMediaClock(std::shared_ptr<const MediaClock> clock) {
    if (!clock || clock == clock_) {
        return;
    }
    // The item's time is kept across the change of clock.
    const double host = loop_.now();
    const double item = timeAtClock(clock_->timeAt(host));
    clock_ = std::move(clock);
    startAt_.reset();
    timeline_.anchorItem = item;
    timeline_.anchorClock = clock_->timeAt(host);
    updateClock(timeline_.anchorClock);
}

void FakePlayerItem::setClockRate(double rate, double clockTime, std::optional<double> startAt) {
    updateClock(clockTime);
    clockRate_ = rate;
    startAt_ = startAt;
    updateClock(clockTime);
}

void FakePlayerItem::updateClock(double clockTime) {
    timeline_.anchorItem = timeAtClock(clockTime);
    timeline_.anchorClock = clockTime;
    if (startAt_ && *startAt_ > clockTime) {
        timeline_.anchorClock = *startAt_;
    }
    timeline_.rate = ready_ && !seek_ && clockRate_ > 0.0 ? clockRate_ : 0.0;
}

void FakePlayerItem::playedToEnd() {
    endReported_ = true;
    endings_.set(endings_.get() + 1);
}

void FakePlayerItem::startLoading() {
    if (loadingStarted_ || status_.get() == ItemStatus::Failed) {
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
    hasVideo_ = script_.video.has_value();
    duration_ = script_.duration;
    presentationSize_ = script_.presentationSize();
    ready_ = true;
    std::function<void(bool)> completion;
    if (seek_) {
        // A seek asked before loading lands with the readiness.
        completion = std::move(seek_->completion);
        const double target = clampedTime(seek_->target, endTime());
        seek_.reset();
        timeline_ = Timeline{target, clockNow(), 0.0};
    }
    updateClock(clockNow());
    if (script_.prerollDelay <= 0.0) {
        keepUp_.set(true);
    } else {
        scheduleKeepUp();
    }
    notifyOwner(Change::Ready);
    status_.set(ItemStatus::ReadyToPlay);
    if (completion) {
        completion(true);
    }
}

void FakePlayerItem::notifyOwner(Change change) {
    if (owner_ != nullptr) {
        owner_->itemChanged(*this, change);
    }
}

// ---- queue player ----

bool FakeQueuePlayer::CurrentTimeline::playing() const {
    auto item = player_.front();
    return item && item->effectiveRate() > 0.0;
}

double FakeQueuePlayer::CurrentTimeline::endTime() const {
    auto item = player_.front();
    return item ? item->endTime() : MediaTime::indefinite();
}

double FakeQueuePlayer::CurrentTimeline::clockTimeOf(double itemTime) const {
    auto item = player_.front();
    return item ? item->clockTimeOf(itemTime) : MediaTime::indefinite();
}

FakeQueuePlayer::FakeQueuePlayer(std::shared_ptr<detail::FakeMediaRegistry> registry)
    : registry_(std::move(registry)),
      loop_(registry_->loop),
      clock_(std::make_shared<platform::HostClock>()),
      clockEnd_(MediaTime::indefinite()),
      observers_(loop_, timeline_, clock_) {
    publish();
}

FakeQueuePlayer::~FakeQueuePlayer() {
    endTimer_.cancel();
    observers_.stop();
    detachAll();
}

void FakeQueuePlayer::log(Call call) {
    call.hostTime = loop_.now();
    calls_.push_back(std::move(call));
}

std::vector<FakeQueuePlayer::Call> FakeQueuePlayer::callsOf(Call::Kind kind) const {
    std::vector<Call> result;
    std::copy_if(calls_.begin(), calls_.end(), std::back_inserter(result),
                 [kind](const Call& call) { return call.kind == kind; });
    return result;
}

void FakeQueuePlayer::detachAll() {
    auto items = std::move(items_);
    items_.clear();
    for (auto& item : items) {
        item->detach();
    }
}

bool FakeQueuePlayer::insert(ItemPtr anyItem, const ItemPtr& after) {
    auto item = std::dynamic_pointer_cast<FakePlayerItem>(anyItem);
    const bool accepted = item && item->registry_ == registry_ && item->owner_ == nullptr;
    log({.kind = Call::Kind::Insert, .item = anyItem.get(), .accepted = accepted});
    if (!accepted) {
        return false;
    }
    auto position = items_.end();
    if (after) {
        auto found = std::find(items_.begin(), items_.end(), after);
        if (found != items_.end()) {
            position = std::next(found);
        }
    }
    const bool wasEmpty = items_.empty();
    items_.insert(position, item);
    item->attach(this, clock_);
    if (wasEmpty) {
        currentChanged(nullptr, clock_->timeAt(loop_.now()), false);
    } else {
        publish();
    }
    return true;
}

void FakeQueuePlayer::remove(const ItemPtr& item) {
    log({.kind = Call::Kind::Remove, .item = item.get()});
    auto found = std::find(items_.begin(), items_.end(), item);
    if (found == items_.end()) {
        return;
    }
    const bool wasCurrent = found == items_.begin();
    FakeItemPtr removed = *found;
    items_.erase(found);
    removed->detach();
    if (wasCurrent) {
        currentChanged(removed, clock_->timeAt(loop_.now()), false);
    } else {
        publish();
    }
}

void FakeQueuePlayer::removeAllItems() {
    log({.kind = Call::Kind::RemoveAll});
    if (items_.empty()) {
        return;
    }
    FakeItemPtr old = front();
    detachAll();
    currentChanged(old, clock_->timeAt(loop_.now()), false);
}

void FakeQueuePlayer::replaceAllItems(std::vector<ItemPtr> items) {
    log({.kind = Call::Kind::ReplaceAll});
    FakeItemPtr old = front();
    detachAll();
    for (auto& anyItem : items) {
        auto item = std::dynamic_pointer_cast<FakePlayerItem>(anyItem);
        if (item && item->registry_ == registry_ && item->owner_ == nullptr) {
            items_.push_back(item);
            item->attach(this, clock_);
        }
    }
    currentChanged(old, clock_->timeAt(loop_.now()), false);
}

void FakeQueuePlayer::advanceToNextItem() {
    log({.kind = Call::Kind::AdvanceToNext});
    if (items_.empty()) {
        return;
    }
    FakeItemPtr old = front();
    items_.erase(items_.begin());
    old->detach();
    currentChanged(old, clock_->timeAt(loop_.now()), false);
}

Subscription FakeQueuePlayer::observeCurrentItem(
    std::function<void(const ItemPtr& oldItem, const ItemPtr& newItem)> observer) {
    return currentItem_.subscribe([this, observer = std::move(observer)](const ItemPtr& item) {
        observer(previousItem_, item);
    });
}

void FakeQueuePlayer::currentChanged(const FakeItemPtr& oldItem, double clockTime, bool gapless) {
    FakeItemPtr newItem = front();
    if (newItem) {
        newItem->setClockRate(rateValue_, clockTime);
    }
    if (!gapless) {
        carryOver_ = QImage();
        carryOverFilter_.reset();
    }
    reschedule();
    updateDisplayable();
    previousItem_ = oldItem;
    currentItem_.set(newItem);
    previousItem_.reset();
    observers_.postPeriodicCalls();
    checkPrerolls();
}

void FakeQueuePlayer::setClock(std::shared_ptr<const MediaClock> clock) {
    log({.kind = Call::Kind::SetClock});
    clock_ = clock ? std::move(clock) : std::make_shared<platform::HostClock>();
    for (auto& item : items_) {
        item->setMediaClock(clock_);
    }
    observers_.setClock(clock_);
    reschedule();
}

void FakeQueuePlayer::setRate(float rate) {
    log({.kind = Call::Kind::SetRate, .rate = rate});
    const float value = std::isfinite(rate) && rate > 0.0f ? rate : 0.0f;
    if (value == rateValue_) {
        rate_.set(value);
        return;
    }
    applyRate(value, std::nullopt);
}

void FakeQueuePlayer::setRate(float rate, double atClockTime) {
    log({.kind = Call::Kind::SetRate, .rate = rate, .atClockTime = atClockTime});
    const float value = std::isfinite(rate) && rate > 0.0f ? rate : 0.0f;
    applyRate(value,
              std::isfinite(atClockTime) ? std::optional<double>(atClockTime) : std::nullopt);
}

void FakeQueuePlayer::applyRate(float value, std::optional<double> startAt) {
    const bool changed = value != rateValue_;
    rateValue_ = value;
    if (auto item = front()) {
        item->setClockRate(value, clock_->timeAt(loop_.now()), startAt);
    }
    reschedule();
    rate_.set(value);
    if (changed) {
        observers_.postPeriodicCalls();
    }
}

double FakeQueuePlayer::currentTime() const {
    auto item = front();
    return item ? item->currentTime() : 0.0;
}

void FakeQueuePlayer::seek(double time, double toleranceBefore, double toleranceAfter,
                           std::function<void(bool)> completion) {
    auto item = front();
    log({.kind = Call::Kind::Seek,
         .item = item.get(),
         .time = time,
         .toleranceBefore = toleranceBefore,
         .toleranceAfter = toleranceAfter});
    if (!item) {
        if (completion) {
            loop_.post([completion = std::move(completion)] { completion(false); });
        }
        return;
    }
    item->seek(time, toleranceBefore, toleranceAfter, std::move(completion));
}

void FakeQueuePlayer::preroll(float rate, std::function<void(bool)> completion) {
    log({.kind = Call::Kind::Preroll, .rate = rate});
    if (!completion) {
        return;
    }
    auto item = front();
    if (!item) {
        loop_.post([completion = std::move(completion)] { completion(false); });
        return;
    }
    prerolls_.push_back({item, std::move(completion)});
    checkPrerolls();
}

void FakeQueuePlayer::cancelPendingPrerolls() {
    log({.kind = Call::Kind::CancelPrerolls});
    auto pending = std::move(prerolls_);
    prerolls_.clear();
    for (auto& preroll : pending) {
        loop_.post([completion = std::move(preroll.completion)] { completion(false); });
    }
}

void FakeQueuePlayer::checkPrerolls() {
    auto pending = std::move(prerolls_);
    prerolls_.clear();
    const FakeItemPtr item = front();
    for (auto& preroll : pending) {
        std::optional<bool> answer;
        if (preroll.item != item || preroll.item->statusValue() == ItemStatus::Failed) {
            answer = false;
        } else if (preroll.item->isReady() && !preroll.item->isSeeking() &&
                   preroll.item->likelyToKeepUp()) {
            answer = true;
        }
        if (answer) {
            loop_.post([completion = std::move(preroll.completion), finished = *answer] {
                completion(finished);
            });
        } else {
            prerolls_.push_back(std::move(preroll));
        }
    }
}

void FakeQueuePlayer::setActionAtItemEnd(ActionAtItemEnd action) {
    log({.kind = Call::Kind::SetActionAtItemEnd, .action = action});
    action_ = action;
    publish();
}

Subscription FakeQueuePlayer::addPeriodicTimeObserver(double interval,
                                                      std::function<void(double)> observer) {
    return observers_.addPeriodic(interval, std::move(observer));
}

Subscription FakeQueuePlayer::addBoundaryTimeObserver(std::vector<double> times,
                                                      std::function<void()> observer) {
    return observers_.addBoundary(std::move(times), std::move(observer));
}

void FakeQueuePlayer::reschedule() {
    endTimer_.cancel();
    clockEnd_ = MediaTime::indefinite();
    // Observers first: a boundary on the end instant runs before the end is handled.
    observers_.reschedule();
    auto item = front();
    if (item && item->effectiveRate() > 0.0) {
        const double end = item->endTime();
        if (std::isfinite(end) && !item->endReported()) {
            clockEnd_ = item->clockTimeOf(end);
            std::weak_ptr<FakeQueuePlayer> weakSelf = weak_from_this();
            FakePlayerItem* raw = item.get();
            const double clockEnd = clockEnd_;
            observers_.armAt(&endTimer_, weakSelf, clockEnd, [weakSelf, raw, clockEnd] {
                if (auto self = weakSelf.lock()) {
                    self->reachedEnd(raw, clockEnd);
                }
            });
        }
    }
    publish();
}

void FakeQueuePlayer::reachedEnd(FakePlayerItem* ended, double clockEnd) {
    FakeItemPtr item = front();
    if (item.get() != ended || item->endReported()) {
        return;
    }
    clockEnd_ = MediaTime::indefinite();
    item->playedToEnd();
    if (front() != item) {
        return;  // an observer changed the queue
    }
    switch (action_) {
        case ActionAtItemEnd::Advance:
            carryOver_ = item->pictureAt(item->endTime());
            carryOverFilter_ = item->frameFilter();
            items_.erase(items_.begin());
            item->detach();
            // The next item runs from the end instant itself, however late this runs.
            currentChanged(item, clockEnd, true);
            break;
        case ActionAtItemEnd::Pause: {
            const bool changed = rateValue_ != 0.0f;
            rateValue_ = 0.0f;
            item->setClockRate(0.0, clockEnd);
            reschedule();
            rate_.set(0.0f);
            if (changed) {
                observers_.postPeriodicCalls();
            }
            break;
        }
        case ActionAtItemEnd::None:
            reschedule();
            break;
    }
}

void FakeQueuePlayer::itemChanged(FakePlayerItem& item, FakePlayerItem::Change change) {
    if (items_.size() >= 2 && items_[1].get() == &item) {
        publish();
        return;
    }
    if (front().get() != &item) {
        return;
    }
    using Change = FakePlayerItem::Change;
    switch (change) {
        case Change::SeekStarted:
            for (auto& preroll : prerolls_) {
                if (preroll.item.get() == &item) {
                    preroll.item = nullptr;  // answered false below
                }
            }
            reschedule();
            break;
        case Change::SeekLanded:
            reschedule();
            observers_.postPeriodicCalls();
            break;
        case Change::Ready:
        case Change::Failed:
        case Change::EndMoved:
            reschedule();
            break;
        case Change::Buffer:
        case Change::Filter:
            publish();
            break;
    }
    updateDisplayable();
    checkPrerolls();
}

void FakeQueuePlayer::updateDisplayable() {
    auto item = front();
    const bool displayable = item && item->isReady();
    if (displayable != hasDisplayableFrame_.get()) {
        hasDisplayableFrame_.set(displayable);
    }
}

void FakeQueuePlayer::publish() {
    auto snapshot = std::make_shared<Snapshot>();
    snapshot->clock = clock_;
    snapshot->rate = rateValue_;
    snapshot->carryOver = carryOver_;
    snapshot->carryOverFilter = carryOverFilter_;
    if (auto item = front()) {
        snapshot->current = item->view();
        snapshot->clockEnd = clockEnd_;
        if (items_.size() >= 2 && action_ == ActionAtItemEnd::Advance && std::isfinite(clockEnd_)) {
            snapshot->next = items_[1]->view();
        }
    }
    std::lock_guard lock(snapshotMutex_);
    snapshot_ = std::move(snapshot);
}

namespace {

// A filter that throws or changes the size shows the picture as it is.
QImage filtered(const QImage& picture, const std::shared_ptr<const FrameFilter>& filter) {
    if (!filter || picture.isNull()) {
        return picture;
    }
    QImage result;
    try {
        result = (*filter)(picture);
    } catch (...) {
        result = QImage();
    }
    return result.size() == picture.size() ? result : picture;
}

}  // namespace

QImage FakeQueuePlayer::frameAt(double hostTime) const {
    std::shared_ptr<const Snapshot> snapshot;
    {
        std::lock_guard lock(snapshotMutex_);
        snapshot = snapshot_;
    }
    if (!snapshot || !snapshot->current) {
        return {};
    }
    const auto& current = *snapshot->current;
    const double clockTime = snapshot->clock->timeAt(hostTime);
    if (snapshot->next && clockTime >= snapshot->clockEnd - kClockSlack) {
        // Past the end before the run loop has handled it: the next item is already on.
        const auto& next = *snapshot->next;
        const double t =
            next.timeAt(clockTime) + snapshot->rate * std::max(0.0, clockTime - snapshot->clockEnd);
        QImage image = next.pictureAt(std::min(t, next.endTime));
        if (!image.isNull()) {
            return filtered(image, next.filter);
        }
    }
    QImage image = current.pictureAt(current.timeAt(clockTime));
    if (!image.isNull()) {
        return filtered(image, current.filter);
    }
    return filtered(snapshot->carryOver, snapshot->carryOverFilter);
}

// ---- layer ----

FakePlayerLayer::FakePlayerLayer(std::shared_ptr<QueuePlayer> player) {
    setPlayer(std::move(player));
}

void FakePlayerLayer::setPlayer(std::shared_ptr<QueuePlayer> player) {
    subscription_.reset();
    {
        std::lock_guard lock(mutex_);
        player_ = player;
    }
    if (!player) {
        update(false);
        return;
    }
    subscription_ =
        player->hasDisplayableFrame().subscribe([this](const bool& ready) { update(ready); });
    update(player->hasDisplayableFrame().get());
}

std::shared_ptr<QueuePlayer> FakePlayerLayer::player() const {
    std::lock_guard lock(mutex_);
    return player_;
}

void FakePlayerLayer::update(bool ready) {
    if (ready != ready_.get()) {
        ready_.set(ready);
    }
}

QImage FakePlayerLayer::frameAt(double hostTime) const {
    const auto current = player();
    return current ? current->frameAt(hostTime) : QImage();
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
    registry_->assets.push_back(asset);
    return asset;
}

std::shared_ptr<PlayerItem> FakeMediaFactory::makeItem(
    std::shared_ptr<platform::media::Asset> asset) {
    return registry_->makeItem(std::move(asset), registry_);
}

std::shared_ptr<QueuePlayer> FakeMediaFactory::makeQueuePlayer() {
    auto player = std::make_shared<FakeQueuePlayer>(registry_);
    registry_->players.push_back(player);
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
    return std::make_unique<FakePlayerLayer>(std::move(player));
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
