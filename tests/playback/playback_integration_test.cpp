// The controller on the real classes: generated clips decoded by FFmpeg, the real slots and
// surface, the audio engine on a null device whose clock is the run loop's, pulled as the clock
// moves.

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <memory>
#include <span>

#include "output/output_surface.h"
#include "platform/audio/audio_player_node.h"
#include "platform/graphics/compositor.h"
#include "platform/media/decoded_media_factory.h"
#include "platform/media/decoded_player_item.h"
#include "platform/runloop/manual_run_loop.h"
#include "playback/play_log.h"
#include "playback/playback_controller.h"
#include "playback_rig.h"
#include "support/frame_number_strip.h"
#include "support/media_fixtures.h"
#include "support/null_audio_device.h"
#include "support/playback_test_support.h"
#include "support/signal_analysis.h"
#include "support/temporary_folder.h"

namespace kestio {
namespace {

using platform::media::DecodedPlayerItem;

class PlaybackIntegration : public ::testing::Test {
  protected:
    PlaybackIntegration() {
        controller = std::make_unique<PlaybackController>(
            PlaybackServices{loop, nullptr,
                             std::make_unique<output::OutputSurface>(
                                 output::OutputSurface::Services{loop, device, media}),
                             &localization});
        controller->view().setViewSize({320.0, 180.0});
        const auto& clip = test::mediaFixtures().rateClip({30, 1});
        project = test::makeProject(1, 1, 3);
        for (auto& slot : project.banks[0].slots) {
            slot.videoURL = clip.path;
            slot.clipInfo->duration = clip.duration;
            slot.outPoint = 1.0;
        }
        controller->projectProvider = [this]() -> std::optional<ProjectData> { return project; };
        controller->onRequestPlay = [this](int bank, int slot) { play(bank, slot); };
        controller->logFileURL = folder.path() / "app.log";
        controller->reopenLogFile();
    }
    ~PlaybackIntegration() override { controller.reset(); }

    void play(int bank, int slot) {
        const auto& data = project.banks[std::size_t(bank)].slots[std::size_t(slot)];
        controller->play(bank, slot, *data.videoURL, data, {320.0, 180.0});
    }
    // Moves the clock in steps of a hundredth of a second, the device pulling the sound of each
    // step, once the picture of the slot on air is decoded through it.
    void run(double seconds) {
        for (double moved = 0.0; moved < seconds; moved += 0.01) {
            for (auto* slot : {&controller->view().slotA(), &controller->view().slotB()}) {
                auto item = std::dynamic_pointer_cast<DecodedPlayerItem>(slot->player()->current());
                if (item && item->statusValue() == platform::media::ItemStatus::ReadyToPlay &&
                    slot->player()->rateValue() > 0.0f) {
                    ASSERT_TRUE(platform::media::testing::waitForDecoded(
                        loop, *item, item->currentTime() + 0.02));
                }
            }
            loop.waitForPosted(0.002);
            loop.advance(0.01);
            device->pull(480);
        }
    }
    std::vector<std::string> messages() {
        controller->playLog().flush();
        std::vector<std::string> out;
        for (const auto& line : test::readLines(folder.path() / "app.log")) {
            out.push_back(line.substr(line.find("] ") + 2));
        }
        return out;
    }
    QImage composed() {
        return compositor.render(*controller->view().rootLayer(), loop.now(), QSize(320, 180));
    }

    platform::ManualRunLoop loop;
    std::shared_ptr<test::NullAudioDevice> device =
        std::make_shared<test::NullAudioDevice>(48000.0, 2, "Null Output", loop.hostClock());
    platform::media::DecodedMediaFactory media{loop};
    platform::InMemoryUserDefaults defaults;
    LocalizationManager localization{defaults};
    platform::Compositor compositor;
    ProjectData project;
    test::TemporaryFolder folder;
    std::unique_ptr<PlaybackController> controller;
};

TEST_F(PlaybackIntegration, AnOutPointWithNextPutsTheNextSlotOnAir) {
    project.banks[0].slots[0].postRollMode = PostRollMode::next;
    play(0, 0);
    run(2.0);
    EXPECT_EQ(controller->currentSlotIndex.get(), 1);
    std::vector<std::string> wanted{"再生開始: BANK1 SLOT1", "PostRoll: next BANK1 SLOT1",
                                    "再生開始: BANK1 SLOT2"};
    std::size_t found = 0;
    for (const auto& message : messages()) {
        if (found < wanted.size() && message.rfind(wanted[found], 0) == 0) {
            ++found;
        }
    }
    EXPECT_EQ(found, wanted.size());
    EXPECT_GE(test::readFrameNumber(composed()), 0);
}

TEST_F(PlaybackIntegration, AFreezeHoldsTheFrameJustBeforeTheOutPoint) {
    project.banks[0].slots[0].postRollMode = PostRollMode::freeze;
    play(0, 0);
    run(2.0);
    EXPECT_EQ(controller->currentSlotIndex.get(), 0);
    EXPECT_EQ(test::readFrameNumber(composed()), 29);
}

TEST_F(PlaybackIntegration, AFileThatVanishedAfterImportLeavesTheOutputAsItWas) {
    project.banks[0].slots[1].videoURL = folder.path() / "gone.mp4";
    play(0, 1);
    run(0.5);
    EXPECT_TRUE(controller->view().showingA());
    bool said = false;
    for (const auto& message : messages()) {
        said = said || message.rfind("映像を再生できません", 0) == 0;
    }
    EXPECT_TRUE(said);
}

}  // namespace
}  // namespace kestio

