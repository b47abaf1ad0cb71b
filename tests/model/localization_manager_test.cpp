#include "model/localization_manager.h"

#include <gtest/gtest.h>

#include <sstream>

#include "model/help_text.h"

namespace kestio {
namespace {

using platform::InMemoryUserDefaults;

TEST(AppLanguageTest, OnlyTheExactRawValuesAreLanguages) {
    EXPECT_EQ(appLanguageFromRawValue("ja"), AppLanguage::ja);
    EXPECT_EQ(appLanguageFromRawValue("en"), AppLanguage::en);
    for (const char* other : {"", "EN", "Ja", "en-US", " en", "fr"}) {
        EXPECT_FALSE(appLanguageFromRawValue(other)) << other;
    }
    EXPECT_EQ(kAllAppLanguages[0], AppLanguage::ja);
    EXPECT_EQ(rawValue(kAllAppLanguages[1]), "en");
    EXPECT_EQ(menuLabel(AppLanguage::ja), "日本語");
}

TEST(LocalizationManagerTest, TheStoredLanguageIsTakenOnlyWhenExactAndNeverWrittenBack) {
    const std::vector<std::pair<std::optional<std::string>, AppLanguage>> cases = {
        {std::nullopt, AppLanguage::ja}, {"ja", AppLanguage::ja},    {"en", AppLanguage::en},
        {"EN", AppLanguage::ja},         {"en-US", AppLanguage::ja}, {"", AppLanguage::ja}};
    for (const auto& [stored, expected] : cases) {
        InMemoryUserDefaults defaults;
        if (stored) {
            defaults.setString("appLanguage", *stored);
        }
        const int writesBefore = defaults.writeCount();
        LocalizationManager manager(defaults);
        EXPECT_EQ(manager.language.get(), expected) << stored.value_or("(nothing)");
        EXPECT_EQ(defaults.writeCount(), writesBefore);
        EXPECT_EQ(defaults.string("appLanguage"), stored);
    }
}

TEST(LocalizationManagerTest, EveryAssignmentIsStoredAndNotified) {
    InMemoryUserDefaults defaults;
    LocalizationManager manager(defaults);
    std::vector<AppLanguage> notified;
    auto subscription = manager.language.subscribe([&](AppLanguage l) { notified.push_back(l); });
    manager.language = AppLanguage::en;
    EXPECT_EQ(defaults.string("appLanguage"), "en");
    manager.language = AppLanguage::en;
    EXPECT_EQ(defaults.writeCount(), 2);
    manager.language.set(AppLanguage::ja);
    EXPECT_EQ(defaults.string("appLanguage"), "ja");
    EXPECT_EQ(notified, (std::vector{AppLanguage::en, AppLanguage::en, AppLanguage::ja}));
}

TEST(LocalizationManagerTest, TheStoreIsReadOnlyOnce) {
    InMemoryUserDefaults defaults;
    LocalizationManager manager(defaults);
    defaults.setString("appLanguage", "en");
    EXPECT_EQ(manager.language.get(), AppLanguage::ja);
    EXPECT_EQ(manager.pick("はい", "Yes"), "はい");
}

TEST(LocalizationManagerTest, PickingNeverFallsBackToTheOtherHalf) {
    InMemoryUserDefaults defaults;
    LocalizationManager manager(defaults);
    EXPECT_EQ(manager.pick("", "x"), "");
    EXPECT_EQ(manager.pick("未選択", "No Selection"), "未選択");
    manager.language = AppLanguage::en;
    EXPECT_EQ(manager.pick("x", ""), "");
    EXPECT_EQ(manager.pick("未選択", "No Selection"), "No Selection");
    EXPECT_EQ(manager.helpText(), helpText(AppLanguage::en));
}

std::vector<std::string> linesOf(std::string_view text) {
    std::vector<std::string> lines;
    std::stringstream in{std::string(text)};
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// The lines of a text that start a section ("-- x --" or "Name:" at the left margin).
std::vector<std::string> headingsOf(std::string_view text) {
    std::vector<std::string> headings;
    for (const auto& line : linesOf(text)) {
        if (line.rfind("-- ", 0) == 0 || (!line.empty() && line[0] != ' ' && line.back() == ':')) {
            headings.push_back(line);
        }
    }
    return headings;
}

TEST(HelpTextTest, EachTextEndsWithTheWayToSwitchInTheOtherLanguage) {
    const std::string_view ja = helpText(AppLanguage::ja);
    const std::string_view en = helpText(AppLanguage::en);
    EXPECT_TRUE(ja.starts_with("Kestio  Help\n\n-- プロジェクトの始め方 --\n"));
    EXPECT_TRUE(en.starts_with("Kestio  Help\n\n-- Getting Started --\n"));
    EXPECT_TRUE(
        ja.ends_with("\nLanguage:\n  Switch between Japanese and English from the "
                     "\"Language\" menu\n  in the menu bar.\n"));
    EXPECT_TRUE(
        en.ends_with("\n言語切替:\n  メニューバー「Language」から日本語/Englishを切り替え"
                     "られます。\n"));
    EXPECT_EQ(headingsOf(ja),
              (std::vector<std::string>{"-- プロジェクトの始め方 --", "-- 対応ファイル形式 --",
                                        "-- キーボードショートカット --",
                                        "スロット再生:", "再生制御:", "カーソル移動:",
                                        "BANKジャンプ:", "ファイル操作:", "MIDI:", "Language:"}));
    EXPECT_EQ(headingsOf(en),
              (std::vector<std::string>{"-- Getting Started --", "-- Supported File Formats --",
                                        "-- Keyboard Shortcuts --",
                                        "Slot Playback:", "Playback Control:", "Cursor Movement:",
                                        "BANK Jump:", "File Operations:", "MIDI:", "言語切替:"}));
}

TEST(HelpTextTest, KeysCarryTheirLinuxNamesInAlignedColumns) {
    for (AppLanguage language : kAllAppLanguages) {
        const std::string_view text = helpText(language);
        for (const char* macName : {"Cmd", "Opt+", "Mac", "AVFoundation", "QuickTime"}) {
            EXPECT_EQ(text.find(macName), std::string_view::npos) << macName;
        }
        // Key and meaning columns line up: the meaning starts at column 17.
        for (const auto& line : linesOf(text)) {
            if (line.rfind("  Ctrl", 0) == 0 || line.rfind("  Alt", 0) == 0 ||
                line.rfind("  Shift", 0) == 0) {
                EXPECT_EQ(line.find_first_not_of(' ', line.find(' ', 2)), 17u) << line;
            }
        }
    }
    EXPECT_NE(helpText(AppLanguage::en).find("  Ctrl+Alt+1-0   BANK 11-20\n"), std::string::npos);
    EXPECT_NE(helpText(AppLanguage::ja).find("  Shift+Space    一時停止\n"), std::string::npos);
}

TEST(HelpTextTest, TheListOfFormatsIsKept) {
    for (AppLanguage language : kAllAppLanguages) {
        const std::string_view text = helpText(language);
        EXPECT_NE(text.find(": MP4, MOV, M4V, MXF, M2TS, MTS, TS, MPG, MPEG, DV, 3GP\n"),
                  std::string::npos);
        EXPECT_NE(text.find(": PNG, JPG, JPEG, TIFF, HEIC, HEIF, BMP, GIF, WebP\n"),
                  std::string::npos);
        EXPECT_NE(text.find(": WAV, MP3, AIFF, M4A, CAF, FLAC\n"), std::string::npos);
        EXPECT_NE(text.find("FFmpeg"), std::string::npos);
    }
    EXPECT_EQ(linesOf(helpText(AppLanguage::ja)).size(), 55u);
    EXPECT_EQ(linesOf(helpText(AppLanguage::en)).size(), 57u);
}

}  // namespace
}  // namespace kestio
