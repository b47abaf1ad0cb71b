#pragma once

// One play: the slot a play, a standby or a failed cue's return put on its way to air, from its
// file, with what its paths and clocks have decided for it. The controller holds the
// play in force and nothing else holds it strongly; every deferred step of a play holds it weakly
// (stepOf), so once a newer play, a black or a standby has begun, the steps of the older one do
// nothing. A step under way keeps its play alive to its end; `ended` tells it that a newer play
// has begun meanwhile.

#include <filesystem>
#include <memory>
#include <type_traits>
#include <utility>

#include "output/slot_cue.h"

namespace kestio {

struct Play : std::enable_shared_from_this<Play> {
    // A newer play, a black or a standby has begun: nothing more is done for this one.
    bool ended = false;
    // What it plays.
    SlotRef ref;
    std::filesystem::path url;
    // Sound only: its picture is hidden and its clock is the audio-only one.
    bool audioOnly = false;
    // Its post-roll has been set off (at its out point, its end or a loop's release); it is not
    // set off again unless a resume or a seek lets it run on.
    bool postRollFired = false;
};

// The play `weak` holds while it is still in force; none once it has ended or gone.
inline std::shared_ptr<Play> inForce(const std::weak_ptr<Play>& weak) {
    auto play = weak.lock();
    return play && !play->ended ? play : nullptr;
}

// `step` as a deferred step of `play`: it runs only while `play` is still the play in force, with
// the arguments it is called with (after the play itself, when it takes it).
template <class Step>
auto stepOf(std::weak_ptr<Play> play, Step step) {
    return [weak = std::move(play), step = std::move(step)](auto&&... args) mutable {
        const auto current = inForce(weak);
        if (!current) {
            return;
        }
        if constexpr (std::is_invocable_v<Step&, Play&, decltype(args)...>) {
            step(*current, std::forward<decltype(args)>(args)...);
        } else {
            step(std::forward<decltype(args)>(args)...);
        }
    };
}
template <class Step>
auto stepOf(Play& play, Step step) {
    return stepOf(play.weak_from_this(), std::move(step));
}

}  // namespace kestio
