// What the operator reads when a save fails, wholly or for the pictures only: the path and the
// reason in his language, never the library's wording.

#include "model/project_save_failure.h"

#include <gtest/gtest.h>

#include "model/project_manager.h"
#include "support/temporary_folder.h"

namespace kestio {
namespace {

namespace fs = std::filesystem;

TEST(ProjectSaveFailure, SaysWhyWithThePathInTheOperatorsLanguage) {
    const fs::path package = "/shows/Gala.ktshow";
    struct Case {
        std::errc code;
        const char* english;
        const char* japanese;
    };
    const Case cases[] = {
        {std::errc::no_space_on_device, "The disk is full.", "ディスクの空き容量が足りません。"},
        {std::errc::file_too_large, "The disk is full.", "ディスクの空き容量が足りません。"},
        {std::errc::permission_denied, "not allowed to write here", "書き込む権限がありません"},
        {std::errc::read_only_file_system, "The disk is read-only.", "読み取り専用です"},
        {std::errc::not_a_directory, "is in the way", "邪魔をしています"},
        {std::errc::too_many_symbolic_link_levels, "a link to another folder", "へのリンクです"},
        {std::errc::io_error, "The disk could not be written.", "ディスクに書き込めませんでした"},
    };
    for (const Case& c : cases) {
        const fs::filesystem_error error("cannot write the library's words", package,
                                         std::make_error_code(c.code));
        SCOPED_TRACE(error.what());
        for (const auto& [language, reason, saved, notSaved] :
             {std::tuple{AppLanguage::en, c.english, "was saved, but the slot pictures were not",
                         "The project was not saved."},
              std::tuple{AppLanguage::ja, c.japanese, "サムネイルは保存されていません",
                         "プロジェクトは保存されていません。"}}) {
            const std::string failed = projectSaveFailureText(package, error, language);
            EXPECT_EQ(failed.rfind(package.string() + "\n", 0), 0u) << failed;
            EXPECT_NE(failed.find(notSaved), std::string::npos) << failed;
            EXPECT_NE(failed.find(reason), std::string::npos) << failed;
            EXPECT_EQ(failed.find("library's words"), std::string::npos) << failed;
            const std::string pictures =
                picturesNotSavedText(package, std::make_error_code(c.code), language);
            EXPECT_EQ(pictures.rfind((package / "thumbnails").string() + "\n", 0), 0u);
            EXPECT_NE(pictures.find(saved), std::string::npos) << pictures;
            EXPECT_NE(pictures.find(reason), std::string::npos) << pictures;
        }
    }
}

// A real save with a file where the package's folder would be.
TEST(ProjectSaveFailure, AFileInPlaceOfThePackageIsSaidToBeInTheWay) {
    test::TemporaryFolder folder;
    const fs::path package = folder.write("Show.ktshow", "a file");
    platform::BookmarkService bookmarks;
    try {
        ProjectManager(bookmarks).save(ProjectData(4, 10), package);
        ADD_FAILURE() << "the save went through";
    } catch (const std::exception& error) {
        EXPECT_NE(projectSaveFailureText(package, error, AppLanguage::en).find("is in the way"),
                  std::string::npos);
    }
}

}  // namespace
}  // namespace kestio
