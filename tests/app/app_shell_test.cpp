// The application shell: the quit confirmation (a save that fails or is cancelled keeps the
// application running), the menus in both languages and documents opened from outside.

#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <filesystem>

#include "app/app_menus.h"
#include "app/open_url.h"
#include "app_fixture.h"
#include "model/localization_manager.h"
#include "platform/storage/user_defaults.h"
#include "ui/ui_test_support.h"

namespace kestio::test {
namespace {

namespace fs = std::filesystem;
using app::AppDelegate;
using Reply = AppDelegate::Reply;

class AppShell : public AppFixture {
  protected:
    void SetUp() override {
        setLanguage(AppLanguage::en);
        wiring.onAppearSetup();
    }
    void TearDown() override { setLanguage(AppLanguage::ja); }

    // Asks to quit and runs the loop until the reply came (the save's disk work may take a
    // while); none when there was no reply.
    std::optional<Reply> quit() {
        std::optional<Reply> reply;
        delegate.confirmQuit([&](Reply r) {
            EXPECT_FALSE(reply.has_value()) << "answered twice";
            reply = r;
        });
        waitFor([&] { return reply.has_value(); });
        return reply;
    }
    std::size_t quitQuestions() const {
        std::size_t n = 0;
        for (const auto& call : dialogs.callsOf("alert")) {
            n += call.texts.at(0) == "Quit?";
        }
        return n;
    }
};

TEST_F(AppShell, QuitWithoutProjectQuitsWithoutAsking) {
    EXPECT_EQ(quit(), Reply::terminateNow);
    EXPECT_EQ(quitQuestions(), 0u);
}

TEST_F(AppShell, QuitWithALocationAsksEvenWhenSaved) {
    const fs::path package = writePackage(ProjectData(4, 10), "Show.ktshow");
    open(package);
    ASSERT_FALSE(show->hasUnsavedChanges.get());
    dialogs.alertAnswers = {1};  // Don't Save
    EXPECT_EQ(quit(), Reply::terminateNow);
    ASSERT_EQ(quitQuestions(), 1u);
    const auto call = dialogs.lastOf("alert");
    EXPECT_EQ(call.texts.at(1), "Do you want to save the project before quitting?");
    EXPECT_EQ(call.buttons, (std::vector<std::string>{"Save and Quit", "Don't Save", "Cancel"}));
}

TEST_F(AppShell, CancelOrDismissKeepsRunningAndALaterQuitAsksAgain) {
    show->deleteClip(0, 0);  // any edit: unsaved changes
    ASSERT_TRUE(delegate.hasOpenProject);
    for (const int answer : {2, -1}) {
        dialogs.alertAnswers = {answer};
        EXPECT_EQ(quit(), Reply::terminateCancel) << answer;
    }
    EXPECT_EQ(quitQuestions(), 2u);
    EXPECT_TRUE(show->hasUnsavedChanges.get());
}

TEST_F(AppShell, SaveAndQuitQuitsOnceThePackageIsWritten) {
    const fs::path package = writePackage(ProjectData(4, 10), "Show.ktshow");
    open(package);
    show->renameBank(0);  // no text answer queued: nothing renamed
    show->deleteClip(0, 3);
    ASSERT_TRUE(show->hasUnsavedChanges.get());
    fs::remove(package / "data.json");
    dialogs.alertAnswers = {0};
    EXPECT_EQ(quit(), Reply::terminateNow);
    EXPECT_TRUE(fs::exists(package / "data.json")) << "quit before the package was written";
    EXPECT_FALSE(show->hasUnsavedChanges.get());
}

TEST_F(AppShell, SaveAndQuitWithACancelledSavePanelKeepsRunning) {
    show->deleteClip(0, 3);
    dialogs.alertAnswers = {0};
    // No path queued: the save panel is cancelled.
    EXPECT_EQ(quit(), Reply::terminateCancel);
    EXPECT_EQ(dialogs.callsOf("savePackage").size(), 1u);
    EXPECT_TRUE(show->hasUnsavedChanges.get());
    EXPECT_TRUE(delegate.hasOpenProject);
}

TEST_F(AppShell, SaveAndQuitWhoseWriteFailsKeepsRunningWithTheProject) {
    // A package path under a plain file cannot be written, even by root.
    const fs::path blocker = folder / "blocker";
    std::ofstream(blocker) << "x";
    dialogs.pathAnswers = {blocker / "Show.ktshow"};
    project().banks[2].name = "Encore";
    show->deleteClip(0, 3);
    dialogs.alertAnswers = {0};
    EXPECT_EQ(quit(), Reply::terminateCancel);
    EXPECT_TRUE(alerted("Save Failed"));
    EXPECT_EQ(show->project().banks[2].name, "Encore");
    EXPECT_TRUE(show->hasUnsavedChanges.get());
    EXPECT_FALSE(show->currentProjectURL.get().has_value());
}

TEST_F(AppShell, SaveAndQuitWithNobodyToSaveKeepsRunning) {
    platform::NotificationCenter silent;
    AppDelegate lonely(dialogs, silent);
    lonely.hasOpenProject = true;
    dialogs.alertAnswers = {0};
    std::optional<Reply> reply;
    lonely.confirmQuit([&](Reply r) { reply = r; });
    EXPECT_EQ(reply, Reply::terminateCancel);
}

TEST_F(AppShell, TheQuitQuestionFollowsTheLanguage) {
    setLanguage(AppLanguage::ja);
    show->deleteClip(0, 3);
    dialogs.alertAnswers = {2};
    quit();
    const auto call = dialogs.lastOf("alert");
    EXPECT_EQ(call.texts.at(0), "終了しますか？");
    EXPECT_EQ(call.texts.at(1), "プロジェクトを保存してから終了しますか？");
    EXPECT_EQ(call.buttons,
              (std::vector<std::string>{"保存して終了", "保存せず終了", "キャンセル"}));
}

TEST(OpenURL, OnlyProjectPackagesArePostedInAnyLetterCase) {
    platform::NotificationCenter center;
    std::vector<fs::path> posted;
    auto observer = center.addObserver(app::kOpenProjectURLNotification,
                                       [&](const platform::Notification& note) {
                                           posted.push_back(std::any_cast<fs::path>(note.object));
                                       });
    const std::pair<const char*, bool> cases[] = {
        {"/shows/Show.ktshow", true}, {"/shows/Show.KTSHOW", true},
        {"Show.KtShow", true},        {"/shows/a.json", false},
        {"/shows/ktshow", false},     {"/shows/Show.ktshow.bak", false},
    };
    for (const auto& [path, accepted] : cases) {
        EXPECT_EQ(app::handleOpenURL(center, path), accepted) << path;
    }
    EXPECT_EQ(posted,
              (std::vector<fs::path>{"/shows/Show.ktshow", "/shows/Show.KTSHOW", "Show.KtShow"}));
}

class AppMenusTest : public ::testing::Test {
  protected:
    void TearDown() override { setLanguage(AppLanguage::ja); }

