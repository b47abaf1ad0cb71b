#pragma once

// The whole show document and its banks.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "model/settings_records.h"
#include "model/slot_data.h"

namespace kestio {

struct BankData {
    std::string name;
    std::vector<SlotData> slots;  // in order of slot number

    bool operator==(const BankData&) const = default;
};

struct ProjectData {
    // The number of banks of a project made afresh.
    static constexpr int kBankCount = 20;

    std::int64_t version = 1;
    std::int64_t rows = 4;
    std::int64_t columns = 10;
    OutputSettings outputSettings;
    ExternalMonitorSettings externalMonitorSettings;
    std::vector<BankData> banks;
    std::optional<std::vector<std::uint8_t>> thumbnailsFolderBookmark;
    std::vector<MIDIControlAssignment> midiControlAssignments;
    bool midiInputEnabled = false;
    bool showMIDIAssignLabels = false;
    bool followJumpEnabled = true;

    // A project without banks, every other field at the value a reader assumes when it is missing.
    ProjectData() = default;

    // The project made afresh: 20 banks "BANK 1".."BANK 20", each of rows × columns fresh slots
    // named by their show-wide number ("001", "002", ...; four digits are written in full).
    ProjectData(int rows, int columns);

    bool operator==(const ProjectData&) const = default;
};

}  // namespace kestio
