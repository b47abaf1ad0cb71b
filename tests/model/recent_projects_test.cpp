#include "model/recent_projects.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "model/base64.h"
#include "support/temporary_folder.h"

namespace kestio {
namespace {

namespace fs = std::filesystem;
using kestio::test::TemporaryFolder;
using platform::BookmarkOption;
using platform::Bytes;
using platform::InMemoryUserDefaults;

class RecentProjectsTest : public ::testing::Test {
  protected:
    fs::path package(const std::string& name) {
        const fs::path p = folder / (name + ".ktshow");
        fs::create_directories(p);
        return p;
    }
    std::string storedText() const {
        const auto data = defaults.data("recentProjects");
        return data ? std::string(data->begin(), data->end()) : std::string("(none)");
    }
    std::vector<std::string> paths() const {
        std::vector<std::string> out;
        for (const auto& e : recents.load()) {
            out.push_back(fs::path(e.path).filename().string());
        }
        return out;
    }

    TemporaryFolder folder;
    InMemoryUserDefaults defaults;
    platform::BookmarkService bookmarks;
    RecentProjects recents{defaults, bookmarks};
};

TEST_F(RecentProjectsTest, AddingStoresACompactArrayWithABookmarkOfThePackage) {
    const fs::path show = package("Show");
    recents.add(show);
    const std::string text = storedText();
    EXPECT_EQ(text.find_first_of(" \n"), std::string::npos) << text;
    const auto json = nlohmann::json::parse(text);
    ASSERT_TRUE(json.is_array());
    ASSERT_EQ(json.size(), 1u);
    EXPECT_EQ(json[0]["path"], show.string());
    const auto bookmark = base64Decode(json[0]["bookmark"].get<std::string>());
    ASSERT_TRUE(bookmark);
    EXPECT_EQ(bookmarks.resolveBookmarkData(*bookmark, BookmarkOption::withSecurityScope).path,
              show);
    EXPECT_EQ(defaults.string("recentProjects"), std::nullopt);  // data, not text
}

TEST_F(RecentProjectsTest, TheListKeepsTheFiveNewestFirst) {
    for (const char* name : {"A", "B", "C", "D", "E", "F"}) {
        recents.add(package(name));
    }
    EXPECT_EQ(paths(), (std::vector<std::string>{"F.ktshow", "E.ktshow", "D.ktshow", "C.ktshow",
                                                 "B.ktshow"}));
}

TEST_F(RecentProjectsTest, AddingAListedPathMovesItFirstWithAFreshBookmark) {
    for (const char* name : {"A", "B", "C", "D", "E"}) {
        recents.add(package(name));
    }
    const auto before = recents.load();
    // The package was replaced since: its new bookmark must find the new folder unchanged.
    fs::remove_all(folder / "C.ktshow");
    package("C");
    recents.add(folder / "C.ktshow/");
    const auto after = recents.load();
    EXPECT_EQ(paths(), (std::vector<std::string>{"C.ktshow", "E.ktshow", "D.ktshow", "B.ktshow",
                                                 "A.ktshow"}));
    ASSERT_TRUE(after[0].bookmark);
    EXPECT_FALSE(bookmarks.resolveBookmarkData(*after[0].bookmark, BookmarkOption::none).isStale);
    EXPECT_EQ(after[1], before[0]);
}

TEST_F(RecentProjectsTest, PathsDifferingInLetterCaseAreSeparateEntries) {
    recents.add(package("show"));
    recents.add(package("Show"));
    EXPECT_EQ(paths(), (std::vector<std::string>{"Show.ktshow", "show.ktshow"}));
}

TEST_F(RecentProjectsTest, APackageWithoutABookmarkIsStoredWithoutTheKey) {
    recents.add(folder / "Gone.ktshow");  // no such folder: no bookmark can be made
    const auto json = nlohmann::json::parse(storedText());
    EXPECT_FALSE(json[0].contains("bookmark"));
    const auto entries = recents.load();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0], (RecentProjectEntry{(folder / "Gone.ktshow").string(), std::nullopt}));
}

TEST_F(RecentProjectsTest, AStoredValueThatDoesNotReadLoadsEmptyAndStaysUntilTheNextAdd) {
    const std::vector<std::string> unreadable = {
        "not json",
        "{\"path\":\"/a\"}",
        "[{\"path\":\"/a\"},{\"bookmark\":\"AAAA\"}]",
        "[{\"path\":\"/a\",\"bookmark\":\"not base64!\"}]",
        "[{\"path\":7}]",
        "[\"/a\"]",
        std::string(1000, '['),
    };
    for (const auto& text : unreadable) {
        defaults.setData("recentProjects", Bytes(text.begin(), text.end()));
        EXPECT_TRUE(recents.load().empty()) << text;
        EXPECT_EQ(storedText(), text);
    }
    defaults.setString("recentProjects", "[]");  // text instead of data
    EXPECT_TRUE(recents.load().empty());
    recents.add(package("New"));
    EXPECT_EQ(paths(), std::vector<std::string>{"New.ktshow"});
}

TEST_F(RecentProjectsTest, ANullBookmarkAndUnknownMembersAreAccepted) {
    const std::string text =
        "[{\"path\":\"/shows/A.ktshow\",\"bookmark\":null,\"extra\":1},"
        "{\"path\":\"/shows/B.ktshow\",\"bookmark\":\"AQID\"}]";
    defaults.setData("recentProjects", Bytes(text.begin(), text.end()));
    EXPECT_EQ(recents.load(),
              (std::vector<RecentProjectEntry>{{"/shows/A.ktshow", std::nullopt},
                                               {"/shows/B.ktshow", Bytes{1, 2, 3}}}));
}

TEST_F(RecentProjectsTest, SavingReplacesTheListAndAnUnencodableListRemovesIt) {
    recents.add(package("A"));
    recents.save({});
    EXPECT_EQ(storedText(), "[]");
    recents.save({{"/x/A.ktshow", Bytes{9}}});
    EXPECT_EQ(recents.load(), (std::vector<RecentProjectEntry>{{"/x/A.ktshow", Bytes{9}}}));
    recents.save({{std::string("/x/\xff.ktshow"), std::nullopt}});
    EXPECT_FALSE(defaults.contains("recentProjects"));
}

TEST_F(RecentProjectsTest, APathThatIsNotUtf8IsNotListedAndTheListIsKept) {
    recents.add(package("A"));
    const std::string before = storedText();
    recents.add(package("\xff\xfe"));
    EXPECT_EQ(storedText(), before);
}

}  // namespace
}  // namespace kestio