    static QStringList texts(QMenu* menu) {
        QStringList out;
        for (QAction* action : menu->actions()) {
            out << (action->isSeparator() ? QStringLiteral("---") : action->text());
        }
        return out;
    }

    QMenuBar bar;
    int keyBindings = 0, warmUps = 0, quits = 0;
    app::AppMenus menus{bar, LocalizationManager::shared(),
                        app::AppMenus::Actions{[this] { ++keyBindings; }, [this] { ++warmUps; },
                                               [this] { ++quits; }}};
};

TEST_F(AppMenusTest, ItemsFollowTheLanguageAndTheLanguageMenuStaysFixed) {
    setLanguage(AppLanguage::en);
    EXPECT_EQ(texts(menus.applicationMenu()),
              (QStringList{"Key Bindings...", "---", "Run Warm-Up...", "---", "Quit Kestio"}));
    EXPECT_EQ(menus.languageMenu()->title(), "Language");
    EXPECT_EQ(texts(menus.languageMenu()), (QStringList{"日本語", "✓ English"}));

    setLanguage(AppLanguage::ja);
    EXPECT_EQ(texts(menus.applicationMenu()).mid(0, 3),
              (QStringList{"キーバインド設定...", "---", "ウォームアップを実行..."}));
    EXPECT_EQ(menus.languageMenu()->title(), "Language");
    EXPECT_EQ(texts(menus.languageMenu()), (QStringList{"✓ 日本語", "English"}));
}

TEST_F(AppMenusTest, ChoosingALanguageStoresItAndMovesTheCheckMark) {
    setLanguage(AppLanguage::ja);
    menus.languageAction(AppLanguage::en)->trigger();
    EXPECT_EQ(LocalizationManager::shared().language.get(), AppLanguage::en);
    EXPECT_EQ(platform::UserDefaults::standard().string("appLanguage"), "en");
    EXPECT_EQ(menus.languageAction(AppLanguage::en)->text(), "✓ English");
    // Choosing the current one again keeps the mark where it is.
    menus.languageAction(AppLanguage::en)->trigger();
    EXPECT_EQ(menus.languageAction(AppLanguage::en)->text(), "✓ English");
    EXPECT_EQ(menus.languageAction(AppLanguage::ja)->text(), "日本語");
}

TEST_F(AppMenusTest, CommandsAndShortcutsReachTheirActions) {
    menus.keyBindingsAction()->trigger();
    menus.keyBindingsAction()->trigger();
    menus.warmUpAction()->trigger();
    menus.quitAction()->trigger();
    EXPECT_EQ(keyBindings, 2);
    EXPECT_EQ(warmUps, 1);
    EXPECT_EQ(quits, 1);
    EXPECT_TRUE(menus.keyBindingsAction()->shortcuts().contains(
        QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Comma)));
    EXPECT_EQ(menus.quitAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
}

}  // namespace
}  // namespace kestio::test
