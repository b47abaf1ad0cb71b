// The show's hidden plays (the warm-up and the imports' display checks) overlapping in every
// order: they run one at a time, every play of theirs is made hidden, and the output ends as it
// was before the first began.

#include <string>
#include <vector>

#include "show/show_import.h"
#include "show_fixture.h"
#include "support/temporary_folder.h"

namespace kestio::test {
namespace {

struct Overlap {
    const char* name;
    // What starts first, and what joins it while it runs.
    enum Run { warmUp, import } first, second;
    // The output mute before the first run.
    bool mutedBefore;
};

class HiddenPlaysOverlap : public ShowFixture, public ::testing::WithParamInterface<Overlap> {
  protected:
    void SetUp() override {
        show->currentProjectURL = folder.path() / "Show.ktshow";
        load(0, 0, "a.mov");
        load(0, 1, "b.mov");
        playback.isMuted() = GetParam().mutedBefore;
    }
    void start(Overlap::Run run, const char* file, int slot) {
        if (run == Overlap::warmUp) {
            show->startWarmUp(show->project());
        } else {
            show->showImport().importFiles({std::filesystem::path("/drop") / file}, 0, slot);
        }
    }
    // True when every play was made with warming on (hidden, no MIDI output note).
    bool everyPlayHidden() const {
        bool warming = false;
        for (const auto& call : playback.calls) {
            if (call == "warming on" || call == "warming off") {
                warming = call == "warming on";
            } else if (call.rfind("play ", 0) == 0 && !warming) {
                return false;
            }
        }
        return true;
    }
    TemporaryFolder folder;
};

TEST_P(HiddenPlaysOverlap, RunOneAtATimeHiddenAndPutTheOutputBack) {
    start(GetParam().first, "c.mov", 5);
    loop.advance(0.5);
    start(GetParam().second, "d.mov", 6);
    for (int guard = 0; guard < 40 && (show->isLoading.get() || !playback.pendingWarmWaits.empty());
         ++guard) {
        EXPECT_LE(playback.pendingWarmWaits.size(), 1u) << "two hidden runs overlap";
        EXPECT_TRUE(playback.warming) << "a hidden run plays un-warmed";
        EXPECT_TRUE(playback.isMuted().get()) << "a hidden run plays unmuted";
        playback.answerWarmWait(true);
        loop.advance(0.5);
    }
    EXPECT_FALSE(show->isLoading.get());
    EXPECT_TRUE(everyPlayHidden());
    EXPECT_FALSE(playback.warming);
    EXPECT_EQ(playback.isMuted().get(), GetParam().mutedBefore);
    // Each run played its clips: two warmed, and each imported clip checked and kept.
    const std::size_t warmed = (GetParam().first == Overlap::warmUp ? 2 : 0) +
                               (GetParam().second == Overlap::warmUp ? 3 : 0);
    const std::size_t checked = (GetParam().first == Overlap::import ? 1 : 0) +
                                (GetParam().second == Overlap::import ? 1 : 0);
    EXPECT_EQ(playback.callsStartingWith("play ").size(), warmed + checked);
    EXPECT_EQ(slot(0, 5).videoURL.has_value(), GetParam().first == Overlap::import);
    EXPECT_EQ(slot(0, 6).videoURL.has_value(), GetParam().second == Overlap::import);
}

INSTANTIATE_TEST_SUITE_P(
    Orders, HiddenPlaysOverlap,
    ::testing::Values(Overlap{"WarmUpThenAnImport", Overlap::warmUp, Overlap::import, false},
                      Overlap{"AnImportThenAWarmUp", Overlap::import, Overlap::warmUp, false},
                      Overlap{"TwoImports", Overlap::import, Overlap::import, false},
                      Overlap{"WarmUpThenAnImportMutedBefore", Overlap::warmUp, Overlap::import,
                              true},
                      Overlap{"TwoImportsMutedBefore", Overlap::import, Overlap::import, true}),
    [](const ::testing::TestParamInfo<Overlap>& param) { return param.param.name; });

}  // namespace
}  // namespace kestio::test
