// What the operator reads when a package cannot be opened: the path and the reason in his
// language, never the library's wording, for each way a package can be unreadable.

#include "model/project_load_failure.h"

#include <gtest/gtest.h>

#include <functional>

#include "model/project_manager.h"
#include "support/temporary_folder.h"

namespace kestio {
namespace {

namespace fs = std::filesystem;
using test::TemporaryFolder;

TEST(ProjectLoadFailure, SaysWhyWithThePathInTheOperatorsLanguage) {
    TemporaryFolder folder;
    platform::BookmarkService bookmarks;
    ProjectManager manager(bookmarks);
    struct Case {
        const char* what;
        std::function<fs::path()> make;
        const char* english;
        const char* japanese;
    };
    const Case cases[] = {
        {"missing", [&] { return folder / "Gone.ktshow"; }, "Nothing is at this location",
         "この場所には何もありません"},
        {"a plain file", [&] { return folder.write("Plain.ktshow", "text"); },
         "not a Kestio project package", "プロジェクトパッケージ（"},
        {"a folder without its document",
         [&] {
             fs::create_directories(folder / "Empty.ktshow");
             return folder / "Empty.ktshow";
         },
         "not a Kestio project package", "プロジェクトパッケージ（"},
        {"a damaged document",
         [&] {
             fs::create_directories(folder / "Broken.ktshow");
             folder.write("Broken.ktshow/data.json", "{\"banks\": [");
             return folder / "Broken.ktshow";
         },
         "data.json is damaged", "data.json が壊れている"},
        {"a document of another kind",
         [&] {
             fs::create_directories(folder / "Other.ktshow");
             folder.write("Other.ktshow/data.json", "[1, 2, 3]");
             return folder / "Other.ktshow";
         },
         "data.json is damaged", "data.json が壊れている"},
        // Where the text stops being JSON is named: a missing comma, a file cut short.
        {"a document missing a comma",
         [&] {
             fs::create_directories(folder / "Comma.ktshow");
             folder.write("Comma.ktshow/data.json", "{\n  \"version\": 1\n  \"banks\": []\n}");
             return folder / "Comma.ktshow";
         },
         "format.\nThe text breaks off or goes wrong at line 3, column 9.",
         "ありません。\n3 行目、9 列目で内容が途切れているか"},
        {"a document cut short",
         [&] {
             fs::create_directories(folder / "Short.ktshow");
             folder.write("Short.ktshow/data.json", "{\n  \"banks\": [\n    {\"name\": \"A");
             return folder / "Short.ktshow";
         },
         "at line 3, column 16.", "3 行目、16 列目"},
        // The structure's member at fault is named.
        {"a document without banks",
         [&] {
             fs::create_directories(folder / "NoBanks.ktshow");
             folder.write("NoBanks.ktshow/data.json", R"({"version": 1})");
             return folder / "NoBanks.ktshow";
         },
         "damaged or not in Kestio's format.\nThe member at fault: banks",
         "ありません。\n問題のある項目: banks"},
        {"a bank without its slots",
         [&] {
             fs::create_directories(folder / "NoSlots.ktshow");
             folder.write("NoSlots.ktshow/data.json", R"({"banks": [{"name": "A"}]})");
             return folder / "NoSlots.ktshow";
         },
         "The member at fault: banks[0].slots", "問題のある項目: banks[0].slots"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path package = c.make();
        try {
            manager.load(package);
            ADD_FAILURE() << "the package loaded";
        } catch (const std::exception& error) {
            const std::string english = projectLoadFailureText(package, error, AppLanguage::en);
            const std::string japanese = projectLoadFailureText(package, error, AppLanguage::ja);
            EXPECT_EQ(english.rfind(package.string() + "\n", 0), 0u) << english;
            EXPECT_EQ(japanese.rfind(package.string() + "\n", 0), 0u) << japanese;
            EXPECT_NE(english.find(c.english), std::string::npos) << english;
            EXPECT_NE(japanese.find(c.japanese), std::string::npos) << japanese;
            // The library's words stay on the console.
            EXPECT_EQ(english.find(error.what()), std::string::npos);
            EXPECT_EQ(english.find("filesystem error"), std::string::npos);
        }
    }
}

}  // namespace
}  // namespace kestio
