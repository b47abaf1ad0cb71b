#include <cmath>

#include "output/audio_engine_controller.h"
#include "output/output_surface.h"
#include "output/playback_slot.h"
#include "platform/media/media_factory.h"
#include "platform/media/player_item.h"
#include "platform/media/queue_player.h"
#include "platform/runloop/console.h"
#include "playback/playback_text.h"
#include "playback/warm_up.h"

namespace kestio {

using output::PlaybackSlot;

namespace {
// A separate player's warm-up gives up after this long.
constexpr double kWarmUpTimeout = 4.0;
// Read-ahead of the separate player's item.
constexpr double kWarmUpForwardBuffer = 1.0;
// Read-ahead of a warmed loop's template item.
constexpr double kWarmLoopForwardBuffer = 5.0;
}  // namespace

// A video prerolled on a player of its own: it lives until it reports, fails, times out or a
// later warm-up replaces it.
struct WarmUp::Attempt {
    uint64_t token = 0;
    std::shared_ptr<platform::media::QueuePlayer> player;
    std::shared_ptr<platform::media::PlayerItem> item;
    platform::Subscription status;
    platform::TimerHandle timeout;
};

// One wait for a warm-up step: it ends once, ready or not.
struct WarmUp::Wait {
    bool ended = false;
    std::function<void(bool)> done;
};

WarmUp::WarmUp(platform::RunLoop& loop, output::OutputSurface& view, PlayEvents& events,
               platform::media::MediaFactory* media, std::function<void()>& onWarmReady)
    : loop_(loop), view_(view), events_(events), media_(media), onWarmReady_(onWarmReady) {}

WarmUp::~WarmUp() {
    alive_.reset();
    readyTimer_.cancel();
}

void WarmUp::signalReady() {
    if (onWarmReady_) {
        auto ready = onWarmReady_;
        ready();
    }
}

void WarmUp::signalReadyLater() {
    loop_.post([weak = weakSelf(), this] {
        if (weak.lock()) {
            signalReady();
        }
    });
}

void WarmUp::warm(int bank, int slot, const std::filesystem::path& url, const SlotData& data) {
    const uint64_t token = ++token_;
    // An attempt still under way belongs to an earlier request: its answer no longer counts.
    attempt_.reset();
    events_.log("ウォームアップ: " + bankSlotText(bank, slot) + " " + data.name);
    if (data.postRollMode == PostRollMode::loop && data.mediaType == MediaType::video) {
        warmLoop(token, bank, slot, url, data);
    } else {
        warmOnSeparatePlayer(token, url);
    }
}

void WarmUp::warmOnSeparatePlayer(uint64_t token, const std::filesystem::path& url) {
    if (media_ == nullptr) {
        platform::Console::log("warm-up: no media factory to preroll " + url.string());
        return;
    }
    auto attempt = std::make_shared<Attempt>();
    attempt->token = token;
    attempt->player = media_->makeQueuePlayer();
    attempt->player->setVolume(0.0f);
    attempt->player->setMuted(true);
    attempt->player->setAutomaticallyWaitsToMinimizeStalling(false);
    attempt->item = media_->makeItem(media_->makeAsset(url));
    attempt->item->setPreferredForwardBufferDuration(kWarmUpForwardBuffer);
    attempt_ = attempt;
    std::weak_ptr<Attempt> weakAttempt = attempt;

    // Ends the attempt (the player with it) without reporting anything.
    const auto drop = [weak = weakSelf(), this, weakAttempt] {
        if (weak.lock() && attempt_ && attempt_ == weakAttempt.lock()) {
            attempt_.reset();
        }
    };
    attempt->timeout = loop_.after(kWarmUpTimeout, [drop, url] {
        platform::Console::log("warm-up: not ready after 4 s: " + url.string());
        drop();
    });
    attempt->status = attempt->item->status().subscribe(
        [weak = weakSelf(), this, weakAttempt, drop](const platform::media::ItemStatus& status) {
            const auto current = weakAttempt.lock();
            if (!weak.lock() || !current) {
                return;
            }
            if (status == platform::media::ItemStatus::Failed) {
                platform::Console::log("warm-up: cannot open " + current->item->url().string() +
                                       ": " + current->item->error());
                // Not inside the item's own notification: dropping the attempt frees the item.
                loop_.post(drop);
                return;
            }
            if (status != platform::media::ItemStatus::ReadyToPlay) {
                return;
            }
            current->status.reset();
            current->player->preroll(
                1.0f, [weak, this, weakAttempt, token = current->token, drop](bool finished) {
                    if (!weak.lock() || !weakAttempt.lock()) {
                        return;
                    }
                    drop();
                    if (finished) {
                        signal(token);
                    }
                });
        });
    attempt->player->insert(attempt->item);
}

void WarmUp::warmLoop(uint64_t token, int bank, int slot, const std::filesystem::path& url,
                      const SlotData& data) {
    output::OutputSurface& view = view_;
    PlaybackSlot& hidden = view.hiddenSlot();
    const double inPoint =
        data.inPoint && std::isfinite(*data.inPoint) ? std::max(*data.inPoint, 0.0) : 0.0;
    const std::optional<double> outPoint =
        data.outPoint && std::isfinite(*data.outPoint) ? data.outPoint : std::nullopt;
    // The loop runs hidden (the slot's opacity stays 0) and silent (its chain muted) until the
    // loop path takes it over.
    hidden.load(url, inPoint, outPoint, data.colorSettings);
    hidden.audio().setLevel(data.audioSettings.masterLevel, true);
    const auto item = hidden.player()->current();
    output::Cue cue;
    cue.ref = SlotRef{bank, slot};
    cue.url = url;
    cue.state = output::CueState::warming;
    cue.item = item;
    cue.inPoint = inPoint;
    view.cue(std::move(cue));
    if (!item) {
        platform::Console::log("warm-up: no item for " + url.string());
        return;
    }
    item->setPreferredForwardBufferDuration(kWarmLoopForwardBuffer);
    hidden.startLoop(url, item->asset(), item, inPoint, outPoint, [weak = weakSelf(), this, token] {
        if (weak.lock()) {
            signal(token);
        }
    });
}

void WarmUp::signal(uint64_t token) {
    if (token == token_) {
        signalReady();
    }
}

void WarmUp::waitForReady(double timeout, std::function<void(bool ready)> done) {
    // A wait still under way is replaced: it ends "not ready" now rather than never.
    if (const auto earlier = std::exchange(wait_, nullptr); earlier && !earlier->ended) {
        earlier->ended = true;
        loop_.post([done = std::move(earlier->done)] {
            if (done) {
                done(false);
            }
        });
    }
    readyTimer_.cancel();
    auto wait = std::make_shared<Wait>();
    wait->done = std::move(done);
    wait_ = wait;
    std::weak_ptr<Wait> weakWait = wait;
    // Whichever of the signal and the timer comes first ends the wait; the other finds it ended.
    auto finish = [weak = weakSelf(), this, weakWait](bool ready) {
        const auto current = weakWait.lock();
        if (!current || current->ended) {
            return;
        }
        current->ended = true;
        // Answered on a later turn, never inside the step that signalled.
        loop_.post([done = std::move(current->done), ready] {
            if (done) {
                done(ready);
            }
        });
        if (weak.lock() && wait_ == current) {
            readyTimer_.cancel();
            wait_.reset();
            // Last: this may be the callback running now, and nothing of it is used after.
            onWarmReady_ = nullptr;
        }
    };
    const double seconds = std::isfinite(timeout) && timeout > 0.0 ? timeout : 0.0;
    readyTimer_ = loop_.after(seconds, [finish] { finish(false); });
    onWarmReady_ = [finish] { finish(true); };
}

}  // namespace kestio
