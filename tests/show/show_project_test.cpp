#include <sys/stat.h>

#include <fstream>
#include <iterator>
#include <regex>
#include <string>

#include <nlohmann/json.hpp>

#include "show/project_io.h"
#include "show_project_fixture.h"

namespace kestio::test {
namespace {

namespace fs = std::filesystem;

class ShowProject : public ShowProjectFixture {
  protected:
    ProjectData named(const std::string& firstSlotName) {
        ProjectData project(4, 10);
        project.banks[0].slots[0].name = firstSlotName;
        return project;
    }
    void edit() {
        dialogs.textAnswers.push_back(std::string("Edited"));
        show->renameBank(5);
        ASSERT_TRUE(show->hasUnsavedChanges.get());
    }
    ProjectData reread(const fs::path& package) { return projectManager.load(package); }
};

TEST_F(ShowProject, TheFirstSaveAsksForAPlaceAndThenSavesThere) {
    edit();
    dialogs.pathAnswers = {folder / "Show"};
    show->projectIO().saveProject();
    const auto panel = dialogs.callsOf("savePackage").at(0);
    EXPECT_EQ(panel.texts.at(0), L("プロジェクトを保存", "Save Project"));
    EXPECT_EQ(panel.texts.at(1), "Untitled");
    const fs::path package = folder / "Show.ktshow";
    ASSERT_TRUE(waitFor([&] { return recentFirst(package); }));
    EXPECT_EQ(show->currentProjectURL.get(), package);
    EXPECT_EQ(playback.logFile, package / "app.log");
    EXPECT_TRUE(logged("プロジェクト保存: Show.ktshow"));
    EXPECT_FALSE(show->hasUnsavedChanges.get());
    EXPECT_TRUE(defaults.data("projectFolderBookmark_Show.ktshow").has_value());
    EXPECT_EQ(reread(package).banks[5].name, "Edited");

    // The second save writes in place: no panel, no folder entry, the recent list untouched.
    edit();
    defaults.remove("projectFolderBookmark_Show.ktshow");
    const int recentWrites = defaults.writeCount();
    show->projectIO().saveProject();
    ASSERT_TRUE(waitFor([&] { return logged("プロジェクト上書き保存: Show.ktshow"); }));
    EXPECT_EQ(dialogs.callsOf("savePackage").size(), 1u);
    EXPECT_FALSE(show->hasUnsavedChanges.get());
    EXPECT_EQ(defaults.writeCount(), recentWrites);
}

TEST_F(ShowProject, SaveAsProposesTheCurrentNameAndKeepsTheUnsavedMark) {
    dialogs.pathAnswers = {folder / "Show.KTSHOW"};
    show->projectIO().saveProject();
    ASSERT_TRUE(waitFor([&] { return recentFirst(folder / "Show.KTSHOW"); }));

    edit();
    dialogs.pathAnswers = {folder / "Show.json"};
    show->projectIO().saveProjectAs();
    EXPECT_EQ(dialogs.callsOf("savePackage").at(1).texts.at(1), "Show");
    const fs::path copy = folder / "Show.json.ktshow";
    ASSERT_TRUE(waitFor([&] { return recentFirst(copy); }));
    EXPECT_TRUE(logged("別名保存: Show.json.ktshow"));
    EXPECT_TRUE(show->hasUnsavedChanges.get());
    EXPECT_EQ(show->currentProjectURL.get(), copy);
}

TEST_F(ShowProject, AFailedSaveIsNeverShownAsSaved) {
    // A file where the package folder should be: the save cannot create it.
    const fs::path blocked = folder.write("Blocked.ktshow", "not a folder");
    edit();
    dialogs.pathAnswers = {blocked};
    show->projectIO().saveProject();
    ASSERT_TRUE(waitFor([&] { return alerted(L("保存に失敗しました", "Save Failed")); }));
    EXPECT_TRUE(show->hasUnsavedChanges.get());
    EXPECT_FALSE(show->currentProjectURL.get().has_value());
    EXPECT_FALSE(playback.logFile.has_value());
    EXPECT_TRUE(recentProjects.load().empty());
    EXPECT_FALSE(dialogs.lastOf("alert").texts.at(1).empty());

    // A cancelled panel saves nothing and leaves the mark on.
    show->projectIO().saveProject();
    loop.runPending();
    EXPECT_TRUE(show->hasUnsavedChanges.get());
}

TEST_F(ShowProject, AnEditMadeWhileThePackageIsWrittenKeepsTheMarkOn) {
    dialogs.pathAnswers = {folder / "Busy"};
    show->projectIO().saveProject();
    edit();  // before the worker's answer is taken on the loop
    ASSERT_TRUE(waitFor([&] { return recentFirst(folder / "Busy.ktshow"); }));
    EXPECT_TRUE(show->hasUnsavedChanges.get());
    EXPECT_EQ(reread(folder / "Busy.ktshow").banks[5].name, "BANK 6");
}

TEST_F(ShowProject, OpeningSetsTheLocationThePlayLogAndTheSwitchesOnce) {
    ProjectData project = named("Opening");
    project.midiInputEnabled = false;
    project.showMIDIAssignLabels = true;
    project.followJumpEnabled = false;
    const fs::path package = writePackage(project, "Gig.ktshow");
    show->currentBank = 7;
    show->cursorSlot = 12;
    edit();
    ASSERT_NO_FATAL_FAILURE(open(package));
    EXPECT_EQ(show->project().banks[0].slots[0].name, "Opening");
    EXPECT_EQ(show->currentProjectURL.get(), package);
    EXPECT_EQ(playback.logFile, package / "app.log");
    EXPECT_EQ(logCount("プロジェクト読み込み: Gig.ktshow"), 1);
    EXPECT_EQ(show->currentBank.get(), 0);
    EXPECT_EQ(show->cursorSlot.get(), 12);  // not moved by a load
    EXPECT_FALSE(midi.isEnabled.get());
    EXPECT_TRUE(show->showMIDIAssignLabels.get());
    EXPECT_FALSE(show->followJump.get());
    EXPECT_FALSE(show->hasUnsavedChanges.get());  // the project equals its file
    EXPECT_TRUE(defaults.data("projectFolderBookmark_Gig.ktshow").has_value());
    EXPECT_TRUE(playback.callsStartingWith("warming").empty());  // nothing to warm up
}

TEST_F(ShowProject, OpeningADuplicatedAssignmentShowsTheRepairAsUnsaved) {
    ProjectData project = named("A");
    project.banks[0].slots[0].midiBindings = std::vector<MIDINoteBinding>{{1, 60}};
    project.banks[2].slots[0].midiBindings = std::vector<MIDINoteBinding>{{1, 60}};
    ASSERT_NO_FATAL_FAILURE(open(writePackage(project, "Dup.ktshow")));
    EXPECT_TRUE(show->hasUnsavedChanges.get());
}

TEST_F(ShowProject, BadPackagesFailToLoadAndTheOpenProjectStays) {
    const fs::path good = writePackage(named("Good"), "Good.ktshow");
    ASSERT_NO_FATAL_FAILURE(open(good));

    std::vector<fs::path> bad;
    bad.push_back(writePackage(named("x"), "Corrupt.ktshow"));
    std::ofstream(bad.back() / "data.json", std::ios::trunc) << "{\"banks\": [tru";
    bad.push_back(folder / "DocumentIsAFolder.ktshow");
    fs::create_directories(bad.back() / "data.json");
    bad.push_back(folder / "NotThere.ktshow");
    ProjectData noBanks(4, 10);
    noBanks.banks.clear();
    bad.push_back(writePackage(noBanks, "NoBanks.ktshow"));
    ProjectData noRows(4, 10);
    noRows.rows = 0;
    bad.push_back(writePackage(noRows, "NoRows.ktshow"));
    // A hand-edited document with a negative column count.
    bad.push_back(writePackage(named("x"), "Negative.ktshow"));
    {
        std::ifstream in(bad.back() / "data.json");
        const std::string text((std::istreambuf_iterator<char>(in)), {});
        std::ofstream(bad.back() / "data.json", std::ios::trunc)
            << std::regex_replace(text, std::regex(R"("columns"\s*:\s*10)"), R"("columns": -1)");
    }
    for (const auto& package : bad) {
        const std::size_t alertsBefore = dialogs.callsOf("alert").size();
        show->projectIO().loadProject(package);
        ASSERT_TRUE(waitFor([&] { return dialogs.callsOf("alert").size() > alertsBefore; }))
            << package;
        const auto alert = dialogs.lastOf("alert");
        EXPECT_EQ(alert.texts.at(0), L("読み込みに失敗しました", "Load Failed")) << package;
        EXPECT_FALSE(alert.texts.at(1).empty()) << package;
        EXPECT_EQ(show->project().banks[0].slots[0].name, "Good");
        EXPECT_EQ(show->currentProjectURL.get(), good);
        EXPECT_EQ(playback.logFile, good / "app.log");
    }
    EXPECT_EQ(logCount("プロジェクト読み込み: Good.ktshow"), 1);
}

// A package whose document was altered field by field, one slot each: the show opens with each
// value mended in its slot, one warning names every mend, and the play log has a line for each.
TEST_F(ShowProject, ValuesTheProgramCannotPlayAreMendedAndNamedInOneWarning) {
    using Json = nlohmann::json;
    struct Row {
        const char* pointer;        // inside the slot
        std::optional<Json> value;  // nothing: the member is deleted
        std::string entry;          // what the warning says after the slot; ∅: nothing there
    };
    const Row rows[] = {
        {"/postRollMode", "sideways", R"(postRollMode "sideways" → freeze)"},
        {"/audioSettings/masterLevel", 60, "audioSettings.masterLevel 60 → 12"},
        {"/audioSettings/masterLevel", 1e9, "audioSettings.masterLevel 1000000000.0 → 12"},
        {"/playRate", 1000, "playRate 1000 → 8"},
        {"/playRate", -1, "playRate -1 → 0.1"},
        {"/playRate", "1.0", R"(playRate "1.0" → 1)"},
        {"/stillDuration", -5, "stillDuration -5 → 5"},
        {"/inPoint", -5, "inPoint -5 → 0"},
        {"/outPoint", 1, "outPoint 1 → ∅"},
        {"/jumpTarget", Json{{"bank", 99}, {"slot", 99}},
         R"(jumpTarget {"bank":99,"slot":99} → ∅)"},
        {"/colorSettings/redGain", 9.2e18, "colorSettings.redGain 9.2e+18 → 2"},
        {"/dissolveDuration", 1e9, "dissolveDuration 1000000000.0 → 5"},
        {"/geometry/mode", "FILL", R"(geometry.mode "FILL" → fitToWindow)"},
        {"/colorSettings/hue", std::nullopt, "colorSettings.hue ∅ → 0"},
        {"/equalizer/hz80", 1e308, "equalizer.hz80 1e+308 → 12"},
    };
    ProjectData project = named("Opening");
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        SlotData& slot = project.banks[1].slots[i];
        slot.name = "Cue " + std::to_string(i + 1);
        slot.inPoint = 2;  // for the out point's row
        slot.outPoint = 4;
        slot.playRate = 2;  // what is not altered stays as written
    }
    const fs::path package = writePackage(project, "Altered.ktshow");
    Json document = Json::parse(std::ifstream(package / "data.json"));
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const Json::json_pointer at("/banks/1/slots/" + std::to_string(i) + rows[i].pointer);
        if (rows[i].value) {
            document[at] = *rows[i].value;
        } else {
            document[at.parent_pointer()].erase(at.back());
        }
    }
    std::ofstream(package / "data.json", std::ios::trunc) << document.dump(2);
    ASSERT_NO_FATAL_FAILURE(open(package));
    EXPECT_FALSE(alerted(L("読み込みに失敗しました", "Load Failed")));
    EXPECT_EQ(show->project().banks[0].slots[0].name, "Opening");
    const auto title = L("一部のスロット設定を補正して読み込みました",
                         "Some slot settings were corrected as the show was read");
    ASSERT_EQ(dialogs.callsOf("alert").size(), 1u);
    const std::string warning = dialogs.callsOf("alert").at(0).texts.at(1);
    EXPECT_EQ(dialogs.callsOf("alert").at(0).texts.at(0), title);
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE(rows[i].pointer);
        const std::string slot =
            "BANK 2 SLOT " + std::to_string(i + 1) + " (Cue " + std::to_string(i + 1) + "): ";
        // The play log is in Japanese; the warning speaks the interface language.
        const auto with = [&](const std::string& nothing) {
            return std::regex_replace(rows[i].entry, std::regex("∅"), nothing);
        };
        EXPECT_EQ(logCount("設定値を補正して読み込み: " + slot + with("（なし）")), 1);
        const bool deleted = !rows[i].value;
        const std::string entry = with(L("（なし）", deleted ? "(missing)" : "(none)"));
        EXPECT_NE(warning.find(slot + entry), std::string::npos) << warning;
        if (std::string(rows[i].pointer) != "/playRate") {
            EXPECT_EQ(show->project().banks[1].slots[i].playRate, 2.0);
        }
    }
    EXPECT_EQ(show->project().banks[1].slots[1].audioSettings.masterLevel, 12.0f);
    EXPECT_FALSE(show->hasUnsavedChanges.get());
}

