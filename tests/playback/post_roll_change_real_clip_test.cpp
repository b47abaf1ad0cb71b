// A post-roll chosen on the player panel while a real clip plays (decoded pictures, its sound on
// the engine's clock), at every moment up to its last frames, is the one carried out at its end:
// modes × moments before the end, in virtual time.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "output/output_surface.h"
#include "output/playback_slot.h"
#include "platform/graphics/compositor.h"
#include "playback_rig.h"
#include "real_clip_rig.h"
#include "support/frame_number_strip.h"
#include "support/media_fixtures.h"

namespace kestio {
namespace {

class PostRollChangeOnRealClip : public ::testing::Test, protected test::RealClipRig {
  protected:
    PostRollChangeOnRealClip() : RealClipRig(true) {
        controller->onRequestPlay = [this](int bank, int slot) {
            requests.push_back({bank, slot});
        };
    }

    // The player panel's choice: the record written; a running loop released into the mode; a
    // clip standing still given the loop played again.
    void choose(PostRollMode mode) {
        project.banks[0].slots[0].postRollMode = mode;
        if (controller->isLooping()) {
            if (mode != PostRollMode::loop) {
                controller->releaseLoop(mode);
            }
            return;
        }
        if (mode == PostRollMode::loop && controller->view().isOnAirStopped()) {
            requests.push_back({0, 0});
            const auto& data = project.banks[0].slots[0];
            controller->play(0, 0, *data.videoURL, data, {320.0, 180.0});
        }
    }
    // The item time of the clip on air.
    double itemTime() { return controller->view().showingSlot().player()->currentTime(); }

