#include "show/warm_up_list.h"

#include <gtest/gtest.h>

#include "show/project_shape.h"

namespace kestio {
namespace {

TEST(WarmUpList, HoldsEverySlotWithAFileLocationInBankThenSlotOrder) {
    ProjectData project(4, 10);
    for (int s : {7, 0, 3}) {
        project.banks[0].slots[static_cast<std::size_t>(s)].videoURL = "/m/a.mov";
    }
    project.banks[2].slots[39].videoURL = "/m/b.mov";
    project.banks[1].slots[5].bookmarkData = std::vector<std::uint8_t>{1};  // missing: no URL
    EXPECT_EQ(warmUpList(project),
              (std::vector<std::pair<int, int>>{{0, 0}, {0, 3}, {0, 7}, {2, 39}}));
    EXPECT_TRUE(warmUpList(ProjectData(4, 10)).empty());
}

TEST(ProjectShape, AGridWithoutSlotsOrAProjectWithoutBanksCannotBeShown) {
    EXPECT_FALSE(projectShapeProblem(ProjectData(4, 10), AppLanguage::en));
    EXPECT_FALSE(projectShapeProblem(ProjectData(1, 1), AppLanguage::en));
    for (auto [rows, columns] : {std::pair{0, 10}, {4, 0}, {-1, 10}, {4, -3}}) {
        ProjectData project(4, 10);
        project.rows = rows;
        project.columns = columns;
        const auto problem = projectShapeProblem(project, AppLanguage::en);
        ASSERT_TRUE(problem) << rows << " x " << columns;
        EXPECT_NE(problem->find(std::to_string(rows) + " × " + std::to_string(columns)),
                  std::string::npos);
    }
    ProjectData empty(4, 10);
    empty.banks.clear();
    EXPECT_EQ(projectShapeProblem(empty, AppLanguage::en), "The project has no banks.");
    EXPECT_EQ(projectShapeProblem(empty, AppLanguage::ja), "プロジェクトにバンクがありません。");
}

}  // namespace
}  // namespace kestio
