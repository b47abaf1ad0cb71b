// Warm-up playback: while the show controller warms the project's clips, a play request puts
// nothing on air. A video is prerolled on a separate player that no view shows and no engine
// hears; a looping video is started looping, silent and unseen, in the hidden slot, cued there
// as warming (never taken to air: a fired loop starts at its in point); a still or a sound only
// reports ready.
//
// Each warm-up request carries a token: a signal of an earlier request (a preroll finishing
// after its wait gave up) is dropped, so it cannot end the wait of the next slot. A warm-up that
// times out or fails reports nothing, so its wait ends "not ready".

#include <cmath>

#include "output/audio_engine_controller.h"
#include "output/output_surface.h"
#include "output/playback_slot.h"
#include "platform/media/media_factory.h"
#include "platform/media/player_item.h"
#include "platform/media/queue_player.h"
#include "platform/runloop/console.h"
#include "playback/playback_controller.h"
#include "playback/playback_text.h"

namespace kestio {

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
struct PlaybackController::WarmUpAttempt {
    uint64_t token = 0;
    std::shared_ptr<platform::media::QueuePlayer> player;
    std::shared_ptr<platform::media::PlayerItem> item;
    platform::Subscription status;
    platform::TimerHandle timeout;
};

// One wait for a warm-up step: it ends once, ready or not.
struct PlaybackController::WarmWait {
    bool ended = false;
    std::function<void(bool)> done;
};

void PlaybackController::warmUp(int bank, int slot, const std::filesystem::path& url,
                                const SlotData& data) {
    const uint64_t token = ++warmToken_;
    // An attempt still under way belongs to an earlier request: its answer no longer counts.
    warmUpAttempt_.reset();
    log("ウォームアップ: " + bankSlotText(bank, slot) + " " + data.name);
    if (data.postRollMode == PostRollMode::loop && data.mediaType == MediaType::video) {
        warmUpLoop(token, bank, slot, url, data);
    } else {
        warmUpOnSeparatePlayer(token, url);
    }
}

void PlaybackController::warmUpOnSeparatePlayer(uint64_t warmToken,
                                                const std::filesystem::path& url) {
    if (media_ == nullptr) {
        platform::Console::log("warm-up: no media factory to preroll " + url.string());
        return;
    }
    auto attempt = std::make_shared<WarmUpAttempt>();
    attempt->token = warmToken;
    attempt->player = media_->makeQueuePlayer();
    attempt->player->setVolume(0.0f);
    attempt->player->setMuted(true);
    attempt->player->setAutomaticallyWaitsToMinimizeStalling(false);
    attempt->item = media_->makeItem(media_->makeAsset(url));
    attempt->item->setPreferredForwardBufferDuration(kWarmUpForwardBuffer);
    warmUpAttempt_ = attempt;
    std::weak_ptr<WarmUpAttempt> weakAttempt = attempt;

    // Ends the attempt (the player with it) without reporting anything.
    const auto drop = [weak = weakSelf(), this, weakAttempt] {
        if (weak.lock() && warmUpAttempt_ && warmUpAttempt_ == weakAttempt.lock()) {
            warmUpAttempt_.reset();
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
                        signalWarmReady(token);
                    }
                });
        });
    attempt->player->insert(attempt->item);
}

void PlaybackController::warmUpLoop(uint64_t warmToken, int bank, int slot,
                                    const std::filesystem::path& url, const SlotData& data) {
    PlaybackSlot& hidden = hiddenSlot();
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
    view_->cue(std::move(cue));
    if (!item) {
        platform::Console::log("warm-up: no item for " + url.string());
        return;
    }
    item->setPreferredForwardBufferDuration(kWarmLoopForwardBuffer);
    hidden.startLoop(url, item->asset(), item, inPoint, outPoint,
                     [weak = weakSelf(), this, warmToken] {
                         if (!weak.lock() || warmToken != warmToken_) {
                             return;
                         }
                         signalWarmReady(warmToken);
                     });
}

void PlaybackController::signalWarmReady(uint64_t warmToken) {
    if (warmToken != warmToken_ || !onWarmReady) {
        return;
    }
    auto ready = onWarmReady;
    ready();
}

void PlaybackController::waitForWarmReady(double timeout, std::function<void(bool ready)> done) {
    // A wait still under way is replaced: it ends "not ready" now rather than never.
    if (const auto earlier = std::exchange(warmWait_, nullptr); earlier && !earlier->ended) {
        earlier->ended = true;
        loop_.post([done = std::move(earlier->done)] {
            if (done) {
                done(false);
            }
        });
    }
    warmReadyTimer_.cancel();
    auto wait = std::make_shared<WarmWait>();
    wait->done = std::move(done);
    warmWait_ = wait;
    std::weak_ptr<WarmWait> weakWait = wait;
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
        if (weak.lock() && warmWait_ == current) {
            warmReadyTimer_.cancel();
            warmWait_.reset();
            // Last: this may be the callback running now, and nothing of it is used after.
            onWarmReady = nullptr;
        }
    };
    const double seconds = std::isfinite(timeout) && timeout > 0.0 ? timeout : 0.0;
    warmReadyTimer_ = loop_.after(seconds, [finish] { finish(false); });
    onWarmReady = [finish] { finish(true); };
}

}  // namespace kestio
