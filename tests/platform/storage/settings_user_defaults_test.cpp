#include "platform/storage/settings_user_defaults.h"

#include <gtest/gtest.h>

#include <fstream>
#include <stdexcept>

#include "platform/runloop/console.h"

#include "platform/storage/forked_child.h"
#include "support/temporary_folder.h"

namespace kestio::platform {
namespace {

using kestio::test::runInChild;
using kestio::test::ScopedEnvironment;
using kestio::test::TemporaryFolder;

class SettingsUserDefaultsTest : public ::testing::Test {
  protected:
    TemporaryFolder folder;
    std::filesystem::path file = folder / "Kestio" / "Kestio.ini";
};

TEST_F(SettingsUserDefaultsTest, EveryKindReadsBackWithItsValueInANewInstance) {
    const std::vector<std::string> strings = {"",           "plain",           "a,b",
                                              "@Invalid()", "日本語 テキスト", "line\nbreak",
                                              "=x;#y\"z",   "  spaced  "};
    Bytes allBytes;
    for (int i = 0; i < 256; ++i) {
        allBytes.push_back(static_cast<std::uint8_t>(i));
    }
    const UIntMapMap bindings = {{"cutGo", {{"keyCode", 49}, {"modifiers", 0}}},
                                 {"big", {{"max", UINT64_MAX}}},
                                 {"empty", {}}};
    {
        SettingsUserDefaults defaults(file);
        for (std::size_t i = 0; i < strings.size(); ++i) {
            defaults.setString("s" + std::to_string(i), strings[i]);
        }
        defaults.setData("data", allBytes);
        defaults.setData("emptyData", {});
        defaults.setStringList("list", {"one", "two, three", ""});
        defaults.setStringList("single", {"only"});
        defaults.setStringList("none", {});
        defaults.setUIntMapMap("bindings", bindings);
        defaults.setUIntMapMap("noBindings", {});
    }
    SettingsUserDefaults reopened(file);
    for (std::size_t i = 0; i < strings.size(); ++i) {
        EXPECT_EQ(reopened.string("s" + std::to_string(i)), strings[i]) << i;
    }
    EXPECT_EQ(reopened.data("data"), allBytes);
    EXPECT_EQ(reopened.data("emptyData"), Bytes{});
    EXPECT_EQ(reopened.stringList("list"), (std::vector<std::string>{"one", "two, three", ""}));
    EXPECT_EQ(reopened.stringList("single"), std::vector<std::string>{"only"});
    EXPECT_EQ(reopened.stringList("none"), std::vector<std::string>{});
    EXPECT_EQ(reopened.uintMapMap("bindings"), bindings);
    EXPECT_EQ(reopened.uintMapMap("noBindings"), UIntMapMap{});
}

TEST_F(SettingsUserDefaultsTest, AValueOfAnotherKindReadsAsNoValue) {
    SettingsUserDefaults defaults(file);
    defaults.setString("s", "only");
    defaults.setData("d", {'o', 'n', 'l', 'y'});
    defaults.setStringList("l", {"only"});
    defaults.setUIntMapMap("m", {{"only", {{"x", 1}}}});
    SettingsUserDefaults reopened(file);
    for (UserDefaults* store :
         {static_cast<UserDefaults*>(&defaults), static_cast<UserDefaults*>(&reopened)}) {
        EXPECT_TRUE(store->contains("s") && store->contains("d") && store->contains("l") &&
                    store->contains("m"));
        EXPECT_FALSE(store->data("s") || store->stringList("s") || store->uintMapMap("s"));
        EXPECT_FALSE(store->string("d") || store->stringList("d") || store->uintMapMap("d"));
        EXPECT_FALSE(store->string("l") || store->data("l") || store->uintMapMap("l"));
        EXPECT_FALSE(store->string("m") || store->data("m") || store->stringList("m"));
        EXPECT_FALSE(store->contains("missing") || store->string("missing"));
    }
}

TEST_F(SettingsUserDefaultsTest, OverwriteAndRemoveAreKept) {
    {
        SettingsUserDefaults defaults(file);
        defaults.setString("k", "text");
        defaults.setData("k", {1, 2});
        defaults.setString("gone", "x");
        defaults.remove("gone");
        defaults.remove("neverThere");
    }
    SettingsUserDefaults reopened(file);
    EXPECT_EQ(reopened.data("k"), (Bytes{1, 2}));
    EXPECT_FALSE(reopened.string("k"));
    EXPECT_FALSE(reopened.contains("gone"));
}

TEST_F(SettingsUserDefaultsTest, HandEditedValuesThatFitNoKindReadAsNoValue) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file) << "[General]\n"
                           "nativeList=a, b\n"
                           "number=42\n"
                           "invalid=@Invalid()\n"
                           "garbage=@Variant(\\0\\0\\0\\x7f)\n";
    SettingsUserDefaults defaults(file);
    EXPECT_EQ(defaults.string("number"), "42");  // INI has no numbers: it is text
    EXPECT_FALSE(defaults.stringList("nativeList"));
    EXPECT_FALSE(defaults.string("nativeList"));
    EXPECT_FALSE(defaults.uintMapMap("number"));
    EXPECT_FALSE(defaults.string("invalid") || defaults.data("invalid"));
    EXPECT_FALSE(defaults.uintMapMap("garbage") || defaults.stringList("garbage"));
}

