#include "control/midi_list_store.h"

#include <algorithm>
#include <charconv>
#include <limits>

namespace kestio {

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
    auto slotLess = [order](const SlotRow& a, const SlotRow& b) {
        switch (order) {
            case SortOrder::bankSlot:
                return std::pair(a.bank, a.slot) < std::pair(b.bank, b.slot);
            case SortOrder::channelNote:
                return std::pair(a.binding.channel, a.binding.note) <
                       std::pair(b.binding.channel, b.binding.note);
            case SortOrder::name:
                return localizedStandardCompare(a.name, b.name) < 0;
        }
        return false;
    };
    auto controlLess = [order](const MIDIControlAssignment& a, const MIDIControlAssignment& b) {
        switch (order) {
            case SortOrder::bankSlot:
                return a.target < b.target;
            case SortOrder::channelNote:
                return std::pair(a.channel, a.note) < std::pair(b.channel, b.note);
            case SortOrder::name:
                return localizedStandardCompare(a.target, b.target) < 0;
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

int localizedStandardCompare(std::string_view a, std::string_view b) {
    auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    auto fold = [](char c) {
        return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a')
                                      : static_cast<unsigned char>(c);
    };
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            std::size_t ei = i;
            std::size_t ej = j;
            while (ei < a.size() && isDigit(a[ei])) {
                ++ei;
            }
            while (ej < b.size() && isDigit(b[ej])) {
                ++ej;
            }
            std::string_view x = a.substr(i, ei - i);
            std::string_view y = b.substr(j, ej - j);
            while (x.size() > 1 && x.front() == '0') {
                x.remove_prefix(1);
            }
            while (y.size() > 1 && y.front() == '0') {
                y.remove_prefix(1);
            }
            if (x.size() != y.size()) {
                return x.size() < y.size() ? -1 : 1;
            }
            if (const int c = x.compare(y); c != 0) {
                return c < 0 ? -1 : 1;
            }
            i = ei;
            j = ej;
            continue;
        }
        const auto ca = fold(a[i]);
        const auto cb = fold(b[j]);
        if (ca != cb) {
            return ca < cb ? -1 : 1;
        }
        ++i;
        ++j;
    }
    if (i < a.size()) {
        return 1;
    }
    if (j < b.size()) {
        return -1;
    }
    return 0;
}

}  // namespace kestio
