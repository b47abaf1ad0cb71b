#include "playback/slot_sound.h"

#include <utility>

#include "output/audio_engine_controller.h"
#include "output/output_surface.h"
#include "output/playback_slot.h"
#include "platform/runloop/console.h"

namespace kestio {

void SlotSound::applyLevel(output::PlaybackSlot& slot, const AudioSettings& settings) const {
    // The output mute is read now: the operator may flip it while the slot is starting.
    slot.audio().setLevel(settings.masterLevel, settings.isMuted || isMuted_.get());
}

void SlotSound::applySound(output::PlaybackSlot& slot, const SlotData& data) const {
    applyLevel(slot, data.audioSettings);
    slot.audio().applyEqualizer(data.equalizer);
}

void SlotSound::start(Play& play, output::PlaybackSlot& slot, const AudioSettings& settings,
                      double from, std::function<void(bool ready)> onStarted) {
    play_ = play.weak_from_this();
    // The picture side needs no wait: the clip player prerolls the item from its first load on,
    // so its first picture is decoded once. The sound is waited for as its load ends, not a
    // poll later: every millisecond here is one more before the cue's first frame.
    poll_.cancel();
    waiting_.reset();
    auto again = stepOf(play_, [this, target = &slot, settings, from, onStarted](Play& current) {
        start(current, *target, settings, from, onStarted);
    });
    if (!slot.player()->current()) {
        poll_ = loop_.after(kPoll, again);
        return;
    }
    if (!slot.audio().loadFinished()) {
        waiting_ = std::make_shared<bool>(true);
        slot.audio().whenLoaded([token = std::weak_ptr<bool>(waiting_), again](bool) mutable {
            if (token.lock()) {
                again();
            }
        });
        return;
    }
    applyLevel(slot, settings);
    const auto item = slot.player()->current();
    if (item->statusValue() == platform::media::ItemStatus::Failed) {
        if (onStarted) {
            onStarted(false);
        }
        return;
    }
    slot.audio().startEngineIfNeeded();
    const auto& engineClock = view_.sharedEngine().clock();
    slot.clipPlayer().play(slot.currentClip(), platform::ItemTime(from),
                           engineClock->timeAt(loop_.now()), stepOf(play, [onStarted](bool ready) {
                               if (!ready) {
                                   platform::Console::log("playback: the clip could not start");
                               }
                               if (onStarted) {
                                   onStarted(ready);
                               }
                           }));
}

}  // namespace kestio
