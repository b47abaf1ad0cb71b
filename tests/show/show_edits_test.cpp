#include <functional>
#include <string>
#include <vector>

#include "show/midi_routing.h"
#include "show/project_io.h"
#include "show_project_fixture.h"

namespace kestio::test {
namespace {

class ShowEdits : public ShowProjectFixture {
  protected:
    // Opens a project whose bank 1 slot 4 and bank 0 slot 0 hold clips without files (so no
    // warm-up runs), saved at "Edits.ktshow".
    void SetUp() override {
        ProjectData project(4, 10);
        auto& clip = project.banks[1].slots[4];
        clip.name = "Intro";
        clip.midiBindings = std::vector<MIDINoteBinding>{{1, 60}};
        clip.midiOutputBinding = MIDINoteBinding{3, 70};
        clip.thumbnail = std::vector<std::uint8_t>{1, 2, 3};
        clip.geometry.posX = 100;
        clip.audioSettings.masterLevel = -6;
        clip.audioSettings.isMuted = true;
        clip.equalizer.hz80 = 3;
        project.banks[0].slots[0].name = "Opening";
        package = writePackage(project, "Edits.ktshow");
        open(package);
        show->hasUnsavedChanges = false;
        playback.calls.clear();
        dialogs.calls.clear();
    }

    const SlotData& slot(int b, int s) const {
        return show->project()
            .banks[static_cast<std::size_t>(b)]
            .slots[static_cast<std::size_t>(s)];
    }

