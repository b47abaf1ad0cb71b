#pragma once

// The texts of the missing-media check, the rescan and the relink: list entries, the alerts'
// informative texts and the play-log lines that carry values.

#include <string>
#include <string_view>
#include <vector>

#include "model/app_language.h"

namespace kestio {

// Remarks of the missing list; Japanese in both languages.
inline constexpr std::string_view kRenamedRemark = "（ファイル名が変更されています）";
inline constexpr std::string_view kNoAccessRemark = "（アクセス権限なし・要再リンク）";

// A list shows at most this many entries; a line tells how many more there are.
inline constexpr std::size_t kMaxListedEntries = 15;

// "<bank name> / <the slot's display name>" followed by the remark, if any.
std::string listEntry(std::string_view bankName, std::string_view slotName,
                      std::string_view remark = {});

// The first 15 entries joined by "\n", then, for 16 or more, "\n…and N more" ("\n…他N件").
std::string listWithOverflow(const std::vector<std::string>& entries, AppLanguage language);

// The informative text of the "Missing Media Files" alert.
std::string missingMediaText(const std::vector<std::string>& entries, AppLanguage language);

// The informative text of the "Relink Complete" report.
std::string relinkReportText(int relinked, const std::vector<std::string>& notFound,
                             AppLanguage language);

// Play-log lines.
std::string relinkLogLine(int relinked, int notFound);
std::string rescanDoneLogLine(std::string_view slotName, double duration, double fps);

// A number printed in its shortest exact form, with at least one decimal place
// (29.97 gives "29.97", 30 gives "30.0").
std::string numberWithDecimal(double value);

}  // namespace kestio
