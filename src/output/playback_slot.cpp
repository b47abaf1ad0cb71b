#include "output/playback_slot.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>
#include <utility>

#include "output/audio_engine_controller.h"
#include "output/still_display_size.h"
#include "output/video_color_compositor.h"
#include "platform/audio/audio_engine.h"
#include "platform/graphics/layer.h"
#include "platform/media/paired_clip_player.h"

namespace kestio::output {

namespace media = platform::media;

namespace {

// The end of a loop over a whole ".mp4" clip when its frame rate cannot be found.
constexpr double kUnknownFrameRate = 60.0;

// A loop over the whole item: the looper and the clip player clamp an endless range to the
// item's duration.
media::TimeRange wholeItem() {
    return {0.0, std::numeric_limits<double>::infinity()};
}

// Picture and sound start together as soon as both are ready.
platform::ClockTime assoonAsReady() {
    return platform::ClockTime(-std::numeric_limits<double>::infinity());
}

bool hasMp4Extension(const std::filesystem::path& url) {
    std::string extension = url.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return extension == ".mp4";
}

// A loaded duration that can bound a range, else 0 (a failed or unknown load).
double usableDuration(const media::Loaded<double>& loaded) {
    return loaded.ok() && std::isfinite(loaded.value()) ? loaded.value() : 0.0;
}

}  // namespace

ClipPlayerFactory PlaybackSlot::pairedClipPlayers(platform::RunLoop& loop,
                                                  platform::audio::AudioEngine& engine) {
    return [&loop, &engine](std::shared_ptr<media::QueuePlayer> player,
                            AudioEngineController& audio) -> std::unique_ptr<media::ClipPlayer> {
        return std::make_unique<media::PairedClipPlayer>(loop, engine, std::move(player),
                                                         audio.playerNode(), audio.timePitchNode());
    };
}

PlaybackSlot::PlaybackSlot(const SlotServices& services, AudioEngineController& audio)
    : loop_(services.loop),
      media_(services.media),
      compositor_(services.compositor),
      audio_(audio),
      containerLayer_(platform::Layer::create(services.loop)),
      videoLayer_(platform::Layer::create(services.loop)),
      player_(services.media.makeQueuePlayer()),
      playerLayer_(services.media.makePlayerLayer(player_)),
      colorSettingsBox_(std::make_unique<ColorSettingsBox>()) {
    containerLayer_->setOpacity(0.0f);
    containerLayer_->addSublayer(videoLayer_);
    videoLayer_->setFrameSource(playerLayer_);
    videoLayer_->setVideoGravity(platform::Gravity::ResizeAspect);

    player_->setVolume(0.0f);
    player_->setAutomaticallyWaitsToMinimizeStalling(false);
    player_->setActionAtItemEnd(media::ActionAtItemEnd::Pause);
    if (services.clipPlayers) {
        clipPlayer_ = services.clipPlayers(player_, audio_);
    }
    // The colour values are the player's frame filter from now on: every item the slot plays,
    // loop passes included, is corrected from its first picture, and a change of the values
    // shows on the next picture composed.
    colorFollow_ = compositor_.compose(player_, *colorSettingsBox_);
    // The still in the container follows the same values where it is composed: a change of
    // them swaps a filter here and leaves the picture work to the presenters.
    stillColorFollow_ = compositor_.composeStill(containerLayer_, *colorSettingsBox_);
}

PlaybackSlot::~PlaybackSlot() {
    stopRefit();
    self_.reset();
    readyRecheck_.cancel();
    readyObserver_.reset();
}

media::ClipPlayer::Clip PlaybackSlot::currentClip() const {
    media::ClipPlayer::Clip clip;
    clip.item = player_->current();
    if (audio_.isReady() && audio_.hasAudio()) {
        clip.sound = audio_.audioFile();
    }
    return clip;
}

void PlaybackSlot::load(const std::filesystem::path& url, double startTime,
                        std::optional<double> endTime, const ColorSettings& colors) {
    stopLooping();
    ++loopGeneration_;
    stopRefit();
    isStill_ = false;

    auto item = media_.makeItem(media_.makeAsset(url));
    item->setPreferredForwardBufferDuration(kLoadForwardBuffer);
    colorSettingsBox_->setValue(colors);

    if (clipPlayer_) {
        clipPlayer_->stop();
    }
    player_->setRate(0.0f);
    player_->removeAllItems();
    player_->insert(item);
    // The item opens at the start: it is ready, and its layer shows a picture, only once the
    // picture there is decoded, never one from before it.
    if (std::isfinite(startTime) && startTime > 0.0) {
        item->seek(startTime, 0.0, 0.0);
    }
    const auto end = endAfter(startTime, endTime);
    setEndTime(end);
    player_->setAutomaticallyWaitsToMinimizeStalling(false);
    player_->setActionAtItemEnd(media::ActionAtItemEnd::Pause);

    videoLayer_->setHidden(false);
    removeStill();

    audio_.load(url, startTime, end);
}

void PlaybackSlot::setEndTime(std::optional<double> endTime) {
    const auto item = player_->current();
    if (!item) {
        return;
    }
    const bool finite = endTime && std::isfinite(*endTime);
    const bool passed = finite && item->currentTime() >= *endTime;
    item->setForwardPlaybackEndTime(finite ? *endTime : std::numeric_limits<double>::quiet_NaN());
    if (passed) {
        // The picture on screen is past the new end: the last one before it is shown instead.
        item->seek(*endTime - kBeforeEnd, 0.0, 0.0);
    }
    if (clipPlayer_) {
        clipPlayer_->followItemEnd();
    }
}

void PlaybackSlot::stopLooping() {
    if (isLooping_ && clipPlayer_) {
        clipPlayer_->endLoop();
    }
    isLooping_ = false;
    // A loop still deciding its range or loading its sound does not start.
    ++loopGeneration_;
    endReadyWait();
    currentItemObserver_.reset();
}

void PlaybackSlot::startLoop(const std::filesystem::path& url, std::shared_ptr<media::Asset> asset,
                             std::shared_ptr<media::PlayerItem> templateItem, double startTime,
                             std::optional<double> endTime, std::function<void()> onReady) {
    const auto generation = ++loopGeneration_;
    player_->setAutomaticallyWaitsToMinimizeStalling(false);
    loopRange_.reset();
    const double start = std::isfinite(startTime) ? std::max(0.0, startTime) : 0.0;

    if (endTime) {
        // An end given, whatever the start: that range, at once (an end at or before the start
        // loops from the start to the item's end, as the looper clamps it).
        const double end = std::isfinite(*endTime) ? *endTime : start;
        startLoopWithRange(generation, url, std::move(templateItem),
                           media::TimeRange::fromTo(start, end), std::move(onReady));
        return;
    }
    if (start <= 0.0 && !hasMp4Extension(url)) {
        startLoopWithRange(generation, url, std::move(templateItem), wholeItem(),
                           std::move(onReady));
        return;
    }
    if (!asset) {
        startLoopWithRange(generation, url, std::move(templateItem), wholeItem(),
                           std::move(onReady));
        return;
    }

    std::weak_ptr<PlaybackSlot*> weak = self_;
    auto rangeFound = [weak, generation, url, templateItem,
                       onReady](std::optional<media::TimeRange> range) mutable {
        if (const auto self = weak.lock()) {
            (*self)->startLoopWithRange(generation, url, std::move(templateItem),
                                        range.value_or(wholeItem()), std::move(onReady));
        }
    };

    if (start > 0.0) {
        // From the start to the end of the item; a duration that cannot be found loops the
        // whole item.
        asset->loadDuration([start, rangeFound](const media::Loaded<double>& loaded) mutable {
            const double duration = usableDuration(loaded);
            rangeFound(duration > 0.0 ? std::optional(media::TimeRange::fromTo(start, duration))
                                      : std::nullopt);
        });
        return;
    }

    // A whole ".mp4" clip loops without its last frame.
    asset->loadDuration([asset, rangeFound](const media::Loaded<double>& loaded) mutable {
        const double duration = usableDuration(loaded);
        if (!(duration > 0.0)) {
            rangeFound(std::nullopt);
            return;
        }
        asset->loadVideoTracks(
            [duration,
             rangeFound](const media::Loaded<std::vector<media::TrackInfo>>& tracks) mutable {
                double rate = kUnknownFrameRate;
                if (tracks.ok() && !tracks.value().empty()) {
                    const double nominal = tracks.value().front().nominalFrameRate;
                    if (std::isfinite(nominal) && nominal > 0.0) {
                        rate = nominal;
                    }
                }
                const double end = std::max(0.0, duration - 1.0 / rate);
                rangeFound(media::TimeRange::fromTo(0.0, end));
            });
    });
}

void PlaybackSlot::startLoopWithRange(std::uint64_t generation, const std::filesystem::path& url,
                                      std::shared_ptr<media::PlayerItem> templateItem,
                                      media::TimeRange range, std::function<void()> onReady) {
    if (generation != loopGeneration_) {
        return;
    }
    loopRange_ = range;
    isLooping_ = true;
    // Every pass is a replica of the template and reads as far ahead.
    templateItem->setPreferredForwardBufferDuration(kLoopForwardBuffer);

    // The sound of the same range (the one the clip's load opened, when it covers the range);
    // the picture and its sound then repeat together on the clip player, which keeps the
    // sound's passes scheduled ahead on the engine.
    const std::optional<double> soundEnd =
        std::isfinite(range.end()) ? std::optional(range.end()) : std::nullopt;
    std::weak_ptr<PlaybackSlot*> weak = self_;
    audio_.loadForLoop(url, range.start, soundEnd,
                       [weak, generation, templateItem = std::move(templateItem), range,
                        onReady = std::move(onReady)](bool latest) mutable {
                           const auto self = weak.lock();
                           if (!self || !latest || (*self)->loopGeneration_ != generation) {
                               return;
                           }
                           PlaybackSlot& slot = **self;
                           media::ClipPlayer::Clip clip;
                           clip.item = std::move(templateItem);
                           if (slot.audio_.isReady() && slot.audio_.hasAudio()) {
                               clip.sound = slot.audio_.audioFile();
                           }
                           clip.loop = range;
                           if (slot.clipPlayer_) {
                               slot.clipPlayer_->play(
                                   std::move(clip), platform::ItemTime(std::max(0.0, range.start)),
                                   assoonAsReady());
                           }
                           slot.waitForReadyForDisplay(kReadyAttempts, std::move(onReady));
                       });
}

void PlaybackSlot::waitForReadyForDisplay(int attempts, std::function<void()> onReady) {
    endReadyWait();
    const auto wait = ++readyWait_;
    waitingForDisplay_ = true;
    onReady_ = std::move(onReady);
    readyPass(wait, attempts);
}

void PlaybackSlot::readyPass(std::uint64_t wait, int attempts) {
    if (attempts < 1 || playerLayer_->readyForDisplay()) {
        finishWait(wait, true);
        return;
    }
    std::weak_ptr<PlaybackSlot*> weak = self_;
    if (!readyObserved_) {
        // One observation per wait, kept across its re-checks.
        readyObserved_ = true;
        readyObserver_ =
            playerLayer_->isReadyForDisplay().subscribe([weak, wait](const bool& ready) {
                if (const auto self = weak.lock(); self && ready) {
                    (*self)->finishWait(wait, true);
                }
            });
    }
    readyRecheck_ = loop_.after(kReadyRecheckSeconds, [weak, wait, attempts] {
        const auto self = weak.lock();
        if (!self || (*self)->readyWait_ != wait || !(*self)->waitingForDisplay_) {
            return;
        }
        PlaybackSlot& slot = **self;
        const auto item = slot.player_->current();
        if (item && item->statusValue() == media::ItemStatus::ReadyToPlay) {
            slot.finishWait(wait, false);
            return;
        }
        slot.readyPass(wait, attempts - 1);
    });
}

void PlaybackSlot::finishWait(std::uint64_t wait, bool posted) {
    if (wait != readyWait_ || !waitingForDisplay_) {
        return;
    }
    auto onReady = std::move(onReady_);
    endReadyWait();
    if (!onReady) {
        return;
    }
    if (posted) {
        loop_.post(std::move(onReady));
    } else {
        onReady();
    }
}

void PlaybackSlot::endReadyWait() {
    waitingForDisplay_ = false;
    onReady_ = nullptr;
    readyObserved_ = false;
    readyObserver_.reset();
    readyRecheck_.cancel();
}

void PlaybackSlot::showStill(const QImage& image, const ColorSettings& colors, QSize ownSize,
                             const std::filesystem::path& file) {
    stopRefit();
    stillFile_ = file;
    stopLooping();
    isStill_ = true;
    if (clipPlayer_) {
        clipPlayer_->stop();
    }
    player_->setRate(0.0f);
    player_->removeAllItems();
    videoLayer_->setHidden(true);
    originalStillImage_ = image;
    stillSize_ = ownSize.isValid() ? ownSize : image.size();
    colorSettingsBox_->setValue(colors);
    containerLayer_->setContents(image);
    // A still shown anew is corrected where it is first composed, never shown uncorrected.
    compositor_.refreshStill(*containerLayer_, *colorSettingsBox_);
    containerLayer_->setContentsGravity(platform::Gravity::ResizeAspect);
}

void PlaybackSlot::setStillDecoder(StillDecode decode, Runner runner) {
    decodeStill_ = std::move(decode);
    runInBackground_ = std::move(runner);
}

void PlaybackSlot::stopRefit() {
    if (refitStop_) {
        refitStop_->store(true);
        refitStop_.reset();
    }
}

void PlaybackSlot::refitStill(QSize shownAt) {
    if (!isStill_ || stillFile_.empty() || originalStillImage_.isNull()) {
        return;
    }
    const QSize needed = stillSizeNeeded(stillSize_, shownAt);
    const QSize have = originalStillImage_.size();
    if (have.width() + 1 >= needed.width() && have.height() + 1 >= needed.height()) {
        return;  // a smaller box shows the picture there is, reduced where it is drawn
    }
    stopRefit();
    if (!runInBackground_) {
        refitWorker_ = std::make_shared<platform::SerialWorker>();
        runInBackground_ = [worker = std::weak_ptr(refitWorker_)](std::function<void()> job) {
            if (const auto running = worker.lock()) {
                running->submit(std::move(job));
            }
        };
    }
    if (!decodeStill_) {
        decodeStill_ = [](const std::filesystem::path& file, QSize size,
                          const platform::StillStop& stop) {
            return platform::decodeStillToShow(file, size, stop);
        };
    }
    auto stop = std::make_shared<std::atomic<bool>>(false);
    refitStop_ = stop;
    std::weak_ptr<PlaybackSlot*> weak = self_;
    runInBackground_([weak, &loop = loop_, stop, decode = decodeStill_, file = stillFile_, shownAt,
                      showing = originalStillImage_.cacheKey()] {
        if (stop->load()) {
            return;
        }
        auto still = std::make_shared<platform::DecodedStill>(
            decode(file, shownAt, [&stop] { return stop->load(); }));
        loop.post([weak, stop, still, showing] {
            const auto self = weak.lock();
            if (!self || stop->load()) {
                return;
            }
            PlaybackSlot& slot = **self;
            slot.refitStop_.reset();
            // Only the same picture, sharper: a failed decode, or a file that changed meanwhile,
            // leaves the picture shown as it is.
            if (!still->ok() || !slot.isStill_ || slot.originalStillImage_.cacheKey() != showing ||
                still->image.width() <= slot.originalStillImage_.width() ||
                (still->fullSize.isValid() ? still->fullSize : still->image.size()) !=
                    slot.stillSize_) {
                return;
            }
            slot.originalStillImage_ = still->image;
            slot.containerLayer_->setContents(still->image);
        });
    });
}

void PlaybackSlot::removeStill() {
    containerLayer_->setContents(QImage());
    compositor_.refreshStill(*containerLayer_, *colorSettingsBox_);
}

void PlaybackSlot::clear() {
    stopRefit();
    stillFile_.clear();
    stopLooping();
    if (clipPlayer_) {
        clipPlayer_->stop();
    }
    player_->pause();
    player_->removeAllItems();
    audio_.stop();
    removeStill();
    stillSize_ = QSize();
    containerLayer_->setOpacity(0.0f);
    containerLayer_->removeAnimation(kFadeIn);
    containerLayer_->removeAnimation(kFadeOut);
    isStill_ = false;
    ++clearCount_;
}

}  // namespace kestio::output
