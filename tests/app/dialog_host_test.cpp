// The main window's questions presented from the show state, one at a time, in order, with the
// effects of their buttons.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/dialog_host.h"
#include "app_fixture.h"
#include "show/show_import.h"
#include "show/slot_edits.h"
#include "ui/ui_test_support.h"

namespace kestio::test {
namespace {

namespace fs = std::filesystem;
using app::DialogHost;

class Dialogs : public AppFixture {
  protected:
    void SetUp() override { setLanguage(AppLanguage::en); }
    void TearDown() override { setLanguage(AppLanguage::ja); }

    // The titles of the alerts presented so far.
    std::vector<std::string> titles() const {
        std::vector<std::string> out;
        for (const auto& call : dialogs.callsOf("alert")) {
            out.push_back(call.texts.at(0));
        }
        return out;
    }

    int monitorStops = 0;
    DialogHost host{loop, *show, dialogs, [this] { ++monitorStops; }};
};

TEST_F(Dialogs, EveryQuestionHasItsTextsAndButtons) {
    using Role = platform::DialogPresenter::ButtonRole;
    struct Case {
        std::function<void()> raise;
        std::string title;
        std::string message;
        std::vector<std::string> buttons;
        // The destructive actions are never Return's; every Cancel is Escape's.
        std::vector<Role> roles;
    };
    const Case cases[] = {
        {[&] { show->showNoProjectAlert = true; },
         "No Project",
         "Please save the project with \"File Save\" before loading files.\nThis creates the "
         "folder used to store thumbnails.",
         {"Create with File Save", "Cancel"},
         {Role::none, Role::cancel}},
        {[&] { show->confirmClearBank = 2; },
         "Clear all contents of this BANK?",
         "",
         {"Clear", "Cancel"},
         {Role::destructive, Role::cancel}},
        {[&] { show->confirmUnassignBank = 0; },
         "Delete this clip?",
         "",
         {"Delete", "Cancel"},
         {Role::destructive, Role::cancel}},
        {[&] { show->importAlert = std::string("Unsupported file"); },
         "Import",
         "Unsupported file",
         {"OK"},
         {Role::none}},
        {[&] { show->confirmImportWhilePlaying = std::function<void()>([] {}); },
         "Playback in Progress",
         "Importing a file while something is playing may cause issues.\nImport anyway?",
         {"Import", "Cancel"},
         {Role::destructive, Role::cancel}},
        {[&] { show->confirmStopMonitor = true; },
         "Stop external monitor output?",
         "",
         {"Stop", "Cancel"},
         {Role::destructive, Role::cancel}},
        {[&] { show->confirmReWarmUp = true; },
         "Run warm-up?",
         "This will start the decoder for every slot.\nAny clip currently playing will be "
         "stopped.",
         {"Run", "Cancel"},
         {Role::none, Role::cancel}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        dialogs.calls.clear();
        dialogs.alertAnswers = {1};  // the second button (Cancel), or a dismissal for OK
        c.raise();
        loop.runPending();
        const auto alerts = dialogs.callsOf("alert");
        ASSERT_EQ(alerts.size(), 1u);
        EXPECT_EQ(alerts[0].texts.at(0), c.title);
        EXPECT_EQ(alerts[0].texts.at(1), c.message);
        EXPECT_EQ(alerts[0].buttons, c.buttons);
        EXPECT_EQ(alerts[0].roles, c.roles);
        EXPECT_FALSE(host.isPresenting());
    }
    // Every question was closed by its answer: nothing is presented again.
    dialogs.calls.clear();
    loop.runPending();
    EXPECT_TRUE(dialogs.callsOf("alert").empty());
    EXPECT_FALSE(show->importAlert.get().has_value());
}

// Files chosen for the first import into a show that has no package yet are imported once
// "Create with File Save" has saved it; cancelling the alert or the save panel drops them.
TEST_F(Dialogs, FilesChosenBeforeTheFirstSaveAreImportedAfterIt) {
    struct Case {
        const char* what;
        int alertAnswer;
        std::optional<fs::path> saveAnswer;
        bool imported;
    };
    const Case cases[] = {
        {"alert cancelled", 1, std::nullopt, false},
        {"save panel cancelled", 0, std::nullopt, false},
        {"saved", 0, folder / "First", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        show->currentProjectURL = std::nullopt;
        importer.requests.clear();
        dialogs.calls.clear();
        const fs::path clip = media("clips/" + std::string(c.what) + ".mp4");
        dialogs.filesAnswers = {{clip}};
        dialogs.alertAnswers = {c.alertAnswer};
        dialogs.pathAnswers = {c.saveAnswer};
        show->assignBank = 2;
        show->assignSlot = 5;
        show->showingFileImporter = true;
        loop.runPending();
        EXPECT_EQ(titles(), std::vector<std::string>{"No Project"});
        if (c.imported) {
            ASSERT_TRUE(waitFor([&] { return slot(2, 5).videoURL == clip; }));
            EXPECT_EQ(show->currentProjectURL.get(), folder / "First.ktshow");
        } else {
            // Neither answer leaves work on the disk: nothing comes later.
            loop.runPending();
            loop.runPending();
            EXPECT_EQ(importer.requestCount("importMeta"), 0u);
            EXPECT_FALSE(slot(2, 5).videoURL.has_value());
        }
    }
}

TEST_F(Dialogs, JapaneseTexts) {
    setLanguage(AppLanguage::ja);
    show->confirmReWarmUp = true;
    loop.runPending();
    const auto call = dialogs.callsOf("alert").at(0);
    EXPECT_EQ(call.texts.at(0), "ウォームアップを実行しますか？");
    EXPECT_EQ(call.texts.at(1),
              "全スロットのデコーダを起動します。\n再生中のクリップは停止します。");
    EXPECT_EQ(call.buttons, (std::vector<std::string>{"実行", "キャンセル"}));
}

TEST_F(Dialogs, QuestionsComeOneAtATimeInTheirOrder) {
    std::vector<std::string> openWhileOpen;
    dialogs.duringModal = [&] {
        // Raised while another question is open: waits for its turn.
        if (dialogs.calls.size() == 1) {
            show->importAlert = std::string("late");
        }
        loop.runPending();
        openWhileOpen.push_back(std::to_string(dialogs.calls.size()));
    };
    show->confirmReWarmUp = true;
    show->confirmStopMonitor = true;
    show->confirmClearBank = 4;
    loop.runPending();
    loop.runPending();
    EXPECT_EQ(titles(),
              (std::vector<std::string>{"Clear all contents of this BANK?", "Import",
                                        "Stop external monitor output?", "Run warm-up?"}));
    // Each question was alone on screen.
    EXPECT_EQ(openWhileOpen, (std::vector<std::string>{"1", "2", "3", "4"}));
}

// A file refused while the import alert is open is told in the next alert, alone.
TEST_F(Dialogs, ARefusalThatArrivesWhileTheImportAlertIsOpenIsShownAfterIt) {
    show->currentProjectURL = folder / "Show.ktshow";
    const fs::path bad = "/drop/late.mov";
    importer.probes[bad].outcome = ImportError::notPlayable(bad);
    dialogs.duringModal = [&] {
        if (dialogs.calls.size() == 1) {
            show->showImport().handleDrop({bad}, 0, 0);
            loop.runPending();
        }
    };
    show->importAlert = std::string("非対応形式: a.txt\n");
    loop.runPending();
    loop.runPending();
    const auto alerts = dialogs.callsOf("alert");
    ASSERT_EQ(alerts.size(), 2u);
    EXPECT_EQ(alerts[0].texts.at(1), "非対応形式: a.txt\n");
    EXPECT_EQ(alerts[1].texts.at(1), ImportError::notPlayable(bad).message());
    EXPECT_FALSE(show->importAlert.get().has_value());
}

TEST_F(Dialogs, ClearingTheLastBankNamesItsSlotsByTheirShowWideNumbers) {
    const fs::path package = folder / "Show.ktshow";
    fs::create_directories(package / "thumbnails");
    show->currentProjectURL = package;
    project().banks[19].name = "Finale";
    for (int s : {0, 17, 39}) {
        slot(19, s).name = "clip";
        slot(19, s).videoURL = "/media/clip.mov";
        std::ofstream(package / "thumbnails" / ("thumb_19_" + std::to_string(s) + ".png")) << "png";
    }
    std::ofstream(package / "thumbnails" / "thumb_18_0.png") << "png";
    show->hasUnsavedChanges = false;
    dialogs.alertAnswers = {0};
    show->confirmClearBank = 19;
    loop.runPending();

    const auto& bank = show->project().banks[19];
    EXPECT_EQ(bank.name, "BANK 20");
    ASSERT_EQ(bank.slots.size(), 40u);
    EXPECT_EQ(bank.slots.front().name, "761");
    EXPECT_EQ(bank.slots.back().name, "800");
    EXPECT_FALSE(bank.slots[17].videoURL.has_value());
    // The package keeps its files until the project is saved.
    const auto thumb = [&](int s) {
        return package / "thumbnails" / ("thumb_19_" + std::to_string(s) + ".png");
    };
    EXPECT_TRUE(fs::exists(thumb(0)) && fs::exists(thumb(17)) && fs::exists(thumb(39)));
    EXPECT_TRUE(fs::exists(package / "thumbnails" / "thumb_18_0.png"));
    EXPECT_TRUE(show->hasUnsavedChanges.get());
    EXPECT_FALSE(show->confirmClearBank.get().has_value());
    EXPECT_EQ(show->currentBank.get(), 0);
}

TEST_F(Dialogs, CancellingTheClearChangesNothing) {
    project().banks[1].name = "Kept";
    show->hasUnsavedChanges = false;
    dialogs.alertAnswers = {1};
    show->confirmClearBank = 1;
    loop.runPending();
    EXPECT_EQ(show->project().banks[1].name, "Kept");
    EXPECT_FALSE(show->hasUnsavedChanges.get());
    EXPECT_FALSE(show->confirmClearBank.get().has_value());
}

TEST_F(Dialogs, DeleteNeedsBothIndicesAndAlwaysClosesTheQuestion) {
    slot(0, 4).name = "keep";
    slot(0, 4).videoURL = "/media/a.mov";
    dialogs.alertAnswers = {0};
    show->confirmUnassignBank = 0;  // no slot index
    loop.runPending();
    EXPECT_EQ(show->project().banks[0].slots[4].name, "keep");
    EXPECT_FALSE(show->confirmUnassignBank.get().has_value());

    dialogs.alertAnswers = {0};
    show->confirmUnassignSlot = 4;
    show->confirmUnassignBank = 0;
    loop.runPending();
    EXPECT_FALSE(show->project().banks[0].slots[4].videoURL.has_value());
    EXPECT_FALSE(show->confirmUnassignBank.get().has_value());
    EXPECT_FALSE(show->confirmUnassignSlot.get().has_value());
}

TEST_F(Dialogs, TheImporterHandsItsFilesToTheDropOfItsTarget) {
    struct Case {
        std::optional<int> assignBank, assignSlot;
        int bank, slot;
    };
    const Case cases[] = {{std::nullopt, std::nullopt, 6, 0},
                          {2, std::nullopt, 2, 0},
                          {std::nullopt, 9, 6, 9},
                          {3, 12, 3, 12}};
    show->currentProjectURL = folder / "Show.ktshow";
    show->currentBank = 6;
    for (const auto& c : cases) {
        dialogs.calls.clear();
        show->assignBank = c.assignBank;
        show->assignSlot = c.assignSlot;
        playback.setOnAir(1, 1);  // something plays: the drop asks first
        dialogs.filesAnswers = {{media("a.mov"), media("b.png"), media("c.wav")}};
        dialogs.alertAnswers = {1};  // and is cancelled
        show->showingFileImporter = true;
        loop.runPending();
        ASSERT_EQ(dialogs.callsOf("openFiles").size(), 1u);
        EXPECT_FALSE(show->showingFileImporter.get());
        EXPECT_EQ(titles(), (std::vector<std::string>{"Playback in Progress"}));
        // The target is left as it was.
        EXPECT_EQ(show->assignBank.get(), c.assignBank);
    }
    const auto offered = dialogs.callsOf("openFiles").at(0).texts;
    for (const char* extension : {"mov", "mp4", "png", "heic", "wav", "mp3", "aiff"}) {
        EXPECT_NE(std::find(offered.begin(), offered.end(), extension), offered.end()) << extension;
    }
}

TEST_F(Dialogs, ACancelledImporterDoesNothingAndNoLocationAsksForOne) {
    dialogs.filesAnswers = {{}};
    show->showingFileImporter = true;
    loop.runPending();
    EXPECT_TRUE(titles().empty());

    dialogs.filesAnswers = {{media("a.mov")}};
    show->showingFileImporter = true;
    loop.runPending();
    EXPECT_EQ(titles(), (std::vector<std::string>{"No Project"}));
}

TEST_F(Dialogs, ImportWhilePlayingRunsThePendingImportOnlyOnImport) {
    int runs = 0;
    bool clearedFirst = false;
    const auto pending = [&] {
        ++runs;
        clearedFirst = !show->confirmImportWhilePlaying.get();
    };
    dialogs.alertAnswers = {1};
    show->confirmImportWhilePlaying = std::function<void()>(pending);
    loop.runPending();
    EXPECT_EQ(runs, 0);
    EXPECT_FALSE(show->confirmImportWhilePlaying.get());

    dialogs.alertAnswers = {0};
    show->confirmImportWhilePlaying = std::function<void()>(pending);
    loop.runPending();
    EXPECT_EQ(runs, 1);
    EXPECT_TRUE(clearedFirst);
}

TEST_F(Dialogs, ButtonsOfTheOtherQuestions) {
    dialogs.alertAnswers = {1, 0};
    show->confirmStopMonitor = true;
    loop.runPending();
    show->confirmStopMonitor = true;
    loop.runPending();
    EXPECT_EQ(monitorStops, 1);
    EXPECT_FALSE(show->confirmStopMonitor.get());

    dialogs.alertAnswers = {1};
    show->confirmReWarmUp = true;
    loop.runPending();
    EXPECT_FALSE(show->confirmReWarmUp.get());
    EXPECT_TRUE(playback.calls.empty()) << "a cancelled warm-up started something";

    dialogs.alertAnswers = {0};
    show->showNoProjectAlert = true;
    loop.runPending();
    EXPECT_FALSE(show->showNoProjectAlert.get());
    EXPECT_EQ(dialogs.callsOf("savePackage").size(), 1u);
}

}  // namespace
}  // namespace kestio::test
