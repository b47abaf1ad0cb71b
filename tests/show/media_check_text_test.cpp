#include "show/media_check_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestio {
namespace {

TEST(MediaCheckText, AListEntryNamesTheBankAndTheSlotWithoutItsNumberPrefix) {
    EXPECT_EQ(listEntry("BANK 2", "03_Intro"), "BANK 2 / Intro");
    EXPECT_EQ(listEntry("BANK 2", "Intro", kRenamedRemark),
              "BANK 2 / Intro（ファイル名が変更されています）");
    EXPECT_EQ(listEntry("", "001"), " / 001");
}

std::vector<std::string> entries(int count) {
    std::vector<std::string> list;
    for (int i = 1; i <= count; ++i) {
        list.push_back("BANK 1 / c" + std::to_string(i));
    }
    return list;
}

TEST(MediaCheckText, ListsShowFifteenEntriesThenHowManyMore) {
    const std::string fifteen = listWithOverflow(entries(15), AppLanguage::en);
    EXPECT_EQ(fifteen.rfind("BANK 1 / c15"), fifteen.size() - std::string("BANK 1 / c15").size());
    EXPECT_EQ(fifteen.find("more"), std::string::npos);

    const std::string seventeen = listWithOverflow(entries(17), AppLanguage::en);
    EXPECT_NE(seventeen.find("BANK 1 / c15\n…and 2 more"), std::string::npos);
    EXPECT_EQ(seventeen.find("c16"), std::string::npos);
    EXPECT_NE(listWithOverflow(entries(16), AppLanguage::ja).find("c15\n…他1件"),
              std::string::npos);
    EXPECT_EQ(listWithOverflow({}, AppLanguage::en), "");
}

TEST(MediaCheckText, MissingAlertTextIsWrittenOutInFull) {
    EXPECT_EQ(missingMediaText({"BANK 1 / A", "BANK 2 / B（アクセス権限なし・要再リンク）"},
                               AppLanguage::en),
              "The source files for the following clips could not be found (2):\n\n"
              "BANK 1 / A\nBANK 2 / B（アクセス権限なし・要再リンク）\n\n"
              "Choose a folder to automatically search it for files with matching names and "
              "relink them.");
    const std::string ja = missingMediaText(entries(17), AppLanguage::ja);
    EXPECT_NE(ja.find("（17件）:\n\nBANK 1 / c1\n"), std::string::npos);
    EXPECT_NE(ja.find("c15\n…他2件\n\n"), std::string::npos);
}

TEST(MediaCheckText, RelinkReportAddsTheNotFoundListOnlyWhenThereIsOne) {
    EXPECT_EQ(relinkReportText(3, {}, AppLanguage::en), "Relinked 3 file(s).");
    EXPECT_EQ(relinkReportText(0, {"BANK 1 / Intro"}, AppLanguage::en),
              "Relinked 0 file(s).\n\nFiles that could not be found (1):\nBANK 1 / Intro");
    EXPECT_EQ(
        relinkReportText(1, {"BANK 1 / Intro"}, AppLanguage::ja),
        "1件のファイルを再リンクしました。\n\n見つからなかったファイル（1件）:\nBANK 1 / Intro");
    EXPECT_NE(relinkReportText(0, entries(16), AppLanguage::en).find("(16):\n"), std::string::npos);
    EXPECT_EQ(relinkLogLine(3, 0), "🔗 再リンク: 3件成功 / 0件未発見");
}

TEST(MediaCheckText, RescanLineRoundsTheDurationAndPrintsTheRateExactly) {
    EXPECT_EQ(rescanDoneLogLine("03_Intro", 2.0, 25.0),
              "✅ 再スキャン完了: Intro duration=2.0s fps=25.0");
    EXPECT_EQ(rescanDoneLogLine("A", 12.345, 29.97),
              "✅ 再スキャン完了: A duration=12.3s fps=29.97");
    const std::vector<std::pair<double, std::string>> rates = {
        {30.0, "30.0"}, {29.97, "29.97"}, {23.976023976023978, "23.976023976023978"},
        {0.0, "0.0"},   {59.94, "59.94"}, {1e21, "1e+21"}};
    for (const auto& [rate, text] : rates) {
        EXPECT_EQ(numberWithDecimal(rate), text);
    }
}

}  // namespace
}  // namespace kestio
