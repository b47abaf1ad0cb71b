// A post-roll mode changed while a clip plays, at every moment of its life (while it starts,
// just on air, mid-clip, just before its end), is the one carried out at its end.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "playback/playback_steps.h"
#include "support/fake_media.h"

namespace kestio {
namespace {

// The clip's length, and the moments after its play at which the mode is changed.
constexpr double kClipSeconds = 3.0;
constexpr double kMoments[] = {0.0, 0.02, 0.1, 0.3, 0.6, 1.0, 1.5, 2.7, 2.85, 2.95};

struct Change {
    PostRollMode fired;
    PostRollMode changedTo;
};

std::string modeText(PostRollMode mode) {
    return std::string(rawValue(mode));
}

class PostRollChange : public ::testing::TestWithParam<Change> {
  protected:
    // Changes the post-roll of the slot on air as the player panel and the grid do: the record
    // is edited, a running loop is released into the new mode, and a stopped clip given the
    // loop mode is played again.
    void changePostRoll(test::PlaybackRig& rig, PostRollMode mode) {
        rig.editSlot(0, 0).postRollMode = mode;
        if (rig.pc().isLooping()) {
            if (mode != PostRollMode::loop) {
                rig.pc().releaseLoop(mode);
            }
            return;
        }
        if (mode == PostRollMode::loop &&
            rig.surface().showingSlot().player()->rateValue() == 0.0f) {
            rig.playSlot(0, 0);
        }
    }
    // The last post-roll carried out, as the play log says.
    static std::string lastPostRoll(test::PlaybackRig& rig) {
        std::string last;
        for (const auto& line : rig.logLines()) {
            const auto at = line.find("PostRoll: ");
            if (at != std::string::npos) {
                last = line.substr(at + 10);
                last = last.substr(0, last.find(' '));
            }
        }
        return last;
    }
};

TEST_P(PostRollChange, IsCarriedOutAtTheEnd) {
    const Change change = GetParam();
    for (const double moment : kMoments) {
        SCOPED_TRACE("changed " + std::to_string(moment) + " s after the play");
        test::PlaybackRig rig;
        rig.playRequests = false;
        test::FakeMediaScript script;
        script.duration = kClipSeconds;
        rig.media.setScript(*rig.slot(0, 0).videoURL, script);
        rig.editSlot(0, 0).clipInfo->duration = kClipSeconds;
        rig.editSlot(0, 0).postRollMode = change.fired;
        rig.playSlot(0, 0);
        rig.advance(moment);
        changePostRoll(rig, change.changedTo);
        // Past the end of the clip and of a loop's pass, with a new pass under way if any.
        rig.advance(kClipSeconds * 2.0 - moment + 0.5, 0.01);
        switch (change.changedTo) {
            case PostRollMode::freeze:
                EXPECT_EQ(lastPostRoll(rig), "freeze");
                EXPECT_EQ(rig.pc().currentSlotIndex.get(), 0);
                EXPECT_EQ(rig.surface().showingSlot().player()->rateValue(), 0.0f);
                break;
            case PostRollMode::black:
                EXPECT_EQ(lastPostRoll(rig), "black");
                EXPECT_FALSE(rig.pc().currentSlotIndex.get());
                break;
            case PostRollMode::next:
                EXPECT_EQ(lastPostRoll(rig), "next");
                EXPECT_EQ(rig.requests, (std::vector<SlotRef>{{0, 1}}));
                break;
            case PostRollMode::loop:
                // Looping on air, or asked to play again at the end to loop from then on.
                EXPECT_TRUE((rig.pc().isLooping() && rig.surface().showingSlot().isLooping()) ||
                            (lastPostRoll(rig) == "loop" && !rig.requests.empty()));
                break;
            case PostRollMode::jump:
                break;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, PostRollChange,
                         ::testing::Values(Change{PostRollMode::next, PostRollMode::freeze},
                                           Change{PostRollMode::next, PostRollMode::black},
                                           Change{PostRollMode::next, PostRollMode::loop},
                                           Change{PostRollMode::freeze, PostRollMode::black},
                                           Change{PostRollMode::freeze, PostRollMode::next},
                                           Change{PostRollMode::freeze, PostRollMode::loop},
                                           Change{PostRollMode::black, PostRollMode::freeze},
                                           Change{PostRollMode::black, PostRollMode::loop},
                                           Change{PostRollMode::loop, PostRollMode::freeze},
                                           Change{PostRollMode::loop, PostRollMode::black},
                                           Change{PostRollMode::loop, PostRollMode::next}),
                         [](const ::testing::TestParamInfo<Change>& param) {
                             return modeText(param.param.fired) + "To" +
                                    modeText(param.param.changedTo);
                         });

}  // namespace
}  // namespace kestio
