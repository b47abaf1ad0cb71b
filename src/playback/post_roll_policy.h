#pragma once

// The post-roll policy: the one place that decides what follows a clip, asked at three moments
// of its life. At play: which slot the start preloads as its follower. Before the end: whether
// the post-roll is due now (the out point reached, or a freeze without one near the item's end).
// At the end: which mode is carried out, and the step that carries it out. Every answer reads
// the slot's record as it is when asked, so a post-roll changed while the clip plays is the one
// honoured, whenever it changed.
//
// The policy is the one place that knows what each mode means: it turns a mode into one of a
// few steps (play a slot, freeze on the last frame, restart the clip on air, black), resolving
// the slot a mode plays and the mode that stands in when it has none. Carrying a step out is the
// controller's; it knows the steps, never the modes. A running loop reads the policy once it
// runs, and is released then when its mode is no longer loop.
//
// Owns nothing but the way to the project (the controller's provider, read on each question).

#include <functional>
#include <optional>
#include <string>

#include "model/project_data.h"
#include "model/slot_data.h"
#include "output/slot_cue.h"

namespace kestio {

// The steps a post-roll is carried out with.
enum class PostRollAction {
    // The slot the step names is asked to play.
    playSlot,
    // The clip on air stops on its last frame (its out point's, or its item's).
    freezeOnLastFrame,
    // The clip on air begins again: a still's clock starts over; a video that is not looping
    // already is asked to play again.
    restart,
    // The output is emptied and nothing is on air.
    black,
};

// What the controller does to carry a post-roll out.
struct PostRollStep {
    PostRollAction action = PostRollAction::freezeOnLastFrame;
    // playSlot: the slot to play.
    std::optional<SlotRef> slot;
    // The mode carried out in place of the one asked, which could not be (next without a slot
    // to follow: black; jump without a target: freeze); logged as that mode's post-roll.
    std::optional<PostRollMode> standIn;
    // A line for the play log before the step (next running on into the following bank).
    std::optional<std::string> note;

    bool operator==(const PostRollStep&) const = default;
};

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
    // The step that carries `mode` out for the clip of `onAir`, its slot resolved from the
    // records as they are now.
    PostRollStep stepFor(PostRollMode mode, SlotRef onAir) const;
    // `mode` plays another clip after this one, which needs time to get ready before the end
    // (a loop's release asks for it ahead of the seam).
    static bool startsAnotherClip(PostRollMode mode);

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