    std::vector<SlotRef> requests;
};

// A 29.97 fps clip from its in point at 1.0 s, its post-roll freeze, changed at moments before
// its end: the window a second before it (where the end's preparation begins) and its last frames.
TEST_F(PostRollChangeOnRealClip, AModeChosenUpToTheEndIsCarriedOut) {
    const auto& clip = test::mediaFixtures().rateClip({30000, 1001});
    const double moments[] = {1.15, 1.05, 0.5, 0.12, 0.05, 0.02};
    for (const PostRollMode mode :
         {PostRollMode::loop, PostRollMode::next, PostRollMode::black, PostRollMode::jump}) {
        for (const double before : moments) {
            SCOPED_TRACE(std::string(rawValue(mode)) + " chosen " + std::to_string(before) +
                         " s before the end");
            controller->handlePostRoll(PostRollMode::black);
            requests.clear();
            project = test::makeProject(1, 1, 3);
            for (auto& slot : project.banks[0].slots) {
                slot.videoURL = clip.path;
                slot.clipInfo->duration = clip.duration;
                slot.clipInfo->fps = 29.97;
            }
            auto& data = project.banks[0].slots[0];
            data.postRollMode = PostRollMode::freeze;
            data.inPoint = 1.0;
            data.jumpTarget = JumpTarget{0, 2};
            controller->play(0, 0, clip.path, data, {320.0, 180.0});
            bool chosen = false;
            for (int i = 0; i < 300 && !HasFatalFailure(); ++i) {
                step();
                if (!chosen && controller->view().foreground() && itemTime() > 1.0 &&
                    itemTime() >= clip.duration - before) {
                    chosen = true;
                    choose(mode);
                }
            }
            ASSERT_TRUE(chosen);
            switch (mode) {
                case PostRollMode::loop:
                case PostRollMode::next:
                case PostRollMode::jump: {
                    const SlotRef expected = mode == PostRollMode::loop   ? SlotRef{0, 0}
                                             : mode == PostRollMode::next ? SlotRef{0, 1}
                                                                          : SlotRef{0, 2};
                    EXPECT_EQ(requests, std::vector<SlotRef>{expected})
                        << "stands at " << itemTime() << " of " << clip.duration;
                    break;
                }
                case PostRollMode::black:
                    EXPECT_FALSE(controller->currentSlotIndex.get());
                    break;
                default:
                    break;
            }
        }
    }
}

// An out point set on air at the picture on screen, its post-roll freeze: the picture on screen
// stays and never steps back, whether the out point falls early or late in that picture's time.
// One set well behind the picture on screen is reached already: its post-roll comes at once,
// black at once, the next cue asked for at once (the picture on screen stays until it comes).
TEST_F(PostRollChangeOnRealClip, AnOutPointSetOnAirEndsTheClipWithoutAPicturePastIt) {
    const auto& clip = test::mediaFixtures().rateClip({30000, 1001});
    const double fps = 30000.0 / 1001.0;
    platform::Compositor compositor;
    struct Row {
        double from, to;  // the part of a picture's time the out point is set in
        double behind;    // seconds behind the picture on screen
        PostRollMode mode;
    };
    for (const Row& row :
         {Row{0.1, 0.4, 0.0, PostRollMode::freeze}, Row{0.6, 0.9, 0.0, PostRollMode::freeze},
          Row{0.1, 0.9, 0.3, PostRollMode::black}, Row{0.1, 0.9, 0.3, PostRollMode::next}}) {
        SCOPED_TRACE(std::string(rawValue(row.mode)) + " set " + std::to_string(row.behind) +
                     " s behind, " + std::to_string(row.from) + "–" + std::to_string(row.to) +
                     " into the picture's time");
        controller->handlePostRoll(PostRollMode::black);
        requests.clear();
        project = test::makeProject(1, 1, 2);
        auto& data = project.banks[0].slots[0];
        data.videoURL = clip.path;
        data.clipInfo->fps = 29.97;
        data.postRollMode = row.mode;
        controller->play(0, 0, clip.path, data, {320.0, 180.0});
        // Played on until the position lies in that part of a picture's time (Set Out).
        double shown = -1.0;
        for (int i = 0; i < 200 && shown < 0.0; ++i) {
            step();
            const double t = controller->shownTime();
            const double phase = t * fps - std::floor(t * fps);
            if (controller->view().foreground() && t > 0.8 && phase > row.from && phase < row.to) {
                shown = t;
            }
        }
        ASSERT_GE(shown, 0.0);
        const int onScreen = test::readFrameNumber(
            compositor.render(*controller->view().rootLayer(), loop.now(), QSize(320, 180)));
        data.outPoint = shown - row.behind;
        controller->applyOutPoint(data.outPoint);
        // The last picture that may show: the one on screen, or the out point's.
        const int allowed = row.behind > 0.0 ? int(std::floor(*data.outPoint * fps)) : onScreen;
        int last = onScreen;
        for (int i = 0; i < 40; ++i) {
            loop.runPending();
            const int number = test::readFrameNumber(
                compositor.render(*controller->view().rootLayer(), loop.now(), QSize(320, 180)));
            if (row.behind == 0.0) {
                EXPECT_GE(number, last)
                    << "steps back " << i << " steps after the out point was set";
            }
            if (row.mode == PostRollMode::next && i == 0) {
                EXPECT_EQ(requests, (std::vector<SlotRef>{{0, 1}})) << "not asked for at once";
            } else {
                EXPECT_LE(number, allowed)
                    << "past the out point " << i << " steps after it was set";
            }
            last = number;
            step();
        }
        if (row.mode == PostRollMode::freeze) {
            EXPECT_EQ(controller->view().showingSlot().player()->rateValue(), 0.0f);
        } else if (row.mode == PostRollMode::next) {
            EXPECT_EQ(requests, (std::vector<SlotRef>{{0, 1}}));
        }
    }
}

// Sound alone given an out point on air, ahead of the sound heard or behind it: it ends there,
// not at the end of its file, and its post-roll follows (black: nothing is on air then).
TEST_F(PostRollChangeOnRealClip, SoundAloneEndsAtAnOutPointSetOnAir) {
    const auto& sound = test::mediaFixtures().audio("wav");
    for (const double ahead : {0.3, -0.2}) {
        SCOPED_TRACE("set " + std::to_string(ahead) + " s ahead of the sound heard");
        controller->handlePostRoll(PostRollMode::black);
        project = test::makeProject(1, 1, 2);
        auto& data = project.banks[0].slots[0];
        data.videoURL = sound.path;
        data.mediaType = MediaType::audio;
        data.clipInfo->duration = sound.duration;
        data.postRollMode = PostRollMode::black;
        controller->play(0, 0, sound.path, data, {320.0, 180.0});
        for (int i = 0; i < 300 && controller->currentTime.get() < 0.5; ++i) {
            step();
        }
        ASSERT_GE(controller->currentTime.get(), 0.5);
        data.outPoint = controller->currentTime.get() + ahead;
        controller->applyOutPoint(data.outPoint);
        int steps = 0;
        for (; steps < 100 && controller->currentSlotIndex.get(); ++steps) {
            step();
        }
        EXPECT_FALSE(controller->currentSlotIndex.get()) << "on air 1 s after the out point";
        EXPECT_GE(steps * kStep, ahead - 0.1) << "ended before its out point";
    }
}

}  // namespace
}  // namespace kestio
