// The project toolbar and its Recent Projects menu.

#include <gtest/gtest.h>

#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include "app/project_toolbar.h"
#include "app/recent_projects_menu.h"
#include "side_panel_fixture.h"

namespace kestio::app {
namespace {

using test::near;
using test::setLanguage;

TEST(ProjectToolbarText, NameKeepsInnerDots) {
    EXPECT_EQ(projectDisplayName(std::nullopt), std::nullopt);
    EXPECT_EQ(projectDisplayName(std::filesystem::path("/shows/My.Show.ktshow")), "My.Show");
    EXPECT_EQ(projectDisplayName(std::filesystem::path("/shows/Plain.ktshow/")), "Plain");
    EXPECT_EQ(projectDisplayName(std::filesystem::path("/shows/NoExtension")), "NoExtension");
}

TEST(ProjectToolbarText, SaveColour) {
    EXPECT_EQ(saveTitleColor(true, true), ui::palette::red());
    EXPECT_EQ(saveTitleColor(true, false), ui::palette::white(0.5));
    EXPECT_EQ(saveTitleColor(false, true), ui::palette::white(0.5));
    EXPECT_EQ(saveTitleColor(false, false), ui::palette::white(0.5));
}

class ProjectToolbarTest : public test::SidePanelFixture {
  protected:
    std::vector<std::filesystem::path> loaded;
    ProjectToolbar toolbar{*show,
                           {recentProjects, bookmarks, dialogs,
                            [this](const std::filesystem::path& p) { loaded.push_back(p); }},
                           QSize(426, 80)};

    QColor titleColor(QAbstractButton* button) {
        return button->palette().color(QPalette::ButtonText);
    }
};

TEST_F(ProjectToolbarTest, NoProjectState) {
    show->hasUnsavedChanges = true;
    EXPECT_EQ(toolbar.nameText(), "No Project");
    EXPECT_FALSE(toolbar.closeButton()->isEnabled());
    EXPECT_FALSE(toolbar.relinkButton()->isEnabled());
    EXPECT_EQ(titleColor(toolbar.saveButton()), ui::palette::white(0.5));
    EXPECT_EQ(titleColor(toolbar.closeButton()), ui::palette::white(0.4));
    for (QAbstractButton* b : {static_cast<QAbstractButton*>(toolbar.openButton()),
                               static_cast<QAbstractButton*>(toolbar.saveButton()),
                               static_cast<QAbstractButton*>(toolbar.saveAsButton()),
                               static_cast<QAbstractButton*>(toolbar.helpButton()),
                               static_cast<QAbstractButton*>(toolbar.recentButton())}) {
        EXPECT_TRUE(b->isEnabled());
    }
    shots(toolbar, "project_toolbar_no_project");
    setLanguage(AppLanguage::ja);
    EXPECT_EQ(toolbar.nameText(), "プロジェクト未読み込み");
    EXPECT_EQ(toolbar.openButton()->text(), "開く");
}

TEST_F(ProjectToolbarTest, OpenProjectWithUnsavedChanges) {
    show->currentProjectURL = folder / "Spring.Gala.ktshow";
    show->hasUnsavedChanges = true;
    EXPECT_EQ(toolbar.nameText(), "Spring.Gala");
    EXPECT_TRUE(toolbar.closeButton()->isEnabled());
    EXPECT_TRUE(toolbar.relinkButton()->isEnabled());
    EXPECT_EQ(titleColor(toolbar.saveButton()), ui::palette::red());
    const QImage image = shots(toolbar, "project_toolbar_unsaved");
    // The name row's grey, left of the name.
    EXPECT_TRUE(near(image.pixelColor(3, 15), ui::palette::white(0.22)));
}

TEST_F(ProjectToolbarTest, LoadingShowsForceResetThatOnlyClearsTheFlag) {
    show->isLoading = true;
    EXPECT_EQ(toolbar.statusText(), "LOADING (drag & drop disabled)");
    EXPECT_FALSE(toolbar.forceResetButton()->isHidden());
    const QImage image = shots(toolbar, "project_toolbar_loading");
    EXPECT_TRUE(near(image.pixelColor(12, 31 + 4 + 7), ui::palette::orange(), 30));
    QTest::mouseClick(toolbar.forceResetButton(), Qt::LeftButton);
    EXPECT_FALSE(show->isLoading.get());
    EXPECT_EQ(toolbar.statusText(), "READY");
    EXPECT_TRUE(toolbar.forceResetButton()->isHidden());
    setLanguage(AppLanguage::ja);
    EXPECT_EQ(toolbar.statusText(), "準備完了");
}

TEST_F(ProjectToolbarTest, SaveKeepsFlagOnFailure) {
    // No location and the save panel cancelled: nothing was saved, so the mark stays.
    show->hasUnsavedChanges = true;
    dialogs.pathAnswers.push_back(std::nullopt);
    QTest::mouseClick(toolbar.saveButton(), Qt::LeftButton);
    EXPECT_EQ(dialogs.callsOf("savePackage").size(), 1u);
    EXPECT_TRUE(show->hasUnsavedChanges.get());

    // A save into a package that cannot be written: the alert, and the mark stays.
    const auto blocked = folder.write("Blocked.ktshow", "a file where the package should be");
    show->currentProjectURL = blocked;
    QTest::mouseClick(toolbar.saveButton(), Qt::LeftButton);
    waitFor([&] { return !dialogs.callsOf("alert").empty(); });
    EXPECT_TRUE(show->hasUnsavedChanges.get());
    EXPECT_EQ(titleColor(toolbar.saveButton()), ui::palette::red());

    // A save that succeeds clears it.
    show->currentProjectURL = folder / "Good.ktshow";
    QTest::mouseClick(toolbar.saveButton(), Qt::LeftButton);
    EXPECT_TRUE(waitFor([&] { return !show->hasUnsavedChanges.get(); }));
}

TEST_F(ProjectToolbarTest, ButtonsCallTheShowsOperations) {
    dialogs.pathAnswers.push_back(std::nullopt);  // Open's panel, cancelled
    QTest::mouseClick(toolbar.openButton(), Qt::LeftButton);
    EXPECT_EQ(dialogs.callsOf("openPackage").size(), 1u);
    dialogs.pathAnswers.push_back(std::nullopt);  // Save As, cancelled
    QTest::mouseClick(toolbar.saveAsButton(), Qt::LeftButton);
    EXPECT_EQ(dialogs.callsOf("savePackage").size(), 1u);
    QTest::mouseClick(toolbar.helpButton(), Qt::LeftButton);
    EXPECT_EQ(dialogs.helpPanelToggles, 1);
    show->currentProjectURL = folder / "Show.ktshow";
    dialogs.pathAnswers.push_back(std::nullopt);  // Relink's folder panel, cancelled
    QTest::mouseClick(toolbar.relinkButton(), Qt::LeftButton);
    EXPECT_EQ(dialogs.callsOf("openFolder").size(), 1u);
    // Close asks first; the question dismissed keeps the project.
    QTest::mouseClick(toolbar.closeButton(), Qt::LeftButton);
    EXPECT_EQ(dialogs.callsOf("alert").size(), 1u);
    EXPECT_EQ(show->currentProjectURL.get(), folder / "Show.ktshow");
}

class RecentMenuTest : public test::SidePanelFixture {
  protected:
    std::vector<std::filesystem::path> loaded;
    RecentProjectsMenuModel menu{{recentProjects, bookmarks, dialogs,
                                  [this](const std::filesystem::path& p) { loaded.push_back(p); }}};

