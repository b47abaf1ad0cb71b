// Preferences written by one run of the application are there in the next run: each run is
// a forked process of its own using the standard stores under a temporary XDG config folder.

#include <gtest/gtest.h>

#include <stdexcept>

#include "model/localization_manager.h"
#include "model/recent_projects.h"
#include "platform/storage/forked_child.h"
#include "platform/storage/settings_user_defaults.h"
#include "support/temporary_folder.h"

namespace kestio {
namespace {

namespace fs = std::filesystem;
using kestio::test::runInChild;

void check(bool condition, const char* what) {
    if (!condition) {
        throw std::runtime_error(what);
    }
}

TEST(RestartPersistenceTest, LanguageRecentProjectsAndKeyValuesSurviveARestart) {
    kestio::test::TemporaryFolder folder;
    kestio::test::ScopedEnvironment xdg("XDG_CONFIG_HOME", (folder / "config").string());
    const fs::path show = folder / "Show.ktshow";
    fs::create_directories(show);

    const fs::path settingsFile = folder / "config" / "Kestio" / "Kestio.ini";
    auto firstRun = runInChild([&] {
        // The stores must be made in this run, not inherited from the test process.
        check(dynamic_cast<platform::SettingsUserDefaults&>(platform::UserDefaults::standard())
                      .file() == settingsFile,
              "standard store made before the test");
        check(LocalizationManager::shared().language.get() == AppLanguage::ja, "first language");
        check(L("日本語", "English") == "日本語", "first pick");
        LocalizationManager::shared().language = AppLanguage::en;
        RecentProjects::standard().add(show);
        platform::UserDefaults::standard().setUIntMapMap("playControlKeyBindings",
                                                         {{"cutGo", {{"keyCode", 49}}}});
    });
    ASSERT_TRUE(firstRun.exited && firstRun.code == 0);
    EXPECT_TRUE(fs::exists(settingsFile));

    auto secondRun = runInChild([&] {
        check(L("日本語", "English") == "English", "stored language");
        const auto recents = RecentProjects::standard().load();
        check(recents.size() == 1 && recents[0].path == show.string() && recents[0].bookmark,
              "recent list");
        check(platform::UserDefaults::standard().uintMapMap("playControlKeyBindings") ==
                  platform::UIntMapMap{{"cutGo", {{"keyCode", 49}}}},
              "key values");
    });
    EXPECT_TRUE(secondRun.exited && secondRun.code == 0);
}

}  // namespace
}  // namespace kestio
