#pragma once

// Next-cue preload: the successor of a video on air is loaded, paused and hidden, into the hidden
// slot and cued there with the output surface, so that its cut needs no load time. A looping cue
// is preloaded the same way, held paused at its in point: nothing of it runs ahead, and its first
// pass starts from there at its take. The play entry recognises a preload by asking the surface
// whether it holds that cue.

//
// Owns: the wait for a dissolve to end before the hidden slot is loaded (stop() ends it). What was
// preloaded is recorded as the output surface's cue, nowhere else.
//
// Life, as every part of a play has it: start(play, ...) binds the preload to the play in force
// (held weakly) and begins the load or the wait for it; stop() ends the wait and releases the
// play. The cue loaded outlives both: it is the surface's.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>

#include "model/slot_data.h"
#include "output/slot_cue.h"
#include "platform/runloop/published.h"
#include "platform/runloop/run_loop.h"
#include "playback/play.h"
#include "playback/play_events.h"

namespace kestio::platform::media {
class PlayerItem;
}
namespace kestio::output {
class OutputSurface;
class PlaybackSlot;
}  // namespace kestio::output

namespace kestio {

class NextCuePreload {
  public:
    NextCuePreload(platform::RunLoop& loop, output::OutputSurface& view, PlayEvents& events,
                   const platform::Published<bool>& isMuted);
    ~NextCuePreload();
    NextCuePreload(const NextCuePreload&) = delete;
    NextCuePreload& operator=(const NextCuePreload&) = delete;

    // Loads the slot into the hidden playback slot, paused at its in point, and cues it there
    // (a video only, a loop too; never a file known missing).
    // While a dissolve still shows the hidden slot, the load waits for it to end, for the play
    // in force now (`during`) only.
    void start(Play& during, int bank, int slot, const std::filesystem::path& url,
               const SlotData& data);
    // Ends the wait for the hidden slot and releases the play; a preload already loaded stays
    // cued.
    void stop() {
        retry_.cancel();
        play_.reset();
    }
    // The cued `item` in `slot` stands at `inPoint` with that picture ready to show, and the
    // slot's chain has its sound.
    bool pictureReady(output::PlaybackSlot& slot,
                      const std::shared_ptr<platform::media::PlayerItem>& item,
                      double inPoint) const;

  private:
    void whenHiddenSlotIsFree(SlotRef target, const std::filesystem::path& url,
                              const SlotData& data);
    void load(SlotRef target, const std::filesystem::path& url, const SlotData& data,
              double inPoint, std::optional<double> outPoint);
    std::weak_ptr<bool> weakSelf() const { return alive_; }

    platform::RunLoop& loop_;
    output::OutputSurface& view_;
    PlayEvents& events_;
    const platform::Published<bool>& isMuted_;
    // The play in force the preload was asked for during.
    std::weak_ptr<Play> play_;
    platform::TimerHandle retry_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace kestio