    std::vector<std::string> texts() {
        std::vector<std::string> out;
        for (const PanelMenuEntry& e : menu.entries()) {
            out.push_back(e.kind == PanelMenuEntry::Kind::separator ? "-" : e.text);
        }
        return out;
    }
    std::filesystem::path package(const std::string& name) {
        std::filesystem::create_directories(folder / name);
        return folder / name;
    }
};

TEST_F(RecentMenuTest, EmptyStoreShowsOneDisabledItem) {
    const auto entries = menu.entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].text, "No Recent Projects");
    EXPECT_FALSE(entries[0].enabled);
    setLanguage(AppLanguage::ja);
    EXPECT_EQ(texts(), std::vector<std::string>{"最近使ったプロジェクトはありません"});
}

TEST_F(RecentMenuTest, ListsTitlesAndClearListEmptiesTheStore) {
    recentProjects.save({{"/shows/A.b.ktshow", std::nullopt}, {"/shows/C.ktshow", std::nullopt}});
    EXPECT_EQ(texts(), (std::vector<std::string>{"A.b", "C", "-", "Clear List"}));
    menu.entries().back().action();
    EXPECT_TRUE(recentProjects.load().empty());
    EXPECT_EQ(texts(), std::vector<std::string>{"No Recent Projects"});
}

TEST_F(RecentMenuTest, ExistingOpensAndAMovedPackageOpensByItsBookmark) {
    const auto here = package("Here.ktshow");
    const auto moved = package("Before.ktshow");
    const auto bookmark = bookmarks.bookmarkData(moved);
    std::filesystem::rename(moved, folder / "After.ktshow");
    recentProjects.save({{here.string(), std::nullopt}, {moved.string(), bookmark}});
    auto entries = menu.entries();
    entries[0].action();
    entries[1].action();
    EXPECT_EQ(loaded, (std::vector<std::filesystem::path>{here, folder / "After.ktshow"}));
    EXPECT_TRUE(dialogs.callsOf("alert").empty());
}

TEST_F(RecentMenuTest, MissingPackageRemovesAllDuplicatesAfterTheAlert) {
    const auto other = package("Other.ktshow");
    const std::string gone = (folder / "Gone.ktshow").string();
    // Bytes that are no bookmark of ours: the stored path is used.
    recentProjects.save({{gone, std::vector<std::uint8_t>{1, 2, 3}},
                         {other.string(), std::nullopt},
                         {gone, std::nullopt}});
    std::size_t entriesDuringAlert = 0;
    dialogs.duringModal = [&] { entriesDuringAlert = recentProjects.load().size(); };
    menu.entries()[0].action();
    EXPECT_TRUE(loaded.empty());
    const auto alerts = dialogs.callsOf("alert");
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].texts.at(0), "Project Not Found");
    EXPECT_EQ(alerts[0].texts.at(1), "Gone.ktshow");
    EXPECT_EQ(entriesDuringAlert, 3u);  // removed only once the alert is answered
    EXPECT_EQ(recentProjects.load(),
              (std::vector<RecentProjectEntry>{{other.string(), std::nullopt}}));
}

TEST_F(RecentMenuTest, TheButtonRebuildsItsMenuEachTimeItOpens) {
    RecentProjectsButton button({recentProjects, bookmarks, dialogs, {}});
    button.rebuildMenu();
    EXPECT_EQ(button.menu()->actions().size(), 1);
    recentProjects.save({{"/x/A.ktshow", std::nullopt}});
    button.rebuildMenu();
    ASSERT_EQ(button.menu()->actions().size(), 3);
    EXPECT_EQ(button.menu()->actions()[0]->text(), "A");
    EXPECT_EQ(button.toolTip(), "Recent Projects");
}

}  // namespace
}  // namespace kestio::app
