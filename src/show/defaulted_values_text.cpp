#include "show/defaulted_values_text.h"

#include "show/media_check_text.h"
#include "show/slot_display_name.h"

namespace kestio {

std::vector<std::string> defaultedValueEntries(const ProjectData& project,
                                               const std::vector<DefaultedSlotValue>& defaulted,
                                               AppLanguage language) {
    const bool english = language == AppLanguage::en;
    std::vector<std::string> entries;
    for (const DefaultedSlotValue& value : defaulted) {
        std::string entry =
            "BANK " + std::to_string(value.bank + 1) + " SLOT " + std::to_string(value.slot + 1);
        if (value.bank < project.banks.size() &&
            value.slot < project.banks[value.bank].slots.size()) {
            const std::string name =
                slotDisplayName(project.banks[value.bank].slots[value.slot].name);
            if (!name.empty()) {
                entry += " (" + name + ")";
            }
        }
        const std::string found = !value.found.empty() ? value.found
                                  : english            ? "(missing)"
                                                       : "（なし）";
        const std::string readAs = !value.readAs.empty() ? value.readAs
                                   : english             ? "(none)"
                                                         : "（なし）";
        entries.push_back(entry + ": " + value.key + " " + found + " → " + readAs);
    }
    return entries;
}

std::string defaultedValuesText(const std::vector<std::string>& entries, AppLanguage language) {
    return listWithOverflow(entries, language) + "\n\n" +
           (language == AppLanguage::ja ? "これらの設定を確認してから保存してください。"
                                        : "Check these settings before you save the project.");
}

}  // namespace kestio
