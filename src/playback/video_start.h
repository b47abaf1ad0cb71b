#pragma once

// The video path: loading a clip into the hidden slot (or taking over the preloaded one),
// starting its picture and sound together at its in point, and the guarded switch of the two
// slots.

//
// Owns: the observation of the starting item's status and the layer-switch guard (one switch in
// 50 ms). The cue it starts is recorded with the output surface; the follower it asks to be
// preloaded is the post-roll policy's answer. Every step acts for the play it was begun for only.
//
// Life, as every part of a play has it: start(play, ...) binds the start to `play` (held weakly)
// and begins it; stop() ends the status observation and releases the play. The layer-switch guard
// serves every play: a loop asks for its switch with the play it is for.

#include <filesystem>
#include <functional>
#include <memory>

#include "model/slot_data.h"
#include "platform/runloop/published.h"
#include "platform/runloop/run_loop.h"
#include "platform/runloop/time_types.h"
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

class ClipClock;
class NextCuePreload;
class PostRollPolicy;
class SlotSound;
class WarmUp;

class VideoStart {
  public:
    // A layer switch asked for by a loop.
    struct LayerSwitch {
        bool dissolve = false;
        output::PlaybackSlot* target = nullptr;
        double duration = 0.0;
    };

    // The parts a start drives.
    struct Parts {
        ClipClock& clock;
        NextCuePreload& preload;
        WarmUp& warmUp;
        SlotSound& sound;
        const PostRollPolicy& policy;
    };

    VideoStart(platform::RunLoop& loop, output::OutputSurface& view, PlayEvents& events,
               Parts parts)
        : loop_(loop), view_(view), events_(events), parts_(parts) {}
    ~VideoStart() { alive_.reset(); }
    VideoStart(const VideoStart&) = delete;
    VideoStart& operator=(const VideoStart&) = delete;

    // Starts `play` (its slot from its file, by the record `data`) in `target` (the hidden
    // slot): the preloaded cue taken over when it is this one, else the clip loaded; switched to
    // air once placed, a cut as soon as the slot shows the in-point picture (the clip stands
    // there until picture and sound start together), a dissolve once the clip has started.
    void start(Play& play, const SlotData& data, output::PlaybackSlot& target);
    // Switches to `change.target` through the guard, for `play` only.
    void requestLayerSwitch(Play& play, LayerSwitch change);
    // The slot shows a picture, keeps up, and (for a dissolve) runs.
    bool isReadyToSwitch(output::PlaybackSlot& slot, bool dissolve) const;
    // Ends the status and picture observations and releases the play.
    void stop() {
        statusObserver_.reset();
        shownObserver_.reset();
        play_.reset();
    }

  private:
    // What one video start carries through its deferred steps.
    struct StartContext {
        std::weak_ptr<Play> play;
        int bank = 0;
        int slot = 0;
        output::PlaybackSlot* target = nullptr;
        std::shared_ptr<platform::media::PlayerItem> item;
        SlotData data;
        platform::HostTime startedAt;
        bool dissolve = false;
        double dissolveDuration = 0.0;
        double inPoint = 0.0;
        // The item's readiness was handled; the picture was placed; the clip player has
        // prerolled the clip; the start was begun (each at most once).
        std::shared_ptr<bool> ready = std::make_shared<bool>(false);
        std::shared_ptr<bool> placed = std::make_shared<bool>(false);
        std::shared_ptr<bool> clipReady = std::make_shared<bool>(false);
        std::shared_ptr<bool> started = std::make_shared<bool>(false);
    };

    void onItemReady(const StartContext& context);
    void showWhenReady(const StartContext& context);
    void deferredStart(const StartContext& context);
    // Switches in once the slot is ready for its transition: placed, and for a cut showing its
    // first picture, for a dissolve started.
    void switchWhenReady(const StartContext& context);
    void startAndSwitch(const StartContext& context);
    void performLayerSwitch(Play& play, std::function<void()> action);
    void switchLayer(const LayerSwitch& change);

    platform::RunLoop& loop_;
    output::OutputSurface& view_;
    PlayEvents& events_;
    Parts parts_;
    // The play the start is for.
    std::weak_ptr<Play> play_;
    platform::Subscription statusObserver_;
    platform::Subscription shownObserver_;
    bool isSwitchingLayer_ = false;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace kestio
