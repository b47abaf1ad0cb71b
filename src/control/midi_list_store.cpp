#include "control/midi_list_store.h"

#include <algorithm>
#include <charconv>
#include <limits>

#include "model/localization_manager.h"

namespace kestio {

namespace {

QString qtText(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

std::string_view rawValue(SortOrder order) {
    switch (order) {
        case SortOrder::bankSlot:
            return "bankSlot";
        case SortOrder::channelNote:
            return "channelNote";
        case SortOrder::name:
            return "name";
    }
    return "";
}

MIDIListStore::MIDIListStore() {
    resortOnOrderChange_ = sortOrder.subscribe([this](const SortOrder&) { sortRows(); });
    // The name order follows the app's language.
    resortOnLanguageChange_ =
        LocalizationManager::shared().language.subscribe([this](const AppLanguage&) {
            if (sortOrder.get() == SortOrder::name) {
                sortRows();
            }
        });
}

void MIDIListStore::update(const ProjectData& project) {
    std::vector<SlotRow> inputs;
    std::vector<OutputRow> outputs;
    for (std::size_t b = 0; b < project.banks.size(); ++b) {
        const auto& bank = project.banks[b];
        for (std::size_t s = 0; s < bank.slots.size(); ++s) {
            const auto& slot = bank.slots[s];
            if (slot.midiBindings) {
                for (const auto& binding : *slot.midiBindings) {
                    inputs.push_back({QUuid::createUuid(), static_cast<int>(b), static_cast<int>(s),
                                      slot.name, binding});
                }
            }
            if (slot.midiOutputBinding) {
                outputs.push_back({QUuid::createUuid(), static_cast<int>(b), static_cast<int>(s),
                                   slot.name, *slot.midiOutputBinding});
            }
        }
    }
    slotRows = std::move(inputs);
    outputRows = std::move(outputs);
    controlRows = project.midiControlAssignments;
    sortRows();
}

void MIDIListStore::sortRows() {
    const SortOrder order = sortOrder.get();
    const QCollator collator = localizedStandardCollator();
    auto byName = [&collator](std::string_view a, std::string_view b) {
        return collator.compare(qtText(a), qtText(b)) < 0;
    };
    auto slotLess = [order, &byName](const SlotRow& a, const SlotRow& b) {
        switch (order) {
            case SortOrder::bankSlot:
                return std::pair(a.bank, a.slot) < std::pair(b.bank, b.slot);
            case SortOrder::channelNote:
                return std::pair(a.binding.channel, a.binding.note) <
                       std::pair(b.binding.channel, b.binding.note);
            case SortOrder::name:
                return byName(a.name, b.name);
        }
        return false;
    };
    auto controlLess = [order, &byName](const MIDIControlAssignment& a,
                                        const MIDIControlAssignment& b) {
        switch (order) {
            case SortOrder::bankSlot:
                return a.target < b.target;
            case SortOrder::channelNote:
                return std::pair(a.channel, a.note) < std::pair(b.channel, b.note);
            case SortOrder::name:
                return byName(a.target, b.target);
        }
        return false;
    };
    auto inputs = slotRows.get();
    auto outputs = outputRows.get();
    auto controls = controlRows.get();
    std::stable_sort(inputs.begin(), inputs.end(), slotLess);
    std::stable_sort(outputs.begin(), outputs.end(), slotLess);
    std::stable_sort(controls.begin(), controls.end(), controlLess);
    slotRows = std::move(inputs);
    outputRows = std::move(outputs);
    controlRows = std::move(controls);
}

std::string MIDIListStore::controlRowId(const MIDIControlAssignment& assignment) {
    return assignment.target + "-" + std::to_string(assignment.channel) + "-" +
           std::to_string(assignment.note);
}

std::string displayTarget(const std::string& target) {
    static constexpr std::string_view prefix = "bank:";
    if (target.compare(0, prefix.size(), prefix) == 0) {
        std::string_view rest = std::string_view(target).substr(prefix.size());
        std::string_view digits = rest;
        if (!digits.empty() && digits.front() == '+') {
            digits.remove_prefix(1);  // from_chars takes a '-' but not a '+'
            if (!digits.empty() && digits.front() == '-') {
                digits = {};
            }
        }
        std::int64_t n = 0;
        const auto* end = digits.data() + digits.size();
        const auto [ptr, ec] = std::from_chars(digits.data(), end, n);
        if (!digits.empty() && ec == std::errc() && ptr == end &&
            n < std::numeric_limits<std::int64_t>::max()) {
            return "BANK " + std::to_string(n + 1);
        }
    }
    if (target == "stop") {
        return "STOP";
    }
    if (target == "play") {
        return "PLAY";
    }
    if (target == "pause") {
        return "Pause";
    }
    if (target == "mute") {
        return "MUTE";
    }
    return target;
}

QCollator localizedStandardCollator() {
    // The locale of the app's language, not the process locale: under "C" or "C.UTF-8" Qt's
    // collator compares code points, which would put "Élan" after "Zeta" and full-width
    // letters after everything else. The app's language is the one the operator chose.
    const bool japanese = LocalizationManager::shared().language.get() == AppLanguage::ja;
    QCollator collator(japanese ? QLocale(QLocale::Japanese, QLocale::Japan)
                                : QLocale(QLocale::English, QLocale::UnitedStates));
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    return collator;
}

int localizedStandardCompare(std::string_view a, std::string_view b) {
    const int c = localizedStandardCollator().compare(qtText(a), qtText(b));
    return (c > 0) - (c < 0);
}

}  // namespace kestio
