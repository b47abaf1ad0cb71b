#include "show/media_check_text.h"

#include <charconv>
#include <cstdio>

#include "show/slot_display_name.h"

namespace kestio {

namespace {

bool english(AppLanguage language) {
    return language == AppLanguage::en;
}

}  // namespace

std::string listEntry(std::string_view bankName, std::string_view slotName,
                      std::string_view remark) {
    std::string entry(bankName);
    entry += " / ";
    entry += slotDisplayName(std::string(slotName));
    entry += remark;
    return entry;
}

std::string listWithOverflow(const std::vector<std::string>& entries, AppLanguage language) {
    std::string text;
    for (std::size_t i = 0; i < entries.size() && i < kMaxListedEntries; ++i) {
        if (i > 0) {
            text += "\n";
        }
        text += entries[i];
    }
    if (entries.size() > kMaxListedEntries) {
        const std::string more = std::to_string(entries.size() - kMaxListedEntries);
        text += english(language) ? "\n…and " + more + " more" : "\n…他" + more + "件";
    }
    return text;
}

std::string missingMediaText(const std::vector<std::string>& entries, AppLanguage language) {
    const std::string count = std::to_string(entries.size());
    const std::string list = listWithOverflow(entries, language);
    if (english(language)) {
        return "The source files for the following clips could not be found (" + count + "):\n\n" +
               list +
               "\n\nChoose a folder to automatically search it for files with matching names "
               "and relink them.";
    }
    return "次のクリップの元ファイルが見つかりません（" + count + "件）:\n\n" + list +
           "\n\nフォルダを選ぶと、同じ名前のファイルを自動で探して再リンクします。";
}

std::string relinkReportText(int relinked, const std::vector<std::string>& notFound,
                             AppLanguage language) {
    std::string text = english(language)
                           ? "Relinked " + std::to_string(relinked) + " file(s)."
                           : std::to_string(relinked) + "件のファイルを再リンクしました。";
    if (!notFound.empty()) {
        const std::string count = std::to_string(notFound.size());
        text += english(language) ? "\n\nFiles that could not be found (" + count + "):\n"
                                  : "\n\n見つからなかったファイル（" + count + "件）:\n";
        text += listWithOverflow(notFound, language);
    }
    return text;
}

std::string relinkLogLine(int relinked, int notFound) {
    return "🔗 再リンク: " + std::to_string(relinked) + "件成功 / " + std::to_string(notFound) +
           "件未発見";
}

std::string numberWithDecimal(double value) {
    char text[64];
    const auto [end, error] = std::to_chars(text, text + sizeof text, value);
    std::string printed(text, error == std::errc() ? end : text);
    if (printed.find_first_of(".eEn") == std::string::npos) {
        printed += ".0";
    }
    return printed;
}

std::string rescanDoneLogLine(std::string_view slotName, double duration, double fps) {
    char seconds[64];
    std::snprintf(seconds, sizeof seconds, "%.1f", duration);
    return "✅ 再スキャン完了: " + slotDisplayName(std::string(slotName)) + " duration=" + seconds +
           "s fps=" + numberWithDecimal(fps);
}

}  // namespace kestio
