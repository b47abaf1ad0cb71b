#pragma once

// The post-roll policy: the one place that decides what follows a clip, asked at three moments
// of its life. At play: which slot the start preloads as its follower. Before the end: whether
// the post-roll is due now (the out point reached, or a freeze without one near the item's end).
// At the end: which mode is carried out. Every answer reads the slot's record as it is when
// asked, so a post-roll changed while the clip plays is the one honoured, whenever it changed.
//
// Owns nothing but the way to the project (the controller's provider, read on each question).
// Carrying the chosen mode out is the controller's (its post-roll steps); a running loop reads
// the policy once it runs, and is released then when its mode is no longer loop.

#include <functional>
#include <optional>

#include "model/project_data.h"
#include "model/slot_data.h"
#include "output/slot_cue.h"

namespace kestio {

class PostRollPolicy {
  public:
    using ProjectProvider = std::function<std::optional<ProjectData>()>;

    // A freeze without an out point is due this long before the item's end.
    static constexpr double kNearEndMargin = 0.1;

    // `project` is read at each question; it must outlive the policy.
    explicit PostRollPolicy(const ProjectProvider& project) : project_(project) {}

    // The slot's record as it is now; none outside the project or without one.
    std::optional<SlotData> slotData(int bank, int slot) const;

    // At play: the follower a start of (bank, slot) preloads: for `next` the next slot with
    // media, for `jump` its target when that is a slot of the project; none otherwise.
    std::optional<SlotRef> followerAtPlay(SlotRef onAir) const;
    // Before the end: the clip of `onAir` at item time `time` of an item `itemDuration` long,
    // running: its post-roll is due now.
    bool isDueBeforeTheEnd(SlotRef onAir, double time, double itemDuration) const;
    // At the end: the mode to carry out (freeze when the record cannot be read).
    PostRollMode atEnd(SlotRef onAir) const;

    // The slot `next` plays after (bank, slot): the following slot when it holds media, else the
    // first slot of the next bank when it does; none otherwise.
    std::optional<SlotRef> nextTarget(int bank, int slot) const;
    // The slot `jump` plays from (bank, slot): its target when that is inside the project; none
    // (with a console line) otherwise.
    std::optional<SlotRef> jumpTarget(int bank, int slot) const;

  private:
    const ProjectProvider& project_;
};

}  // namespace kestio
