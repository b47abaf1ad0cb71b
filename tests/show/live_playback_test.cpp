// The application's playback as the show layer composes it: the show's adapter, the program
// output and the colour bars and test tone are views of one controller on one output surface,
// and the project reaches that controller through the provider installed.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "model/project_data.h"
#include "output/output_surface.h"
#include "platform/runloop/manual_run_loop.h"
#include "show/live_playback.h"
#include "show/show_playback.h"
#include "show/signal_output.h"
#include "support/fake_media.h"
#include "support/null_audio_device.h"

namespace kestio {
namespace {

class LivePlaybackTest : public ::testing::Test {
  protected:
    platform::ManualRunLoop loop;
    test::FakeMediaFactory media{loop};
    LivePlayback playback{LivePlayback::Services{
        .loop = loop,
        .audioDevice =
            std::make_shared<test::NullAudioDevice>(48000.0, 2, "Null Output", loop.hostClock()),
        .media = media}};

    // Records `ref` as what the program output has on air, as a take of its cue does.
    void takeToAir(SlotRef ref) {
        output::Cue cue;
        cue.ref = ref;
        cue.url = "/clips/on-air.mov";
        playback.program().cue(std::move(cue));
        playback.program().take({});
    }
};

TEST_F(LivePlaybackTest, TheShowAndTheSignalsDriveTheOneProgramOutput) {
    EXPECT_EQ(playback.show().programLayer(), playback.program().rootLayer());

    std::vector<std::string> lines;
    playback.program().onLayerLog = [&lines](const std::string& line) { lines.push_back(line); };
    playback.show().clearSurface();
    playback.signals().clearOutput();
    loop.runPending();
    int stops = 0;
    for (const auto& line : lines) {
        stops += line.find("[LAYER] stopAll") != std::string::npos ? 1 : 0;
    }
    EXPECT_EQ(stops, 2);

    ASSERT_TRUE(playback.signals().startTone(-20));
    EXPECT_TRUE(playback.program().sharedEngine().isRunning());
    playback.signals().stopTone();
}

TEST_F(LivePlaybackTest, PostRollNextFindsItsSlotInTheProjectProvided) {
    std::vector<SlotRef> requests;
    playback.show().onRequestPlay = [&requests](int bank, int slot) {
        requests.push_back({bank, slot});
    };
    takeToAir(SlotRef{0, 2});
    // Without a project, nothing follows.
    playback.show().handlePostRoll(PostRollMode::next);
    EXPECT_TRUE(requests.empty());

    ProjectData project;
    project.banks.resize(1);
    project.banks[0].slots.resize(8);
    project.banks[0].slots[3].videoURL = "/clips/next.mov";
    playback.setProjectProvider([project]() -> std::optional<ProjectData> { return project; });
    takeToAir(SlotRef{0, 2});
    playback.show().handlePostRoll(PostRollMode::next);
    EXPECT_EQ(requests, (std::vector<SlotRef>{{0, 3}}));
}

}  // namespace
}  // namespace kestio
