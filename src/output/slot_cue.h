#pragma once

// What the output's slot pair holds: the clip on air in the foreground slot, and the clip cued
// in the background (hidden) slot with the state it is in. The output surface is the one owner
// of both records; the playback controller's parts (the play path, preload, loop start and
// warm-up) ask it what is cued instead of keeping copies of their own.

#include <filesystem>
#include <memory>
#include <utility>

#include "model/settings_records.h"

namespace kestio::platform::media {
class PlayerItem;
}

namespace kestio {

// A slot's place in the project, bank and slot counted from 0.
struct SlotRef {
    int bank = 0;
    int slot = 0;
    bool operator==(const SlotRef&) const = default;
};

}  // namespace kestio

namespace kestio::output {

// The state of the clip in the background slot.
enum class CueState {
    // Loaded, on its way to its first picture at its in point.
    loading,
    // Paused at its in point with that picture decoded and its sound loaded: taken at once.
    ready,
    // Started (picture and sound running) and waiting for its switch to air.
    hiddenPlaying,
    // Played for a warm-up or a check: never taken to air and never heard.
    warming,
};

// The clip in the background slot.
struct Cue {
    SlotRef ref;
    std::filesystem::path url;
    CueState state = CueState::loading;
    // The slot's own level and mute, applied to the background chain while the cue may be heard
    // (loading, ready or started; a warming cue is always silent).
    AudioSettings audio;
    // The item loaded for it and the in point it stands at once ready.
    std::weak_ptr<platform::media::PlayerItem> item;
    double inPoint = 0.0;
};

// The cue of a play started (or stood by) in the hidden slot for its take, heard at `audio`.
inline Cue hiddenPlayingCue(SlotRef ref, std::filesystem::path url, AudioSettings audio = {},
                            double inPoint = 0.0) {
    Cue cue;
    cue.ref = ref;
    cue.url = std::move(url);
    cue.state = CueState::hiddenPlaying;
    cue.audio = audio;
    cue.inPoint = inPoint;
    return cue;
}

// The clip in the foreground slot.
struct OnAir {
    SlotRef ref;
    std::filesystem::path url;
};

// How a take switches the background slot to air.
struct Take {
    bool dissolve = false;
    double duration = 0.0;
};

}  // namespace kestio::output
