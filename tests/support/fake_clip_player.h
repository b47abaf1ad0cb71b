#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/media/clip_player.h"
#include "platform/media/player_looper.h"
#include "platform/runloop/run_loop.h"

namespace kestio::test {

// A scripted clip player, exact in virtual time, for the playback layer's unit tests. The
// pictures play on the queue player given (the fakes' own, from FakeMediaFactory): their
// readiness is the fake items' script. The sound is pretended (whether the clip has one or not):
// it is ready `soundReadyDelay` run-loop seconds after each play. Both start at the clock time
// asked, or at the run loop's clock time when the later side became ready; the queue player's clock
// is left as it is.
class FakeClipPlayer final : public platform::media::ClipPlayer {
  public:
    struct Call {
        enum class Kind { Play, SeekAndPlay, SetRate, Stop, EndLoop };
        Kind kind = Kind::Play;
        platform::HostTime hostTime{};
        platform::ItemTime itemTime{};    // Play, SeekAndPlay: from
        platform::ClockTime clockTime{};  // Play, SeekAndPlay, SetRate: the clock time asked
        float rate = 0.0f;                // SetRate
        bool hasSound = false;            // Play
        std::optional<platform::media::TimeRange> loop;  // Play
    };

    FakeClipPlayer(platform::RunLoop& loop, std::shared_ptr<platform::media::QueuePlayer> player);
    ~FakeClipPlayer() override;

    void play(Clip clip, platform::ItemTime from, platform::ClockTime atClockTime,
              std::function<void(bool ready)> onReady = {}) override;
    void seekAndPlay(platform::ItemTime itemTime, platform::ClockTime atClockTime,
                     std::function<void(bool ready)> onReady = {}) override;
    void setRate(float rate, platform::ClockTime atClockTime) override;
    float rate() const override { return rate_; }
    void stop() override;
    void endLoop() override;
    void followItemEnd() override {}
    platform::Published<std::optional<platform::ClockTime>>& startTime() override {
        return startTime_;
    }
    int loopCount() const override { return looper_ ? looper_->loopCount() : 0; }
    std::shared_ptr<platform::media::QueuePlayer> player() const override { return player_; }

    // For tests.
    double soundReadyDelay = 0.0;
    const std::vector<Call>& calls() const { return calls_; }
    void clearCalls() { calls_.clear(); }

  private:
    void begin(platform::ItemTime from, platform::ClockTime atClockTime,
               std::function<void(bool)> onReady);
    void cancel();
    void check();

    platform::RunLoop& loop_;
    std::shared_ptr<platform::media::QueuePlayer> player_;
    std::unique_ptr<platform::media::PlayerLooper> looper_;
    Clip clip_;
    float rate_ = 1.0f;
    std::uint64_t generation_ = 0;
    bool pictureReady_ = false;
    bool soundReady_ = false;
    platform::ClockTime asked_;
    std::function<void(bool)> onReady_;
    platform::TimerHandle soundTimer_;
    platform::Published<std::optional<platform::ClockTime>> startTime_{std::nullopt};
    std::vector<Call> calls_;
    std::shared_ptr<FakeClipPlayer*> self_ = std::make_shared<FakeClipPlayer*>(this);
};

}  // namespace kestio::test
