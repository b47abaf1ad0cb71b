// The show controller on the real playback controller through LiveShowPlayback: scripted media,
// scripted clip players and the null audio device, all on one ManualRunLoop. The controller's
// requests and project are wired to the show as the main window wires them.

#include <gtest/gtest.h>

#include <memory>

#include "control/key_binding_store.h"
#include "control/keyboard_shortcut_handler.h"
#include "control/midi_input_controller.h"
#include "control/midi_output_controller.h"
#include "model/project_manager.h"
#include "model/recent_projects.h"
#include "output/external_monitor_content_view.h"
#include "platform/graphics/layer.h"
#include "platform/midi/loopback_midi_system.h"
#include "platform/storage/bookmark_service.h"
#include "playback/playback_rig.h"
#include "show/live_show_playback.h"
#include "show/show_controller.h"
#include "show/show_import.h"
#include "support/fake_show_importer.h"
#include "support/scripted_dialog_presenter.h"

namespace kestio::test {
namespace {

class LiveShow : public ::testing::Test {
  protected:
    LiveShow() {
        rig.pc().projectProvider = [this]() -> std::optional<ProjectData> {
            return show->project();
        };
        live.onRequestPlay = [this](int bank, int slot) { show->requestPlay(bank, slot); };
        live.onRequestPreloadNext = [this](int bank, int slot) { show->preloadNextGo(bank, slot); };
        show->currentProjectURL = rig.folder.path() / "Show.ktshow";
    }

    SlotData& slot(int bank, int index) {
        return const_cast<ProjectData&>(show->project())
            .banks[std::size_t(bank)]
            .slots[std::size_t(index)];
    }
    std::filesystem::path load(int bank, int index, const std::string& file) {
        const auto url = std::filesystem::path("/media") / file;
        slot(bank, index).videoURL = url;
        slot(bank, index).name = url.stem().string();
        slot(bank, index).mediaType = MediaType::video;
        return url;
    }
    // The picture the showing slot's player shows now.
    std::optional<FakeFrame> shownFrame() {
        auto player =
            std::dynamic_pointer_cast<FakeQueuePlayer>(rig.surface().showingSlot().player());
        return player ? player->frameShownAt(rig.loop.now()) : std::nullopt;
    }
    float opacity(output::PlaybackSlot& s) { return s.containerLayer()->presentationOpacity(); }