namespace kestio {
namespace {

TEST_F(PlaybackIntegration, AFileCutShortMidPlayEndsOnItsLastGoodPicture) {
    // The first half of a transport stream: it opens and plays, and its data runs out midway.
    const auto& ts = test::mediaFixtures().video("ts");
    const auto cut = folder.path() / "cut.ts";
    {
        std::ifstream in(ts.path, std::ios::binary);
        std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
        std::ofstream out(cut, std::ios::binary);
        out.write(bytes.data(), std::streamsize(bytes.size() / 2));
    }
    auto& slot = project.banks[0].slots[0];
    slot.videoURL = cut;
    slot.outPoint.reset();
    slot.postRollMode = PostRollMode::freeze;
    play(0, 0);
    run(ts.duration + 1.0);
    EXPECT_EQ(controller->currentSlotIndex.get(), 0);
    // What is on air is a picture of the clip, not a broken one.
    EXPECT_GE(test::readFrameNumber(composed()), 0);
}

}  // namespace
}  // namespace kestio

namespace kestio {
namespace {

// The output mute flipped while a clip or a sound file is starting holds once its sound runs: the
// chain's volume and the sound the device renders follow the operator's last choice, not the mute
// the start began with.
TEST_F(PlaybackIntegration, TheOutputMuteFlippedDuringAStartHolds) {
    struct Case {
        const char* name;
        MediaType kind;
        bool mutedBefore;
    };
    const double expected = test::kToneAmplitude / std::sqrt(2.0);
    const auto& sound = test::mediaFixtures().audio("wav");
    for (const Case c : {Case{"clip, muted while starting", MediaType::video, false},
                         Case{"clip, unmuted while starting", MediaType::video, true},
                         Case{"sound file, muted while starting", MediaType::audio, false},
                         Case{"sound file, unmuted while starting", MediaType::audio, true}}) {
        SCOPED_TRACE(c.name);
        if (controller->isMuted.get() != c.mutedBefore) {
            controller->toggleMute();
        }
        auto data = project.banks[0].slots[2];
        data.outPoint.reset();
        data.mediaType = c.kind;
        if (c.kind == MediaType::audio) {
            data.videoURL = sound.path;
            data.clipInfo->duration = sound.duration;
        }
        auto& target = controller->view().hiddenSlot();
        const auto soundRuns = [&] {
            return &controller->view().showingSlot() == &target &&
                   target.clipPlayer().startTime().get().has_value();
        };
        controller->play(0, 2, *data.videoURL, data, {320.0, 180.0});
        // Flipped before the sound has started.
        ASSERT_FALSE(soundRuns());
        controller->toggleMute(data.audioSettings);
        for (int i = 0; i < 300 && !soundRuns(); ++i) {
            run(0.01);
        }
        ASSERT_TRUE(soundRuns());
        run(0.2);
        const bool mutedAfter = !c.mutedBefore;
        EXPECT_EQ(target.audio().playerNode()->volume(), mutedAfter ? 0.0f : 1.0f);
        const auto& left = device->channel(0);
        const std::size_t last = 4800;
        const double level = test::rms(std::span(left).subspan(left.size() - last, last));
        if (mutedAfter) {
            EXPECT_LT(level, 0.01 * expected) << "heard while muted";
        } else {
            EXPECT_GT(level, 0.7 * expected) << "silent while not muted";
        }
    }
}

}  // namespace
}  // namespace kestio
