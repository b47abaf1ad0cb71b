#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <memory>

#include "playback/playback_controller.h"
#include "show/show_controller.h"
#include "support/live_show_rig.h"
#include "support/media_fixtures.h"
#include "support/null_audio_device.h"
#include "support/show_rig.h"

namespace kestio::test {

// A test fixture over a whole show on its real parts (LiveShowRig) on a manual run loop, with
// MIDI through the loopback system. Virtual time moves in steps: each step runs what is due,
// waits for what the decode threads and presenters post, moves the clock on and pulls the
// step's sound from the null device, so that the clips on air play on.
class LiveShowFixture : public ::testing::Test, protected LoopbackLoop {
  protected:
    static constexpr double kStep = 0.01;  // seconds of virtual time per step, 480 frames

    LiveShowRig rig{loop, midiSystem};
    PlaybackController& controller = rig.controller;
    std::unique_ptr<ShowController>& show = rig.show;
    std::shared_ptr<NullAudioDevice>& device = rig.device;
    const MediaFile& clip = mediaFixtures().rateClip({30000, 1001});

    // Runs in each step after the due work and before `done` is read (a window test lets Qt
    // deliver its events here).
    virtual void eachStep() {}

    // Puts the 29.97 clip into (bank, slot) with its facts and plays it until it runs.
    void playClip(int bank, int slot) {
        show->editProject(
            [&](ProjectData& project) {
                SlotData& data = project.banks[static_cast<std::size_t>(bank)]
                                     .slots[static_cast<std::size_t>(slot)];
                data.videoURL = clip.path;
                data.name = "rate clip";
                ClipInfo info;
                info.resolution = "320x180";
                info.fps = clip.frameRate.value();
                info.duration = clip.duration;
                data.clipInfo = info;
            },
            false);
        show->playSlot(bank, slot);
        ASSERT_TRUE(runUntil([&] { return controller.currentTime.get() > 0.2; }));
    }

    // Moves virtual time on in steps until `done` holds (false after `virtualLimit` seconds).
    template <typename Done>
    bool runUntil(Done done, double virtualLimit = 20.0) {
        for (double moved = 0; moved < virtualLimit; moved += kStep) {
            loop.runPending();
            eachStep();
            if (done()) {
                return true;
            }
            while (loop.waitForPosted(0.005)) {
                loop.runPending();
            }
            loop.advance(kStep);
            device->pull(static_cast<uint32_t>(48000 * kStep));
        }
        return done();
    }
    void runFor(double seconds) {
        const double until = loop.now().seconds() + seconds;
        runUntil([&] { return loop.now().seconds() >= until; }, seconds + 1.0);
    }
};

}  // namespace kestio::test