    PlaybackRig rig;
    LiveShowPlayback live{rig.pc()};
    platform::BookmarkService bookmarks;
    platform::LoopbackMIDISystem midiSystem{rig.loop};
    MIDIInputController midi{rig.loop, midiSystem};
    MIDIOutputController midiOut{rig.loop, midiSystem};
    KeyBindingStore keyBindings{rig.defaults};
    KeyboardShortcutHandler keyboard{keyBindings};
    ProjectManager projectManager{bookmarks};
    RecentProjects recentProjects{rig.defaults, bookmarks};
    FakeShowImporter importer{rig.loop};
    ScriptedDialogPresenter dialogs;
    std::unique_ptr<ShowController> show = std::make_unique<ShowController>(ShowServices{
        .loop = rig.loop,
        .playback = live,
        .importer = importer,
        .midi = midi,
        .midiOut = midiOut,
        .keyboard = keyboard,
        .dialogs = dialogs,
        .bookmarks = bookmarks,
        .defaults = rig.defaults,
        .projectManager = projectManager,
        .recentProjects = recentProjects,
    });
};

TEST_F(LiveShow, APlayedSlotGoesOnAirAndTheShowReadsItsNowPlayingValues) {
    const auto url = load(2, 5, "opener.mp4");
    slot(2, 5).inPoint = 1.5;
    slot(2, 5).postRollMode = PostRollMode::black;
    show->playSlot(2, 5);
    rig.advance(0.5);
    EXPECT_TRUE(show->isOnAir(2, 5));
    EXPECT_EQ(live.selectedClipName().get(), "opener");
    EXPECT_EQ(show->nowPlayingInPoint(), 1.5);
    EXPECT_EQ(show->nowPlayingPostRollMode(), PostRollMode::black);
    EXPECT_FALSE(rig.surface().showingA());
    ASSERT_TRUE(shownFrame());
    EXPECT_EQ(shownFrame()->urlTag, fakeUrlTag(url));
    // The show's line and the controller's own land in the one play log.
    EXPECT_TRUE(rig.logHas("] 再生: BANK[BANK 3] SLOT[6] opener postRoll=black"));
    EXPECT_TRUE(rig.logHas("] 再生開始: BANK3 SLOT6 opener"));
}

TEST_F(LiveShow, StandbyCuesTheSlotPausedOnItsInPointAndCutsOnceItIsReady) {
    const auto url = load(1, 2, "cue.mp4");
    slot(1, 2).inPoint = 2.0;
    show->standbySlot(1, 2);
    // Published at once; the cut waits for the picture.
    EXPECT_TRUE(show->isOnAir(1, 2));
    EXPECT_EQ(live.selectedClipName().get(), "cue");
    EXPECT_TRUE(rig.surface().showingA());
    rig.advance(1.0);
    EXPECT_FALSE(rig.surface().showingA());
    EXPECT_EQ(rig.surface().showingSlot().player()->rateValue(), 0.0f);
    EXPECT_EQ(rig.pc().currentTime.get(), 2.0);
    // 2 s into a 29.97 fps clip is its 60th picture (index 59), and it stays there.
    EXPECT_EQ(shownFrame(), FakeFrame::of(url, 59));
    rig.advance(1.0);
    EXPECT_EQ(shownFrame(), FakeFrame::of(url, 59));
}

TEST_F(LiveShow, APlayBeforeTheCueIsReadyIsNeverCutAwayFrom) {
    const auto cue = load(0, 0, "cue.mp4");
    const auto played = load(0, 1, "played.mp4");
    FakeMediaScript slowScript;
    slowScript.readyDelay = 0.4;
    rig.media.setScript(cue, slowScript);
    show->standbySlot(0, 0);
    show->playSlot(0, 1);
    rig.advance(1.5);
    EXPECT_TRUE(show->isOnAir(0, 1));
    ASSERT_TRUE(shownFrame());
    EXPECT_EQ(shownFrame()->urlTag, fakeUrlTag(played));
    EXPECT_GT(rig.surface().showingSlot().player()->rateValue(), 0.0f);
}

TEST_F(LiveShow, APostRollNextIntoTheNextBankIsPlayedThroughTheShow) {
    load(0, 39, "last.mp4");
    slot(0, 39).outPoint = 1.0;
    slot(0, 39).postRollMode = PostRollMode::next;
    const auto next = load(1, 0, "first.mp4");
    show->playSlot(0, 39);
    rig.advance(2.0);
    EXPECT_EQ(show->currentBank.get(), 1);
    EXPECT_TRUE(show->isOnAir(1, 0));
    ASSERT_TRUE(shownFrame());
    EXPECT_EQ(shownFrame()->urlTag, fakeUrlTag(next));
    EXPECT_TRUE(rig.logHas("] 再生: BANK[BANK 2] SLOT[1] first"));
}

TEST_F(LiveShow, WarmingHidingMutingAndClearingReachTheControllerAndItsSurface) {
    live.setWarming(true);
    EXPECT_TRUE(rig.pc().isWarming());
    EXPECT_TRUE(rig.surface().isWarming());
    EXPECT_TRUE(live.isWarming());
    live.setWarming(false);
    EXPECT_FALSE(rig.pc().isWarming());
    EXPECT_FALSE(rig.surface().isWarming());

    live.isMuted() = true;
    EXPECT_TRUE(rig.pc().isMuted.get());

    load(0, 0, "a.mp4");
    show->playSlot(0, 0);
    rig.advance(0.5);
    ASSERT_EQ(opacity(rig.surface().showingSlot()), 1.0f);
    live.hideSlotLayers();
    EXPECT_EQ(opacity(rig.surface().slotA()), 0.0f);
    EXPECT_EQ(opacity(rig.surface().slotB()), 0.0f);
    live.clearSurface();
    EXPECT_TRUE(rig.surface().showingA());
    EXPECT_FALSE(rig.surface().slotA().player()->current());
    EXPECT_FALSE(rig.surface().slotB().player()->current());
}

// A slot edit made through the show reaches the real player only while that slot is on air.
TEST_F(LiveShow, ARateEditOfTheSlotOnAirReachesItsPlayerAndOneOfAnotherSlotDoesNot) {
    load(0, 0, "a.mp4");
    load(0, 1, "b.mp4");
    show->playSlot(0, 0);
    rig.advance(0.5);
    const auto player = rig.surface().showingSlot().player();
    ASSERT_TRUE(player);
    ASSERT_EQ(player->rate(), 1.0f);
    ASSERT_TRUE(show->editSlot(0, 1, [](SlotData& d) { d.playRate = 2.0; }));
    EXPECT_EQ(player->rate(), 1.0f);
    ASSERT_TRUE(show->editSlot(0, 0, [](SlotData& d) { d.playRate = 0.5; }));
    EXPECT_EQ(player->rate(), 0.5f);
}

// The panels' part of the adapter reads and drives the same controller and surface.
TEST_F(LiveShow, ThePanelsPartReadsAndDrivesTheControllerAndItsSurface) {
    EXPECT_EQ(live.programLayer(), rig.surface().rootLayer());
    live.setSeeking(true);
    EXPECT_TRUE(rig.pc().isSeeking);
    live.setSeeking(false);
    EXPECT_FALSE(rig.pc().isSeeking);

    load(0, 0, "a.mp4");
    show->playSlot(0, 0);
    rig.advance(0.5);
    ASSERT_GT(live.duration().get(), 2.0);
    EXPECT_EQ(&live.duration(), &rig.pc().duration);
    EXPECT_EQ(&live.vuLevels(), &rig.pc().vuLevels);
    live.seek(2.0);
    EXPECT_DOUBLE_EQ(live.currentTime().get(), 2.0);
    EXPECT_DOUBLE_EQ(rig.pc().currentTime.get(), 2.0);
}

// The import's display check plays each new slot in the warm-up way on the real controller: a
// file whose picture comes stays, one that never opens is taken out after the time-out.
TEST_F(LiveShow, TheImportCheckKeepsWhatPlaysAndTakesOutWhatNeverOpens) {
    FakeMediaScript broken;
    broken.loads = false;
    rig.media.setScript("/drop/broken.mov", broken);
    show->showImport().handleDrop({"/drop/good.mov", "/drop/broken.mov"}, 0, 0);
    rig.advance(ShowController::kImportDisplayTimeout + 2.0, 0.05);
    EXPECT_EQ(slot(0, 0).name, "good");
    EXPECT_FALSE(slot(0, 1).videoURL);
    EXPECT_TRUE(rig.logHas("取り込みを取り消し: broken"));
    EXPECT_FALSE(rig.logHas("取り込みを取り消し: good"));
    EXPECT_FALSE(show->isLoading.get());
    // Afterwards: not warming, the mute as before, nothing on air and nothing showing.
    EXPECT_FALSE(rig.pc().isWarming());
    EXPECT_FALSE(rig.surface().isWarming());
    EXPECT_FALSE(rig.pc().isMuted.get());
    EXPECT_FALSE(live.currentBankIndex().get());
    EXPECT_EQ(opacity(rig.surface().slotA()), 0.0f);
    EXPECT_EQ(opacity(rig.surface().slotB()), 0.0f);
}

// A close ends the play in force whatever it is doing: no cue of the closed show is preloaded or
// shown afterwards, on the surface or on the output window's mirror, no clock counts on and no
// post-roll follows; every kind of cue, every post-roll and every moment of its transition.
TEST_F(LiveShow, ACloseEndsThePlayAndNothingOfTheClosedShowFollows) {
    enum class Kind { video, still, loop };
    struct Row {
        const char* name;
        Kind kind;
        PostRollMode postRoll;
        bool dissolve;
        // When the close comes after the play.
        double closeAfter;
    };
    const Row rows[] = {
        {"before the take", Kind::video, PostRollMode::next, true, 0.0},
        {"early in a dissolve, next", Kind::video, PostRollMode::next, true, 0.3},
        {"mid-dissolve, next", Kind::video, PostRollMode::next, true, 1.3},
        {"mid-dissolve, jump", Kind::video, PostRollMode::jump, true, 1.6},
        {"mid-dissolve, freeze", Kind::video, PostRollMode::freeze, true, 1.3},
        {"after a dissolve, next", Kind::video, PostRollMode::next, true, 3.5},
        {"after a cut, next", Kind::video, PostRollMode::next, false, 0.5},
        {"just before the end, next", Kind::video, PostRollMode::next, false, 3.9},
        {"a still mid-dissolve, next", Kind::still, PostRollMode::next, true, 1.3},
        {"a still after a cut, loop", Kind::still, PostRollMode::loop, false, 1.0},
        {"a loop mid-dissolve", Kind::loop, PostRollMode::loop, true, 1.3},
        {"a loop after a cut", Kind::loop, PostRollMode::loop, false, 0.5},
    };
    output::ExternalMonitorContentView mirror(rig.loop, rig.surface(), {192.0, 108.0});
    mirror.layout({192.0, 108.0});
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const auto first = load(0, 0, "first.mp4");
        load(0, 1, "second.mp4");
        load(0, 2, "third.mp4");
        FakeMediaScript script;
        script.duration = 4.0;
        rig.media.setScript(first, script);
        slot(0, 0).postRollMode = row.postRoll;
        slot(0, 0).jumpTarget = JumpTarget{0, 2};
        slot(0, 0).transitionMode = row.dissolve ? TransitionMode::dissolve : TransitionMode::cut;
        slot(0, 0).dissolveDuration = 3.0;
        slot(0, 0).stillDuration = 2.0;
        if (row.kind == Kind::still) {
            slot(0, 0).mediaType = MediaType::still;
        }
        if (row.kind == Kind::loop) {
            slot(0, 0).outPoint = 1.0;
        }
        // Something on air before, so that the cue dissolves over a picture.
        show->playSlot(0, 1);
        rig.advance(0.3);
        show->playSlot(0, 0);
        rig.advance(row.closeAfter);

        dialogs.alertAnswers = {0};
        show->projectIO().closeProject();
        // The closed show's log file is let go; what follows is still written to be read here.
        rig.pc().logFileURL = rig.folder.path() / "app.log";
        rig.pc().reopenLogFile();
        const std::size_t linesAtClose = rig.logLines().size();
        for (int step = 0; step < 60 && !HasFailure(); ++step) {
            rig.advance(0.05);
            SCOPED_TRACE("at " + std::to_string(0.05 * (step + 1)) + " s after the close");
            EXPECT_FALSE(live.currentBankIndex().get());
            EXPECT_EQ(rig.pc().currentTime.get(), 0.0);
            for (bool a : {true, false}) {
                output::PlaybackSlot& s = a ? rig.surface().slotA() : rig.surface().slotB();
                EXPECT_FALSE(s.player()->current()) << (a ? "slot A" : "slot B") << " holds a clip";
                EXPECT_TRUE(s.containerLayer()->contents().isNull());
                EXPECT_EQ(opacity(s), 0.0f);
                EXPECT_EQ(mirror.slotLayer(a)->presentationOpacity(), 0.0f)
                    << "the output window shows " << (a ? "slot A" : "slot B");
            }
        }
        const auto lines = rig.logLines();
        for (std::size_t i = linesAtClose; i < lines.size(); ++i) {
            EXPECT_EQ(lines[i].find("NextGo"), std::string::npos) << lines[i];
            EXPECT_EQ(lines[i].find("PostRoll"), std::string::npos) << lines[i];
            EXPECT_EQ(lines[i].find("再生開始"), std::string::npos) << lines[i];
        }
    }
}

// An out point set through the show while its slot is on air reaches the clip on air at once:
// its item ends there and its post-roll follows there; one set on another slot touches nothing.
TEST_F(LiveShow, AnOutPointSetOnAirEndsTheClipOnAirThere) {
    struct Row {
        const char* name;
        // The slot edited, the out point given, and where the clip on air then ends.
        int edited;
        std::optional<double> outPoint;
        double endsAt;
    };
    const Row rows[] = {
        {"ahead of the position", 0, 2.0, 2.0},
        {"behind the position", 0, 0.5, 1.0},
        {"moved later", 0, 2.5, 2.5},
        {"of another slot", 1, 1.5, 4.0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const auto url = load(0, 0, "a.mp4");
        load(0, 1, "b.mp4");
        FakeMediaScript script;
        script.duration = 4.0;
        rig.media.setScript(url, script);
        slot(0, 0).postRollMode = PostRollMode::black;
        slot(0, 0).outPoint = std::nullopt;
        if (row.outPoint == 2.5) {
            slot(0, 0).outPoint = 1.8;
        }
        show->playSlot(0, 0);
        rig.advance(1.0);
        ASSERT_TRUE(show->isOnAir(0, 0));
        ASSERT_TRUE(show->editSlot(0, row.edited, [&](SlotData& d) { d.outPoint = row.outPoint; }));
        const auto item = rig.surface().showingSlot().player()->current();
        ASSERT_TRUE(item);
        if (row.edited == 0) {
            EXPECT_DOUBLE_EQ(item->forwardPlaybackEndTime(), *row.outPoint);
        } else {
            EXPECT_TRUE(std::isnan(item->forwardPlaybackEndTime()) ||
                        item->forwardPlaybackEndTime() == slot(0, 0).outPoint);
        }
        // On air until its end, black from a few frames after it.
        if (row.endsAt > 1.1) {
            rig.advance(row.endsAt - 1.1);
            EXPECT_TRUE(show->isOnAir(0, 0)) << "ended before " << row.endsAt;
            rig.advance(0.25);
        } else {
            rig.advance(0.15);
        }
        EXPECT_FALSE(live.currentBankIndex().get()) << "still on air after " << row.endsAt;
    }
}

// A cue stood by and then taken on air by a resume is watched as any clip on air: its position
// is published as it runs, and its out point brings its post-roll.
TEST_F(LiveShow, AStoodByCueResumedIsWatchedToItsOutPoint) {
    for (const PostRollMode postRoll : {PostRollMode::next, PostRollMode::black}) {
        SCOPED_TRACE(std::string(rawValue(postRoll)));
        load(0, 0, "cue.mp4");
        const auto next = load(0, 1, "next.mp4");
        slot(0, 0).inPoint = 0.5;
        slot(0, 0).outPoint = 1.5;
        slot(0, 0).postRollMode = postRoll;
        show->standbySlot(0, 0);
        rig.advance(1.0);
        ASSERT_EQ(rig.surface().showingSlot().player()->rateValue(), 0.0f);
        EXPECT_EQ(rig.pc().currentTime.get(), 0.5);
        live.resume();
        rig.advance(0.5);
        // The sound starts a few blocks after the resume; the position runs from there.
        EXPECT_GT(rig.pc().currentTime.get(), 0.8) << "the position is not published";
        rig.advance(0.8);
        EXPECT_TRUE(rig.logHas("PostRoll: " + std::string(rawValue(postRoll)) + " BANK1 SLOT1"));
        if (postRoll == PostRollMode::next) {
            EXPECT_TRUE(show->isOnAir(0, 1));
            ASSERT_TRUE(shownFrame());
            EXPECT_EQ(shownFrame()->urlTag, fakeUrlTag(next));
        } else {
            EXPECT_FALSE(live.currentBankIndex().get());
        }
        live.handlePostRoll(PostRollMode::black);
    }
}

}  // namespace
}  // namespace kestio::test
