#pragma once

// Warm-up playback: while the show controller warms the project's clips, a play request puts
// nothing on air. A video is prerolled on a separate player that no view shows and no engine
// hears; a looping video is started looping, silent and unseen, in the hidden slot, cued there
// as warming (never taken to air: a fired loop starts at its in point); a still or a sound only
// reports ready.
//
// Each warm-up request carries a token: a signal of an earlier request (a preroll finishing
// after its wait gave up) is dropped, so it cannot end the wait of the next slot. A warm-up that
// times out or fails reports nothing, so its wait ends "not ready".

//
// Owns: the warm-up token, the separate player's attempt and the wait under way. The ready
// signal itself is the controller's onWarmReady hook (the show controller's waits set it), which
// every start of a clip also calls.
//
// Not a part of a play: nothing goes on air while warming, so no play is begun; a warm-up's life
// is its token, which the next warm-up replaces.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>

#include "model/slot_data.h"
#include "platform/runloop/run_loop.h"
#include "playback/play_events.h"

namespace kestio::platform::media {
class MediaFactory;
}
namespace kestio::output {
class OutputSurface;
}

namespace kestio {

class WarmUp {
  public:
    // `media` makes the separate players (null: none can be made, a video warm-up then only
    // logs); `onWarmReady` is the controller's ready hook.
    WarmUp(platform::RunLoop& loop, output::OutputSurface& view, PlayEvents& events,
           platform::media::MediaFactory* media, std::function<void()>& onWarmReady);
    ~WarmUp();
    WarmUp(const WarmUp&) = delete;
    WarmUp& operator=(const WarmUp&) = delete;

    // Warms (bank, slot) up from `url`: a looping video on the hidden slot, any other video on a
    // separate player. Nothing goes on air.
    void warm(int bank, int slot, const std::filesystem::path& url, const SlotData& data);
    // Calls `done` once: true when the ready hook fires first, false when `timeout` seconds pass
    // first. A wait still under way ends "not ready".
    void waitForReady(double timeout, std::function<void(bool ready)> done);
    // Calls the ready hook now when one is set; on a later turn of the run loop.
    void signalReady();
    void signalReadyLater();

  private:
    struct Attempt;
    struct Wait;

    void warmOnSeparatePlayer(std::uint64_t token, const std::filesystem::path& url);
    void warmLoop(std::uint64_t token, int bank, int slot, const std::filesystem::path& url,
                  const SlotData& data);
    // The ready signal of warm-up `token`: dropped when a later warm-up was asked for.
    void signal(std::uint64_t token);
    std::weak_ptr<bool> weakSelf() const { return alive_; }

    platform::RunLoop& loop_;
    output::OutputSurface& view_;
    PlayEvents& events_;
    platform::media::MediaFactory* media_;
    std::function<void()>& onWarmReady_;
    std::uint64_t token_ = 0;
    std::shared_ptr<Attempt> attempt_;
    std::shared_ptr<Wait> wait_;
    platform::TimerHandle readyTimer_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace kestio