TEST_F(ShowProject, OnlyTheLastOfTwoOpensIsShown) {
    const fs::path first = writePackage(named("First"), "First.ktshow");
    const fs::path second = writePackage(named("Second"), "Second.ktshow");
    show->projectIO().loadProject(first);
    show->projectIO().loadProject(second);
    ASSERT_TRUE(waitFor([&] { return recentFirst(second); }));
    EXPECT_EQ(show->project().banks[0].slots[0].name, "Second");
    EXPECT_FALSE(logged("プロジェクト読み込み: First.ktshow"));
}

TEST_F(ShowProject, ThePanelRefusesAnItemThatIsNotAPackage) {
    const fs::path other = folder.write("notes.txt", "x");
    dialogs.pathAnswers = {other};
    show->projectIO().openProject();
    const auto alert = dialogs.callsOf("alert").at(0);
    EXPECT_EQ(alert.texts.at(1), L("選択: ", "Selected: ") + "notes.txt");
    loop.runPending();
    EXPECT_FALSE(show->currentProjectURL.get().has_value());

    const fs::path package = writePackage(named("Panel"), "Panel.KtShow");
    dialogs.pathAnswers = {package};
    show->projectIO().openProject();
    ASSERT_TRUE(waitFor([&] { return recentFirst(package); }));
    EXPECT_EQ(show->project().banks[0].slots[0].name, "Panel");
}

