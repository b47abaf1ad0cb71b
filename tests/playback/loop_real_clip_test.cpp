// A loop and its release on the real classes: a generated clip (frame numbers in its pictures, a
// 1 kHz tone in its sound) decoded by FFmpeg, the real slots and surface, the audio engine on a
// null device whose clock is the run loop's. The pictures are read from the surface's composed
// output, the sound from what the device rendered.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "output/output_surface.h"
#include "platform/audio/audio_player_node.h"
#include "platform/graphics/compositor.h"
#include "platform/media/decoded_media_factory.h"
#include "platform/media/decoded_player_item.h"
#include "platform/runloop/manual_run_loop.h"
#include "playback/playback_controller.h"
#include "playback_rig.h"
#include "real_clip_rig.h"
#include "support/frame_number_strip.h"
#include "support/media_fixtures.h"
#include "support/null_audio_device.h"
#include "support/playback_test_support.h"
#include "support/signal_analysis.h"
#include "support/temporary_folder.h"

namespace kestio {
namespace {

using platform::media::DecodedPlayerItem;

class LoopOnRealClip : public ::testing::Test, protected test::RealClipRig {
  protected:
    LoopOnRealClip() : RealClipRig(true) {
        const auto& clip = test::mediaFixtures().rateClip({30, 1});
        project = test::makeProject(1, 1, 2);
        for (auto& slot : project.banks[0].slots) {
            slot.videoURL = clip.path;
            slot.clipInfo->duration = clip.duration;
        }
        auto& looped = project.banks[0].slots[0];
        looped.postRollMode = PostRollMode::loop;
        looped.inPoint = 0.5;
        looped.outPoint = 1.5;
    }

    int composedFrame() {
        return test::readFrameNumber(
            compositor.render(*controller->view().rootLayer(), loop.now(), QSize(320, 180)));
    }
    void startOnAir() {
        const auto& data = project.banks[0].slots[0];
        controller->play(0, 0, *data.videoURL, data, {320.0, 180.0});
        for (int i = 0; i < 300 && !onAir(); ++i) {
            step();
        }
        ASSERT_TRUE(onAir());
    }
    bool onAir() {
        auto& slot = controller->view().showingSlot();
        return slot.isLooping() && slot.containerLayer()->opacity() == 1.0f &&
               slot.clipPlayer().startTime().get().has_value();
    }