    std::filesystem::path package;
};

TEST_F(ShowEdits, DeletingAClipLeavesAFreshSlotAndLogsTheOldName) {
    const auto thumbnail = package / "thumbnails" / slot(1, 4).thumbnailFileName.value_or("");
    ASSERT_TRUE(std::filesystem::is_regular_file(thumbnail));
    show->deleteClip(1, 4);
    SlotData fresh;
    fresh.name = "045";
    EXPECT_EQ(slot(1, 4), fresh);
    EXPECT_TRUE(show->hasUnsavedChanges.get());
    EXPECT_TRUE(logged("クリップ削除: BANK2 SLOT5 Intro"));
    // The package keeps the clip's picture until the project is saved.
    EXPECT_TRUE(std::filesystem::exists(thumbnail));
    bool saved = false;
    show->projectIO().saveProject([&](bool done) { saved = done; });
    ASSERT_TRUE(waitFor([&] { return saved; }));
    EXPECT_FALSE(std::filesystem::exists(thumbnail));
}

TEST_F(ShowEdits, OperationsOnSlotsOrBanksOutsideTheProjectDoNothing) {
    const ProjectData before = show->project();
    for (auto [b, s] : {std::pair{-1, 0}, {20, 0}, {0, 40}, {0, -1}}) {
        show->deleteClip(b, s);
        show->midiRouting().showMIDIOutputAssignDialog(b, s);
        show->applySlotSettingsToActivePlayer(b, s);
    }
    show->renameBank(20);
    show->renameBank(-1);
    EXPECT_EQ(show->project(), before);
    EXPECT_FALSE(show->hasUnsavedChanges.get());
    EXPECT_TRUE(dialogs.calls.empty());
    EXPECT_TRUE(playback.calls.empty());
}

TEST_F(ShowEdits, TheSlotOnAirGetsItsStoredSettingsAgainInOrder) {
    show->applySlotSettingsToActivePlayer(1, 4);  // nothing on air
    playback.setOnAir(1, 5);
    show->applySlotSettingsToActivePlayer(1, 4);  // another slot on air
    EXPECT_TRUE(playback.calls.empty());

    playback.setOnAir(1, 4);
    show->applySlotSettingsToActivePlayer(1, 4);
    EXPECT_EQ(playback.calls, (std::vector<std::string>{"geometry", "volume muted -6",
                                                        "equalizer 3 0 0 0 0 0", "color"}));
    EXPECT_FALSE(show->hasUnsavedChanges.get());
}

// One kind of slot edit and what playback must be told when it lands on the slot on air.
struct OnAirEdit {
    const char* name;
    std::function<void(SlotData&)> edit;
    std::vector<std::string> pushed;
};

TEST_F(ShowEdits, EachEditOfTheSlotOnAirReachesPlaybackOnceAndOtherSlotsPushNothing) {
    const std::vector<OnAirEdit> cases = {
        {"rate", [](SlotData& d) { d.playRate = 1.5; }, {"rate 1.5"}},
        {"geometry", [](SlotData& d) { d.geometry.scaleX = 50; }, {"geometry"}},
        {"level", [](SlotData& d) { d.audioSettings.masterLevel = -12; }, {"volume muted -12"}},
        {"mute", [](SlotData& d) { d.audioSettings.isMuted = false; }, {"volume on -6"}},
        {"equaliser", [](SlotData& d) { d.equalizer.khz3_2 = -4; }, {"equalizer 3 0 0 0 0 -4"}},
        {"colour", [](SlotData& d) { d.colorSettings.gamma = 1.4f; }, {"color"}},
        {"rate and colour",
         [](SlotData& d) {
             d.playRate = 0.5;
             d.colorSettings.hue = 20;
         },
         {"rate 0.5", "color"}},
        // Written again as it stands: nothing changed, nothing to hand over.
        {"same values", [](SlotData& d) { d.geometry.posX = 100; }, {}},
        // Read by playback when it needs them, never pushed.
        {"in point", [](SlotData& d) { d.inPoint = 2.0; }, {}},
        {"post-roll", [](SlotData& d) { d.postRollMode = PostRollMode::loop; }, {}},
        {"dissolve", [](SlotData& d) { d.dissolveDuration = 3.0; }, {}},
    };
    const ProjectData original = show->project();
    for (const auto& c : cases) {
        for (const bool onAir : {true, false}) {
            SCOPED_TRACE(std::string(c.name) + (onAir ? " on air" : " not on air"));
            project() = original;
            playback.setOnAir(onAir ? 1 : 0, onAir ? 4 : 0);
            playback.calls.clear();
            const auto revision = show->projectRevision.get();

            ASSERT_TRUE(show->editSlot(1, 4, c.edit));
            SlotData expected = original.banks[1].slots[4];
            c.edit(expected);
            EXPECT_EQ(slot(1, 4), expected);
            EXPECT_EQ(show->projectRevision.get(), revision + 1);
            EXPECT_EQ(playback.calls, onAir ? c.pushed : std::vector<std::string>{});
            EXPECT_FALSE(show->hasUnsavedChanges.get());
        }
    }
}

TEST_F(ShowEdits, AnEditOfASlotOutsideTheProjectWritesAndPushesNothing) {
    playback.setOnAir(1, 4);
    const ProjectData before = show->project();
    const auto revision = show->projectRevision.get();
    bool ran = false;
    for (auto [b, s] : {std::pair{-1, 4}, {20, 0}, {1, 40}, {1, -1}}) {
        EXPECT_FALSE(show->editSlot(b, s, [&](SlotData&) { ran = true; }));
    }
    EXPECT_FALSE(ran);
    EXPECT_EQ(show->project(), before);
    EXPECT_EQ(show->projectRevision.get(), revision);
    EXPECT_TRUE(playback.calls.empty());
}

TEST_F(ShowEdits, RenamingStoresTheTextAsTypedAndCancelKeepsEverything) {
    dialogs.textAnswers = {std::string(""), std::nullopt};
    show->renameBank(3);
    EXPECT_EQ(show->project().banks[3].name, "");
    EXPECT_TRUE(show->hasUnsavedChanges.get());
    const auto prompt = dialogs.callsOf("promptText").at(0);
    EXPECT_EQ(prompt.texts,
              (std::vector<std::string>{L("バンク名を変更", "Rename Bank"), "BANK 4"}));

    show->hasUnsavedChanges = false;
    show->renameBank(2);
    EXPECT_EQ(show->project().banks[2].name, "BANK 3");
    EXPECT_FALSE(show->hasUnsavedChanges.get());
}

TEST_F(ShowEdits, ARenameAnsweredAfterTheProjectWasReplacedChangesNothing) {
    dialogs.textAnswers = {std::string("Late")};
    dialogs.duringModal = [&] {
        dialogs.duringModal = nullptr;
        dialogs.alertAnswers = {0};
        show->projectIO().closeProject();  // runs while the dialog is open
    };
    show->renameBank(0);
    EXPECT_EQ(show->project().banks[0].name, "BANK 1");
}

struct MidiOutCase {
    const char* channel;
    const char* note;
    MIDINoteBinding stored;
};

TEST_F(ShowEdits, TheMIDIOutputDialogParsesClampsAndAlwaysStores) {
    const std::vector<MidiOutCase> cases = {{"0", "-3", {1, 0}},    {"17", "200", {16, 127}},
                                            {"abc", "", {1, 60}},   {"+5", "64", {5, 64}},
                                            {" 2", "1e3", {1, 60}}, {"16", "127", {16, 127}}};
    for (const auto& c : cases) {
        dialogs.midiNoteAnswers = {std::pair{std::string(c.channel), std::string(c.note)}};
        show->hasUnsavedChanges = false;
        show->midiRouting().showMIDIOutputAssignDialog(0, 0);
        EXPECT_EQ(slot(0, 0).midiOutputBinding, c.stored) << c.channel << " / " << c.note;
        EXPECT_TRUE(show->hasUnsavedChanges.get());
    }
    // The fields start from the stored binding, or channel 1 and note 60.
    const auto prompts = dialogs.callsOf("promptMIDINote");
    EXPECT_EQ(prompts.at(0).texts.at(4), "1");
    EXPECT_EQ(prompts.at(0).texts.at(5), "60");
    EXPECT_EQ(prompts.at(0).texts.at(2), "Channel (1-16)");
    EXPECT_EQ(prompts.at(0).texts.at(3), "Note (0-127)");
    EXPECT_EQ(prompts.at(1).texts.at(4), "1");
    EXPECT_EQ(prompts.at(1).texts.at(5), "0");

    show->hasUnsavedChanges = false;
    show->midiRouting().showMIDIOutputAssignDialog(1, 4);  // cancelled
    EXPECT_EQ(slot(1, 4).midiOutputBinding, (MIDINoteBinding{3, 70}));
    EXPECT_FALSE(show->hasUnsavedChanges.get());
    EXPECT_EQ(dialogs.lastOf("promptMIDINote").texts.at(4), "3");
}

}  // namespace
}  // namespace kestio::test
