#pragma once

// A slot's sound at the start of a clip: its level (the slot's own, muted by its own mute or by
// the output mute as it is when applied) and the start of its picture and sound together once
// the slot's chain has loaded the sound.
//
// Owns: the wait for the chain's sound, for one play at a time.
//
// Life, as every part of a play has it: start(play, ...) binds the sound to `play` (held weakly)
// and begins the wait; stop() ends the wait and releases the play. applyLevel() belongs to no play.

#include <functional>
#include <memory>

#include "model/settings_records.h"
#include "model/slot_data.h"
#include "platform/runloop/published.h"
#include "platform/runloop/run_loop.h"
#include "playback/play.h"

namespace kestio::output {
class OutputSurface;
class PlaybackSlot;
}  // namespace kestio::output

namespace kestio {

class SlotSound {
  public:
    // How often a start looks whether the slot has an item to play.
    static constexpr double kPoll = 0.02;

    SlotSound(platform::RunLoop& loop, output::OutputSurface& view,
              const platform::Published<bool>& isMuted)
        : loop_(loop), view_(view), isMuted_(isMuted) {}

    // Sets the slot chain's level from `settings`, with the output mute as it is now.
    void applyLevel(output::PlaybackSlot& slot, const AudioSettings& settings) const;
    // Everything of the slot's own that its sound is heard with: its level and mute (with the
    // output mute as it is now) and its equaliser. Every route that puts a slot on its way to
    // air applies it before its sound can be heard.
    void applySound(output::PlaybackSlot& slot, const SlotData& data) const;
    // Starts the slot's picture and sound together from clip time `from` once its item is ready
    // and its chain has loaded the sound, for `play` only; `onStarted` gets the clip player's
    // answer.
    void start(Play& play, output::PlaybackSlot& slot, const AudioSettings& settings, double from,
               std::function<void(bool ready)> onStarted = {});
    // Ends the wait under way and releases the play.
    void stop() {
        poll_.cancel();
        waiting_.reset();
        play_.reset();
    }

  private:
    platform::RunLoop& loop_;
    output::OutputSurface& view_;
    const platform::Published<bool>& isMuted_;
    // The play the wait is for.
    std::weak_ptr<Play> play_;
    platform::TimerHandle poll_;
    // Held by the wait for the chain's sound under way; a later start or stop() lets it go.
    std::shared_ptr<bool> waiting_;
};

}  // namespace kestio
