#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "platform/media/media_time.h"
#include "platform/media/player_item.h"
#include "platform/media/queue_player.h"
#include "platform/runloop/published.h"
#include "platform/runloop/time_types.h"

namespace kestio::platform::audio {
class AudioFile;
}

namespace kestio::platform::media {

// Plays one clip's picture and sound together on one clock (the audio engine's): it prerolls
// both sides, reports when they are ready, and starts them at one clock time; a rate change
// asked for ahead takes effect on both at its clock time. Loops repeat a range on both sides
// with no step of the run loop's thread at a seam.
//
// All on the run loop's thread; completions are posted to it, never run inside a call.
class ClipPlayer {
  public:
    struct Clip {
        // The pictures; required.
        std::shared_ptr<PlayerItem> item;
        // The sound, from the same file or another, its frame 0 at item time 0; null: silent.
        std::shared_ptr<audio::AudioFile> sound;
        // Set: the range repeats on both sides without a gap until stop() or the next play.
        std::optional<TimeRange> loop;
    };

    virtual ~ClipPlayer() = default;

    // Prerolls `clip` from item time `from` (a loop from its range start): the first picture
    // decoded there and the sound read ahead. `onReady` gets true (posted) once both sides are
    // ready, false when the clip fails or another play, seek or stop comes first. Picture and
    // sound then start together at the engine-clock time `atClockTime`, at the rate last set;
    // when a side is not ready by then, together as soon as both are.
    virtual void play(Clip clip, ItemTime from, ClockTime atClockTime,
                      std::function<void(bool ready)> onReady = {}) = 0;
    // Reads the sound of `clip` (not a loop) ahead from item time `from`, starting nothing, for a
    // clip loaded ahead of its play (a preload): a play() of the same clip from there then starts
    // its sound from what was read, with no wait. Any other play, a seek or a stop drops it.
    virtual void prepare(Clip /*clip*/, ItemTime /*from*/) {}
    // The clip now playing, from item time `itemTime`, by the same rule as play().
    virtual void seekAndPlay(ItemTime itemTime, ClockTime atClockTime,
                             std::function<void(bool ready)> onReady = {}) = 0;
    // Picture and sound keep the rate they have until the clock reads `atClockTime`, and run at
    // `rate` (above 0) from there. Before a start, the rate the start runs at.
    virtual void setRate(float rate, ClockTime atClockTime) = 0;
    virtual float rate() const = 0;
    // Stops both now; the picture shown stays.
    virtual void stop() = 0;
    // Ends a loop with the pass playing now: picture and sound play to the end of the range and
    // stop there together, at one seam, the picture on the range's last frame. Nothing without
    // a loop or once ended.
    virtual void endLoop() = 0;
    // The clip's item has a new end (PlayerItem::forwardPlaybackEndTime): the sound ends there
    // too, on the engine clock, whether the clip has started or not; a later end lets the sound
    // go on to it. Nothing for a loop.
    virtual void followItemEnd() = 0;

    // The engine-clock time picture and sound started at (empty until then, and after stop()).
    virtual Published<std::optional<ClockTime>>& startTime() = 0;
    // Loop passes completed (0 without a loop).
    virtual int loopCount() const = 0;
    // The player showing the pictures (for player layers).
    virtual std::shared_ptr<QueuePlayer> player() const = 0;

  protected:
    ClipPlayer() = default;
    ClipPlayer(const ClipPlayer&) = delete;
    ClipPlayer& operator=(const ClipPlayer&) = delete;
};

}  // namespace kestio::platform::media
