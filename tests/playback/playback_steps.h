#pragma once

// Steps the tests of the loop, preload, warm-up and transport share on a PlaybackRig: letting a
// sound chain's load thread hand its outcome over, playing a slot until it is on air, and
// counting play-log lines.

#include <string>

#include "output/audio_engine_controller.h"
#include "output/output_surface.h"
#include "output/playback_slot.h"
#include "platform/graphics/layer.h"
#include "playback/playback_rig.h"
#include "support/fake_clip_player.h"
#include "support/fake_media.h"

namespace kestio::test {

// Lets the load thread of `chain` hand its outcome over, without moving the clock.
inline void settleLoad(PlaybackRig& rig, AudioEngineController& chain) {
    for (int i = 0; i < 500 && !chain.loadFinished(); ++i) {
        rig.loop.waitForPosted(0.01);
    }
    rig.loop.runPending();
}

// `slot` is on air with a started clip (or a still).
inline bool clipOnAir(PlaybackRig& rig, output::PlaybackSlot& slot) {
    return &rig.surface().showingSlot() == &slot && slot.containerLayer()->opacity() == 1.0f &&
           (slot.isStill() || slot.clipPlayer().startTime().get().has_value());
}

// Runs the clock in 10 ms steps until `slot` (playing a clip that loads its sound into the
// slot's chain) is on air.
inline bool runUntilOnAir(PlaybackRig& rig, output::PlaybackSlot& slot) {
    for (int i = 0; i < 300 && !clipOnAir(rig, slot); ++i) {
        settleLoad(rig, slot.audio());
        rig.loop.advance(0.01);
    }
    return clipOnAir(rig, slot);
}

// Plays (bank, slot) as the show controller does and runs until it is on air (in the slot that
// was hidden).
inline bool playUntilOnAir(PlaybackRig& rig, int bank, int slot) {
    output::PlaybackSlot& target = rig.surface().hiddenSlot();
    rig.playSlot(bank, slot);
    return runUntilOnAir(rig, target);
}

// The play-log lines holding `fragment`.
inline int logCount(PlaybackRig& rig, const std::string& fragment) {
    int count = 0;
    for (const auto& line : rig.logLines()) {
        count += line.find(fragment) != std::string::npos ? 1 : 0;
    }
    return count;
}

inline FakeClipPlayer& fakeClipPlayer(output::PlaybackSlot& slot) {
    return dynamic_cast<FakeClipPlayer&>(slot.clipPlayer());
}
inline FakeQueuePlayer& fakePlayer(output::PlaybackSlot& slot) {
    return dynamic_cast<FakeQueuePlayer&>(*slot.player());
}

}  // namespace kestio::test