TEST_F(ShowProject, ClosingStopsTheOutputAndReturnsToTheDefaultProject) {
    const fs::path package = writePackage(named("Live"), "Live.ktshow");
    ASSERT_NO_FATAL_FAILURE(open(package));
    playback.setOnAir(0, 0);
    show->currentBank = 4;
    show->cursorSlot = 9;
    show->editLocked = true;
    show->isSelectMode = true;
    show->selectedSlots = std::set<int>{1, 2};
    show->slotClipboard = SlotLocation{0, 0};
    show->replacingSource = SlotLocation{0, 1};
    show->isSettingJumpTarget = true;
    show->bankClipboard = 3;
    edit();

    dialogs.alertAnswers = {1};  // Cancel
    show->projectIO().closeProject();
    EXPECT_EQ(show->currentProjectURL.get(), package);
    // Closing loses what is unsaved: Return must not close, Escape cancels.
    using Role = platform::DialogPresenter::ButtonRole;
    EXPECT_EQ(dialogs.calls.back().roles, (std::vector<Role>{Role::destructive, Role::cancel}));
    EXPECT_TRUE(playback.callsStartingWith("clearSurface").empty());

    dialogs.alertAnswers = {0};
    show->projectIO().closeProject();
    // The surface is cleared and the controller lets go of the clip on air.
    EXPECT_EQ(playback.callsStartingWith("clearSurface").size(), 1u);
    EXPECT_EQ(playback.callsStartingWith("postRoll black").size(), 1u);
    EXPECT_FALSE(playback.currentBankIndex().get().has_value());
    EXPECT_TRUE(logged("[LAYER] stopAll"));
    EXPECT_EQ(show->project().banks[0].slots[0].name, "001");
    EXPECT_FALSE(show->currentProjectURL.get().has_value());
    EXPECT_EQ(show->currentBank.get(), 0);
    EXPECT_EQ(show->cursorSlot.get(), 0);
    EXPECT_FALSE(show->editLocked.get());
    EXPECT_FALSE(show->isSelectMode.get());
    EXPECT_TRUE(show->selectedSlots.get().empty());
    EXPECT_FALSE(show->slotClipboard.get().has_value());
    EXPECT_FALSE(show->replacingSource.get().has_value());
    EXPECT_FALSE(show->isSettingJumpTarget.get());
    EXPECT_FALSE(show->bankClipboard.get().has_value());
    EXPECT_TRUE(show->hasUnsavedChanges.get());  // not reset by a close
    EXPECT_FALSE(playback.logFile.has_value());
    ASSERT_FALSE(playback.logLines.empty());
    EXPECT_EQ(playback.logLines.back(), "プロジェクトを閉じました");
}

TEST_F(ShowProject, ACloseDropsAPackageStillBeingRead) {
    const fs::path package = writePackage(named("Late"), "Late.ktshow");
    show->projectIO().loadProject(package);
    dialogs.alertAnswers = {0};
    show->projectIO().closeProject();
    // The disk worker runs jobs in order: once a save asked for after the close is done, the
    // read's answer has been taken (and dropped).
    dialogs.pathAnswers = {folder / "After"};
    show->projectIO().saveProjectAs();
    ASSERT_TRUE(waitFor([&] { return recentFirst(folder / "After.ktshow"); }));
    EXPECT_EQ(show->project().banks[0].slots[0].name, "001");
    EXPECT_FALSE(logged("プロジェクト読み込み: Late.ktshow"));
}

}  // namespace
}  // namespace kestio::test
