#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "platform/audio/segment_loop.h"
#include "platform/media/clip_player.h"
#include "platform/media/player_looper.h"
#include "platform/media/sound_clock.h"
#include "platform/runloop/run_loop.h"

namespace kestio::platform::audio {
class AudioEngine;
class AudioPlayerNode;
class TimePitchNode;
}  // namespace kestio::platform::audio

namespace kestio::platform::media {

// The clip player of the real classes: a queue player for the pictures paired with an audio
// player node for the sound. The queue player follows the node through a SoundClock, so the
// picture shows the item time of the sound being heard (a sound that starts late or runs dry
// holds its picture with it; a silent clip follows the engine clock). Loops repeat the range on
// the queue player with a DecodedPlayerLooper and keep sound passes scheduled on the node a
// few seconds ahead (audio::SegmentLoop), so a seam needs no step of the run loop's thread.
//
// Readiness of the sound is the node having read ahead (AudioPlayerNode::waitUntilPrepared with
// no wait), looked at every millisecond or few of the run loop while a start waits for it.
class PairedClipPlayer final : public ClipPlayer {
  public:
    // `node` must be attached to `engine` and connected, through `stretch` when one is given
    // (it then takes the sound's rate changes).
    PairedClipPlayer(RunLoop& loop, audio::AudioEngine& engine, std::shared_ptr<QueuePlayer> player,
                     std::shared_ptr<audio::AudioPlayerNode> node,
                     std::shared_ptr<audio::TimePitchNode> stretch = nullptr);
    ~PairedClipPlayer() override;

    void play(Clip clip, ItemTime from, ClockTime atClockTime,
              std::function<void(bool ready)> onReady = {}) override;
    void prepare(Clip clip, ItemTime from) override;
    void seekAndPlay(ItemTime itemTime, ClockTime atClockTime,
                     std::function<void(bool ready)> onReady = {}) override;
    void setRate(float rate, ClockTime atClockTime) override;
    float rate() const override { return rate_; }
    void stop() override;
    void endLoop() override;
    void followItemEnd() override;
    Published<std::optional<ClockTime>>& startTime() override { return startTime_; }
    int loopCount() const override { return looper_ ? looper_->loopCount() : 0; }
    std::shared_ptr<QueuePlayer> player() const override { return player_; }

    const std::shared_ptr<SoundClock>& soundClock() const { return clock_; }

  private:
    struct Pending {
        ClockTime atClockTime{};
        std::function<void(bool)> onReady;
        bool pictureReady = false;
        HostTime since{};  // when the start began to wait
    };

    // Ends what is under way; the sound scheduled stays when `keepSound` (a prepared sound
    // about to play).
    void cancel(bool answer, bool keepSound = false);
    // The player holds the clip's item already, ready and standing at `from`.
    bool standsAt(ItemTime from) const;
    void prerollPicture(std::uint64_t generation);
    void scheduleSound(ItemTime from);
    // The frame of the clip's sound its item ends at (the sound's length without an end).
    std::int64_t itemEndFrame(double rate, std::int64_t length) const;
    void check();
    // Looks again (check()) a moment later, while the start waits.
    void lookAgain();
    void start();

    RunLoop& loop_;
    audio::AudioEngine& engine_;
    std::shared_ptr<QueuePlayer> player_;
    std::shared_ptr<audio::AudioPlayerNode> node_;
    std::shared_ptr<audio::TimePitchNode> stretch_;
    std::shared_ptr<SoundClock> clock_;
    Clip clip_;
    std::unique_ptr<PlayerLooper> looper_;
    float rate_ = 1.0f;
    double soundLength_ = 0.0;
    audio::SegmentLoop soundLoop_;
    // The sound frames a clip's schedule runs over (not a loop).
    std::int64_t soundStart_ = 0;
    std::int64_t soundEnd_ = 0;
    // Frames of one sound pass of a loop.
    std::uint64_t passFrames_ = 0;
    // Frames of the range's start the first sound pass leaves out (a loop resumed mid-pass).
    std::uint64_t firstPassSkip_ = 0;
    std::uint64_t generation_ = 0;
    std::optional<Pending> pending_;
    // The sound prepare() scheduled, not started: the item and sound it was read for, and from
    // where.
    struct Prepared {
        std::shared_ptr<PlayerItem> item;
        std::shared_ptr<audio::AudioFile> sound;
        double from = 0.0;
    };
    std::optional<Prepared> prepared_;
    TimerHandle poll_;
    Published<std::optional<ClockTime>> startTime_{std::nullopt};
    // Posted work and sound completions hold this weakly.
    std::shared_ptr<PairedClipPlayer*> self_ = std::make_shared<PairedClipPlayer*>(this);
};

}  // namespace kestio::platform::media
