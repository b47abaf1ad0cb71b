#include "support/fake_clip_player.h"

#include <algorithm>
#include <cmath>

#include "platform/media/decoded_player_looper.h"

namespace kestio::test {

using platform::media::DecodedPlayerLooper;

FakeClipPlayer::FakeClipPlayer(platform::RunLoop& loop,
                               std::shared_ptr<platform::media::QueuePlayer> player)
    : loop_(loop), player_(std::move(player)) {}

FakeClipPlayer::~FakeClipPlayer() {
    self_.reset();
    onReady_ = nullptr;
}

void FakeClipPlayer::cancel() {
    ++generation_;
    soundTimer_.cancel();
    if (auto onReady = std::exchange(onReady_, nullptr)) {
        loop_.post([onReady = std::move(onReady)] { onReady(false); });
    }
    startTime_.set(std::nullopt);
}

void FakeClipPlayer::play(Clip clip, platform::ItemTime from, platform::ClockTime atClockTime,
                          std::function<void(bool)> onReady) {
    calls_.push_back(
        {Call::Kind::Play, loop_.now(), from, atClockTime, 0.0f, clip.sound != nullptr, clip.loop});
    cancel();
    player_->setRate(0.0f);
    clip_ = std::move(clip);
    looper_.reset();
    if (clip_.loop) {
        looper_ = std::make_unique<DecodedPlayerLooper>(player_, clip_.item, clip_.loop);
        from = platform::ItemTime(clip_.loop->start);
    } else {
        player_->replaceAllItems({clip_.item});
    }
    begin(from, atClockTime, std::move(onReady));
}

void FakeClipPlayer::seekAndPlay(platform::ItemTime itemTime, platform::ClockTime atClockTime,
                                 std::function<void(bool)> onReady) {
    calls_.push_back(
        {Call::Kind::SeekAndPlay, loop_.now(), itemTime, atClockTime, 0.0f, false, {}});
    cancel();
    player_->setRate(0.0f);
    begin(itemTime, atClockTime, std::move(onReady));
}

void FakeClipPlayer::begin(platform::ItemTime from, platform::ClockTime atClockTime,
                           std::function<void(bool)> onReady) {
    asked_ = atClockTime;
    onReady_ = std::move(onReady);
    pictureReady_ = false;
    soundReady_ = false;
    const auto generation = generation_;
    std::weak_ptr<FakeClipPlayer*> weak = self_;
    if (!clip_.loop) {
        player_->seek(from.seconds(), 0.0, 0.0);
    }
    player_->preroll(rate_, [weak, generation](bool finished) {
        if (const auto self = weak.lock(); self && (*self)->generation_ == generation) {
            if (!finished) {
                if (auto answer = std::exchange((*self)->onReady_, nullptr)) {
                    answer(false);
                }
                return;
            }
            (*self)->pictureReady_ = true;
            (*self)->check();
        }
    });
    soundTimer_ = loop_.after(soundReadyDelay, [this] {
        soundReady_ = true;
        check();
    });
}

void FakeClipPlayer::check() {
    if (!pictureReady_ || !soundReady_ || startTime_.get()) {
        return;
    }
    const platform::ClockTime at = std::max(asked_, player_->clock()->timeAt(loop_.now()));
    player_->setRate(rate_, at);
    startTime_.set(at);
    if (auto onReady = std::exchange(onReady_, nullptr)) {
        loop_.post([onReady = std::move(onReady)] { onReady(true); });
    }
}

void FakeClipPlayer::setRate(float rate, platform::ClockTime atClockTime) {
    calls_.push_back(
        {Call::Kind::SetRate, loop_.now(), platform::ItemTime(), atClockTime, rate, false, {}});
    if (!std::isfinite(rate) || rate <= 0.0f) {
        return;
    }
    rate_ = rate;
    if (startTime_.get()) {
        player_->setRate(rate, atClockTime);
    }
}

void FakeClipPlayer::stop() {
    calls_.push_back({Call::Kind::Stop,
                      loop_.now(),
                      platform::ItemTime(),
                      platform::ClockTime(),
                      0.0f,
                      false,
                      {}});
    cancel();
    player_->setRate(0.0f);
    looper_.reset();
}

void FakeClipPlayer::endLoop() {
    calls_.push_back({Call::Kind::EndLoop,
                      loop_.now(),
                      platform::ItemTime(),
                      platform::ClockTime(),
                      0.0f,
                      false,
                      {}});
    if (looper_) {
        looper_->disableLooping();
    }
}

}  // namespace kestio::test
