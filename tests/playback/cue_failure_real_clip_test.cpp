// A cue whose file went away during the show, on the real classes (a generated clip decoded by
// FFmpeg, the real slots and surface, the null audio device): the clip on air plays on, the
// published values show it again, and the show is told the cue did not fire.

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "output/output_surface.h"
#include "platform/graphics/compositor.h"
#include "platform/graphics/layer.h"
#include "platform/media/decoded_player_item.h"
#include "playback_rig.h"
#include "real_clip_rig.h"
#include "support/frame_number_strip.h"
#include "support/media_fixtures.h"
#include "support/playback_test_support.h"
#include "support/temporary_folder.h"

namespace kestio {
namespace {

using platform::media::DecodedPlayerItem;

class CueOfAGoneFile : public ::testing::Test, protected test::RealClipRig {
  protected:
    CueOfAGoneFile() : RealClipRig(true) {
        const auto& clip = test::mediaFixtures().rateClip({30, 1});
        project = test::makeProject(1, 1, 2);
        for (auto& slot : project.banks[0].slots) {
            slot.clipInfo->duration = clip.duration;
            slot.postRollMode = PostRollMode::freeze;
        }
        project.banks[0].slots[0].videoURL = clip.path;
        // The second clip's file is there when the project is made, and gone when it is fired.
        const auto gone = folder.path() / "gone.mp4";
        std::filesystem::copy_file(clip.path, gone);
        project.banks[0].slots[1].videoURL = gone;
        controller->onCueFailed = [this](int bank, int slot, const std::string&) {
            failed = SlotRef{bank, slot};
        };
    }

    void fire(int slot) {
        const auto& data = project.banks[0].slots[std::size_t(slot)];
        controller->play(0, slot, *data.videoURL, data, {320.0, 180.0});
    }
    int composedFrame() {
        return test::readFrameNumber(
            compositor.render(*controller->view().rootLayer(), loop.now(), QSize(320, 180)));
    }

    test::TemporaryFolder folder;
    platform::Compositor compositor;
    std::optional<SlotRef> failed;
};

TEST_F(CueOfAGoneFile, LeavesTheClipOnAirPlayingAndShownAsOnAir) {
    fire(0);
    auto& onAir = controller->view().hiddenSlot();
    for (int i = 0; i < 300 && !(&controller->view().showingSlot() == &onAir &&
                                 onAir.clipPlayer().startTime().get().has_value());
         ++i) {
        step();
    }
    for (int i = 0; i < 20; ++i) {
        step();
    }
    const int frameBefore = composedFrame();
    ASSERT_GT(frameBefore, 0);

    std::filesystem::remove(*project.banks[0].slots[1].videoURL);
    fire(1);
    for (int i = 0; i < int(1.0 / kStep); ++i) {
        step();
    }
    ASSERT_EQ(failed, (SlotRef{0, 1})) << "the show was not told the cue did not fire";
    EXPECT_EQ(&controller->view().showingSlot(), &onAir);
    EXPECT_GE(composedFrame(), frameBefore + 25) << "the clip on air stopped";
    EXPECT_EQ(controller->currentSlotIndex.get(), 0);
    EXPECT_EQ(controller->selectedClipName.get(), project.banks[0].slots[0].name);
    const double time = controller->currentTime.get();
    for (int i = 0; i < 20; ++i) {
        step();
    }
    EXPECT_NEAR(controller->currentTime.get() - time, 0.2, 0.06) << "the clip's clock stopped";
    ASSERT_TRUE(controller->view().foreground());
    EXPECT_EQ(controller->view().foreground()->ref, (SlotRef{0, 0}));
}

}  // namespace
}  // namespace kestio