    platform::Compositor compositor;
};

// Five passes of [0.5 s, 1.5 s): the composed output shows frames 15 to 44 in order each pass,
// never a black picture, never a frame out of order at a seam; the tone plays on without a gap.
TEST_F(LoopOnRealClip, LoopsWithoutAGapInPictureOrSound) {
    startOnAir();
    const std::size_t soundFrom = device->channel(0).size() + std::size_t(0.05 * kRate);

    std::vector<int> frames;
    const int first = 15;
    const int last = 44;
    for (int i = 0; i < int(5.0 / kStep); ++i) {
        step();
        frames.push_back(composedFrame());
    }
    int wraps = 0;
    for (std::size_t i = 1; i < frames.size(); ++i) {
        ASSERT_GE(frames[i], first) << "sample " << i;
        ASSERT_LE(frames[i], last) << "sample " << i;
        if (frames[i] < frames[i - 1]) {
            ++wraps;
            EXPECT_GE(frames[i - 1], last - 1) << "a pass ended early at sample " << i;
            EXPECT_LE(frames[i], first + 1) << "a pass began late at sample " << i;
        } else {
            EXPECT_LE(frames[i] - frames[i - 1], 1) << "a frame skipped at sample " << i;
        }
    }
    EXPECT_GE(wraps, 4);
    const std::size_t soundTo = device->channel(0).size();

    // The tone in 1 ms windows over the passes (its seams included): never a gap.
    const auto& left = device->channel(0);
    const double expected = test::kToneAmplitude / std::sqrt(2.0);
    double quietest = 1.0;
    for (std::size_t at = soundFrom; at + kRate / 1000 <= soundTo; at += kRate / 1000) {
        quietest = std::min(quietest, test::rms(std::span(left).subspan(at, kRate / 1000)));
    }
    EXPECT_GT(quietest, 0.7 * expected) << "a gap in the tone";
    EXPECT_LT(
        test::largestSecondDifference(std::span(left).subspan(soundFrom, soundTo - soundFrom)),
        0.02)
        << "a click in the tone";
}

// Released to black mid-pass, the pass on air plays to its seam and the output then goes black;
// released on the very instant of a seam the run loop has not handled yet, it ends the pass
// that has just begun.
TEST_F(LoopOnRealClip, AReleaseAppliesAtTheSeam) {
    const int first = 15;
    const int last = 44;
    startOnAir();
    for (int i = 0; i < int(2.0 / kStep); ++i) {
        step();
    }
    // Released to black mid-pass: no pass follows; black once the seam is reached.
    while (composedFrame() > 25 || composedFrame() < first) {
        step();
    }
    controller->releaseLoop(PostRollMode::black);
    int lastShown = -1;
    bool restarted = false;
    for (int i = 0; i < 150 && controller->isLooping(); ++i) {
        step();
        const int frame = composedFrame();
        restarted = restarted || (frame >= 0 && frame < lastShown);
        lastShown = frame >= 0 ? frame : lastShown;
    }
    EXPECT_FALSE(controller->isLooping());
    EXPECT_FALSE(restarted);
    EXPECT_GE(lastShown, last - 1);
    step();
    EXPECT_EQ(composedFrame(), -1);
    EXPECT_EQ(controller->currentBankIndex.get(), std::nullopt);
}

// Paused mid-pass and resumed, the loop goes on from the picture it was paused on (not from the
// range start), and its sound from the same place: the clip's sound begins 0.8 s in, so each
// pass of [0.5 s, 1.5 s) is heard silent for its first 0.3 s, and that silence must begin at
// the seam where the picture wraps.
TEST_F(LoopOnRealClip, AResumedLoopGoesOnFromWhereItPaused) {
    test::TemporaryFolder folder;
    const auto late = folder / "late.mov";
    test::writeWithLateSound(test::mediaFixtures().rateClip({30, 1}), 0.8, late);
    project.banks[0].slots[0].videoURL = late;
    const int first = 15;
    const int last = 44;
    startOnAir();
    for (int i = 0; i < int(1.5 / kStep); ++i) {
        step();
    }
    while (composedFrame() < 29 || composedFrame() > 31) {
        step();
    }
    controller->pause();
    step();
    const int paused = composedFrame();
    for (int i = 0; i < 30; ++i) {
        step();
        ASSERT_EQ(composedFrame(), paused) << "the picture moves while paused";
    }

    controller->resume();
    for (int i = 0; i < 100 && !onAir(); ++i) {
        step();
    }
    ASSERT_TRUE(onAir());
    const std::size_t soundFrom = device->channel(0).size();
    std::vector<int> frames{composedFrame()};
    EXPECT_GE(frames.front(), paused);
    EXPECT_LE(frames.front(), paused + 2) << "the loop did not go on from its picture";
    // On to the seam and into the next pass: in order, the range's start after the seam.
    std::size_t seamAt = 0;
    for (int i = 0; i < int(0.9 / kStep); ++i) {
        step();
        frames.push_back(composedFrame());
        const int now = frames.back();
        const int before = frames[frames.size() - 2];
        ASSERT_GE(now, first);
        ASSERT_LE(now, last);
        if (now < before) {
            EXPECT_EQ(seamAt, 0u) << "a second seam";
            EXPECT_GE(before, last - 1);
            EXPECT_LE(now, first + 1);
            seamAt = device->channel(0).size();
        } else {
            EXPECT_LE(now - before, 1) << "a frame skipped after the resume";
        }
    }
    ASSERT_NE(seamAt, 0u);

    // The sound after the resume: tone until the seam, then the pass's silent start.
    const auto& left = device->channel(0);
    const std::size_t window = kRate / 1000;
    const double expected = test::kToneAmplitude / std::sqrt(2.0);
    std::optional<std::size_t> silentFrom;
    for (std::size_t at = soundFrom + 2 * window; at + window <= left.size(); at += window) {
        if (test::rms(std::span(left).subspan(at, window)) < 0.2 * expected) {
            silentFrom = at;
            break;
        }
    }
    ASSERT_TRUE(silentFrom.has_value()) << "no silent start of a pass heard";
    // The picture's wrap is seen on the step that passes the seam: within a frame and a step.
    EXPECT_LT(std::abs(double(*silentFrom) - double(seamAt)) / kRate, 0.05)
        << "the sound's seam is " << (double(*silentFrom) - double(seamAt)) / kRate
        << " s from the picture's";
}

// The output mute flipped while a loop is starting holds once the loop is on air: the chain's
// volume and the sound the device renders follow the operator's last choice, not the mute the
// start began with.
TEST_F(LoopOnRealClip, TheOutputMuteFlippedDuringALoopStartHolds) {
    struct Case {
        bool mutedBefore;
        bool mutedAfter;
    };
    const double expected = test::kToneAmplitude / std::sqrt(2.0);
    for (const Case c : {Case{false, true}, Case{true, false}}) {
        SCOPED_TRACE(c.mutedBefore ? "unmuted while starting" : "muted while starting");
        if (controller->isMuted.get() != c.mutedBefore) {
            controller->toggleMute();
        }
        const auto& data = project.banks[0].slots[0];
        auto& target = controller->view().hiddenSlot();
        const auto targetOnAir = [&] {
            return &controller->view().showingSlot() == &target && onAir();
        };
        controller->play(0, 0, *data.videoURL, data, {320.0, 180.0});
        // Flipped before the loop's first pass is ready.
        ASSERT_FALSE(targetOnAir());
        controller->toggleMute(data.audioSettings);
        for (int i = 0; i < 300 && !targetOnAir(); ++i) {
            step();
        }
        ASSERT_TRUE(targetOnAir());
        for (int i = 0; i < 20; ++i) {
            step();
        }
        EXPECT_EQ(target.audio().playerNode()->volume(), c.mutedAfter ? 0.0f : 1.0f);
        const auto& left = device->channel(0);
        const std::size_t last = std::size_t(0.1 * kRate);
        const double level = test::rms(std::span(left).subspan(left.size() - last, last));
        if (c.mutedAfter) {
            EXPECT_LT(level, 0.01 * expected) << "heard while muted";
        } else {
            EXPECT_GT(level, 0.7 * expected) << "silent while not muted";
        }
    }
}

// A cue played fast, or slow, and taken off air, or followed by a cue whose file is gone: the
// show falls quiet, and nothing keeps working through its silence. The meters' poll stops once
// they show silence, as it did before the cue.
TEST_F(LoopOnRealClip, AStretchedCueTakenOffAirLeavesNothingWorkingThroughTheSilence) {
    const auto& data = project.banks[0].slots[1];
    auto gone = data;
    gone.videoURL = test::mediaFixtures().folder / "gone" / "missing.mp4";
    struct Case {
        const char* name;
        double rate;
        bool thenGone;
    };
    for (const Case c :
         {Case{"at 8, then black", 8.0, false}, Case{"at 0.5, then black", 0.5, false},
          Case{"at 2, then a gone file", 2.0, true}}) {
        SCOPED_TRACE(c.name);
        for (int i = 0; i < 50; ++i) {
            step();
        }
        const std::size_t atRest = loop.pendingCount();
        controller->play(0, 1, *data.videoURL, data, {320.0, 180.0});
        for (int i = 0; i < 30; ++i) {
            step();
        }
        controller->setPlaybackRate(c.rate);
        for (int i = 0; i < 30; ++i) {
            step();
        }
        if (c.thenGone) {
            controller->play(0, 1, *gone.videoURL, gone, {320.0, 180.0});
        }
        controller->handlePostRoll(PostRollMode::black);
        controller->setPlaybackRate(1.0);
        for (int i = 0; i < 200; ++i) {
            step();
        }
        EXPECT_EQ(controller->vuLevelL.get(), VuReading::kSilenceDb);
        EXPECT_EQ(loop.pendingCount(), atRest) << "something still polls the silence";
    }
}

// The operator gives the loop of a whole clip another post-roll while it is still starting (its
// range and sound still loading): once it runs, it is released by that mode, and freezes at the
// seam instead of looping on.
TEST_F(LoopOnRealClip, AModeChangedWhileTheLoopStartsIsCarriedOutAtItsSeam) {
    project.banks[0].slots[0].inPoint.reset();
    project.banks[0].slots[0].outPoint.reset();
    const double length = project.banks[0].slots[0].clipInfo->duration;
    for (const double changedAfter : {0.0, 0.05}) {
        SCOPED_TRACE("changed " + std::to_string(changedAfter) + " s after the play");
        project.banks[0].slots[0].postRollMode = PostRollMode::loop;
        const auto& data = project.banks[0].slots[0];
        controller->play(0, 0, *data.videoURL, data, {320.0, 180.0});
        for (int i = 0; i < int(changedAfter / kStep); ++i) {
            step();
        }
        // As the player panel does: the record changes, and a running loop is released.
        project.banks[0].slots[0].postRollMode = PostRollMode::freeze;
        if (controller->isLooping()) {
            controller->releaseLoop(PostRollMode::freeze);
        }
        for (int i = 0; i < int((length + 1.0) / kStep); ++i) {
            step();
        }
        EXPECT_FALSE(controller->isLooping()) << "the loop runs on";
        const int frozen = composedFrame();
        for (int i = 0; i < int(0.5 / kStep); ++i) {
            step();
        }
        EXPECT_EQ(composedFrame(), frozen);
        EXPECT_GE(frozen, int(length * 30.0) - 3);
        controller->handlePostRoll(PostRollMode::black);
        step();
    }
}

// A loop of [0.5 s, 1.5 s) shows its in point's frame (15) first when it goes on air, however it
// was fired: cold, after a preload was asked for it 0.6 s before, or fired again after a clip
// took it off air; its first pass runs on into its second without a gap. A preload holds the
// clip paused at its in point, and the loop's first pass is the item it opened.
TEST_F(LoopOnRealClip, AFiredLoopStartsAtItsInPointFrame) {
    // Preload requests are answered as the show controller answers them.
    controller->onRequestPreloadNext = [this](int bank, int slot) {
        const auto& asked = project.banks[std::size_t(bank)].slots[std::size_t(slot)];
        controller->preloadNext(bank, slot, *asked.videoURL, asked);
    };
    enum class Before { cold, preloaded, firedAgainOverAClip };
    for (const Before before : {Before::cold, Before::preloaded, Before::firedAgainOverAClip}) {
        SCOPED_TRACE("case " + std::to_string(int(before)));
        controller->handlePostRoll(PostRollMode::black);
        step();
        const auto& data = project.banks[0].slots[0];
        if (before == Before::preloaded) {
            controller->preloadNext(0, 0, *data.videoURL, data);
        } else if (before == Before::firedAgainOverAClip) {
            startOnAir();
            const auto& clip = project.banks[0].slots[1];
            controller->play(0, 1, *clip.videoURL, clip, {320.0, 180.0});
        }
        for (int i = 0; i < int(0.6 / kStep); ++i) {
            step();
        }
        auto& target = controller->view().hiddenSlot();
        const auto held = target.player()->current();
        if (before == Before::preloaded) {
            ASSERT_TRUE(held);
            EXPECT_NEAR(held->currentTime(), 0.5, 1e-6) << "the preloaded loop ran ahead";
            EXPECT_FALSE(target.clipPlayer().startTime().get()) << "the preloaded loop ran ahead";
        }
        controller->play(0, 0, *data.videoURL, data, {320.0, 180.0});
        int first = -1;
        for (int i = 0; i < 300 && first < 0; ++i) {
            step();
            if (&controller->view().showingSlot() == &target &&
                target.containerLayer()->opacity() == 1.0f) {
                first = composedFrame();
            }
        }
        EXPECT_GE(first, 15);
        EXPECT_LE(first, 16);
        if (before == Before::preloaded) {
            EXPECT_EQ(target.player()->current(), held) << "the preloaded clip was opened again";
        }
        // On through the first seam: every frame in order, the range's last followed by its
        // first.
        int previous = first;
        int wraps = 0;
        for (int i = 0; i < int(1.3 / kStep); ++i) {
            step();
            const int frame = composedFrame();
            if (frame < previous) {
                ++wraps;
                EXPECT_GE(previous, 43) << "the first pass ended early";
                EXPECT_LE(frame, 16) << "the second pass began late";
            } else {
                EXPECT_LE(frame - previous, 1) << "a frame skipped at sample " << i;
            }
            previous = frame;
        }
        EXPECT_EQ(wraps, 1);
    }
}

}  // namespace
}  // namespace kestio
