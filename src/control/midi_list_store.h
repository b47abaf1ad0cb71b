#pragma once

#include <QCollator>
#include <QUuid>
#include <array>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "model/project_data.h"
#include "model/settings_records.h"
#include "platform/runloop/published.h"

namespace kestio {

// The orders of the MIDI assignment list.
enum class SortOrder { bankSlot, channelNote, name };

inline constexpr std::array<SortOrder, 3> kAllSortOrders = {
    SortOrder::bankSlot, SortOrder::channelNote, SortOrder::name};

// "bankSlot", "channelNote", "name".
std::string_view rawValue(SortOrder order);

// The rows of the MIDI assignment list: every input binding and output note of every slot of
// a project, and its control assignments, kept sorted in one of three orders (stable sorts:
// rows the order does not tell apart keep their previous order). The rows are a snapshot of
// the project taken by update(); the callbacks carry the list's buttons out. Main thread only.
class MIDIListStore {
  public:
    // One input binding (slot rows) or the output note (output rows) of one slot.
    struct SlotRow {
        QUuid id;  // new at every rebuild
        int bank = 0;
        int slot = 0;
        std::string name;
        MIDINoteBinding binding;
    };
    using OutputRow = SlotRow;

    MIDIListStore();
    MIDIListStore(const MIDIListStore&) = delete;
    MIDIListStore& operator=(const MIDIListStore&) = delete;

    platform::Published<std::vector<SlotRow>> slotRows;
    platform::Published<std::vector<OutputRow>> outputRows;
    platform::Published<std::vector<MIDIControlAssignment>> controlRows;
    // Setting it re-sorts the three lists at once.
    platform::Published<SortOrder> sortOrder{SortOrder::bankSlot};

    std::function<void(int bank, int slot, const MIDINoteBinding& binding)> onClearSlot;
    std::function<void(const std::string& target)> onClearControl;
    std::function<void(int bank, int slot)> onEditOutput;
    std::function<void(int bank, int slot)> onClearOutput;
    std::function<void()> onDedup;

    // Rebuilds the three lists from the project (bank, slot and stored binding order) and
    // sorts them.
    void update(const ProjectData& project);
    // Sorts the three lists by the current order, starting from the order they have.
    void sortRows();

    // "<target>-<channel>-<note>", e.g. "bank:2-1-36".
    static std::string controlRowId(const MIDIControlAssignment& assignment);

  private:
    platform::Subscription resortOnOrderChange_;
    platform::Subscription resortOnLanguageChange_;
};

// The label of a control target: "bank:0" → "BANK 1", "stop" → "STOP", "play" → "PLAY",
// "pause" → "Pause", "mute" → "MUTE"; anything else unchanged (also a bank number whose
// successor does not fit in 64 bits).
std::string displayTarget(const std::string& target);

// Orders texts as people expect names in the app's language: by the language's collation,
// without regard to case or width, runs of digits by their value ("Slot 2" before "slot 10",
// "Élan" before "Zeta"). Negative, zero or positive.
QCollator localizedStandardCollator();
int localizedStandardCompare(std::string_view a, std::string_view b);

}  // namespace kestio
