#include "show/slot_edits.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <utility>

namespace kestio {

namespace {

SlotData& slotAt(ProjectData& project, int bank, int slot) {
    return project.banks[static_cast<std::size_t>(bank)].slots[static_cast<std::size_t>(slot)];
}

}  // namespace

bool addressesBank(const ProjectData& project, int bank) {
    return bank >= 0 && static_cast<std::size_t>(bank) < project.banks.size();
}

bool addressesSlot(const ProjectData& project, int bank, int slot) {
    return addressesBank(project, bank) && slot >= 0 &&
           static_cast<std::size_t>(slot) <
               project.banks[static_cast<std::size_t>(bank)].slots.size();
}

std::string globalSlotNumber(const ProjectData& project, int bank, int slot) {
    const long long perBank = static_cast<long long>(project.rows) * project.columns;
    const long long number = static_cast<long long>(bank) * perBank + slot + 1;
    char text[32];
    std::snprintf(text, sizeof text, "%03lld", number);
    return text;
}

SlotData freshSlot(const ProjectData& project, int bank, int slot) {
    SlotData fresh;
    fresh.name = globalSlotNumber(project, bank, slot);
    return fresh;
}

bool clearSlot(ProjectData& project, int bank, int slot) {
    if (!addressesSlot(project, bank, slot)) {
        return false;
    }
    slotAt(project, bank, slot) = freshSlot(project, bank, slot);
    return true;
}

bool pasteSlot(ProjectData& project, int fromBank, int fromSlot, int toBank, int toSlot) {
    if (!addressesSlot(project, fromBank, fromSlot) || !addressesSlot(project, toBank, toSlot)) {
        return false;
    }
    SlotData copy = slotAt(project, fromBank, fromSlot);
    copy.midiBindings.reset();
    slotAt(project, toBank, toSlot) = std::move(copy);
    return true;
}

bool swapSlots(ProjectData& project, int bankA, int slotA, int bankB, int slotB) {
    if (!addressesSlot(project, bankA, slotA) || !addressesSlot(project, bankB, slotB)) {
        return false;
    }
    std::swap(slotAt(project, bankA, slotA), slotAt(project, bankB, slotB));
    return true;
}

bool renameBankIn(ProjectData& project, int bank, std::string name) {
    if (!addressesBank(project, bank)) {
        return false;
    }
    project.banks[static_cast<std::size_t>(bank)].name = std::move(name);
    return true;
}

int parseMidiField(std::string_view text, int fallback, int low, int high) {
    long long value = fallback;
    std::string_view digits = text;
    bool negative = false;
    if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) {
        negative = digits.front() == '-';
        digits.remove_prefix(1);
    }
    // from_chars accepts neither a sign of its own after ours nor white space, which is what
    // the field's rule wants; it refuses a value beyond long long, which then counts as
    // unreadable.
    long long parsed = 0;
    if (!digits.empty() && digits.front() != '+' && digits.front() != '-') {
        const auto [end, error] =
            std::from_chars(digits.data(), digits.data() + digits.size(), parsed);
        if (error == std::errc() && end == digits.data() + digits.size()) {
            value = negative ? -parsed : parsed;
        }
    }
    return static_cast<int>(std::clamp<long long>(value, low, high));
}

MIDINoteBinding midiOutputFromFields(std::string_view channelText, std::string_view noteText) {
    return MIDINoteBinding{parseMidiField(channelText, 1, 1, 16),
                           parseMidiField(noteText, 60, 0, 127)};
}

MIDINoteBinding midiOutputDialogStart(const std::optional<MIDINoteBinding>& binding) {
    return binding ? *binding : MIDINoteBinding{1, 60};
}

}  // namespace kestio