TEST_F(SettingsUserDefaultsTest, AMapWithAWrongInnerKindReadsAsNoValue) {
    {
        QSettings raw(QString::fromStdString(file.string()), QSettings::IniFormat);
        raw.setValue("signedNumbers",
                     QVariantMap{{"uintMapMap", QVariantMap{{"a", QVariantMap{{"x", -1}}}}}});
        raw.setValue("flatMap", QVariantMap{{"uintMapMap", QVariantMap{{"a", 1u}}}});
        raw.setValue("twoTags",
                     QVariantMap{{"stringList", QStringList{"a"}}, {"uintMapMap", QVariantMap{}}});
    }
    SettingsUserDefaults defaults(file);
    EXPECT_FALSE(defaults.uintMapMap("signedNumbers"));
    EXPECT_FALSE(defaults.uintMapMap("flatMap"));
    EXPECT_FALSE(defaults.uintMapMap("twoTags") || defaults.stringList("twoTags"));
}

TEST_F(SettingsUserDefaultsTest, DefaultFileFollowsTheXdgConfigFolder) {
    ScopedEnvironment xdg("XDG_CONFIG_HOME", folder.path().string());
    EXPECT_EQ(SettingsUserDefaults::defaultFile(), folder / "Kestio" / "Kestio.ini");
}

TEST_F(SettingsUserDefaultsTest, TheStandardStoreSurvivesARestartOfTheProcess) {
    ScopedEnvironment xdg("XDG_CONFIG_HOME", folder.path().string());
    // Each child is a process of its own with a fresh standard store.
    auto writer = runInChild([] {
        UserDefaults::standard().setString("appLanguage", "en");
        UserDefaults::standard().setStringList("names", {"a", "b"});
        UserDefaults::standard().setUIntMapMap("keys", {{"go", {{"keyCode", 49}}}});
    });
    ASSERT_TRUE(writer.exited && writer.code == 0);
    ASSERT_TRUE(std::filesystem::exists(folder / "Kestio" / "Kestio.ini"));
    auto reader = runInChild([] {
        auto& d = UserDefaults::standard();
        if (d.string("appLanguage") != "en" ||
            d.stringList("names") != std::vector<std::string>{"a", "b"} ||
            d.uintMapMap("keys") != UIntMapMap{{"go", {{"keyCode", 49}}}}) {
            throw std::runtime_error("lost");
        }
    });
    EXPECT_TRUE(reader.exited && reader.code == 0);
}

TEST_F(SettingsUserDefaultsTest, AnUnwritableFileIsReportedOnceAndValuesStayReadable) {
    std::ofstream(folder / "notAFolder") << "x";
    Console::Capture console;
    SettingsUserDefaults defaults(folder / "notAFolder" / "Kestio.ini");
    defaults.setString("a", "1");
    defaults.setString("b", "2");
    EXPECT_EQ(defaults.string("a"), "1");
    EXPECT_EQ(console.lines().size(), 1u);
}

}  // namespace
}  // namespace kestio::platform
