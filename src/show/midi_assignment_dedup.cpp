#include "show/midi_assignment_dedup.h"

#include <set>
#include <utility>

namespace kestio {

int deduplicateMIDIAssignments(ProjectData& project) {
    std::set<std::pair<std::int64_t, std::int64_t>> seen;
    int removed = 0;
    for (auto& bank : project.banks) {
        for (auto& slot : bank.slots) {
            if (!slot.midiBindings || slot.midiBindings->empty()) {
                continue;
            }
            std::vector<MIDINoteBinding> kept;
            for (const auto& binding : *slot.midiBindings) {
                if (seen.insert({binding.channel, binding.note}).second) {
                    kept.push_back(binding);
                } else {
                    ++removed;
                }
            }
            if (kept.empty()) {
                slot.midiBindings.reset();
            } else {
                slot.midiBindings = std::move(kept);
            }
        }
    }
    std::vector<MIDIControlAssignment> keptControls;
    for (const auto& assignment : project.midiControlAssignments) {
        if (seen.insert({assignment.channel, assignment.note}).second) {
            keptControls.push_back(assignment);
        } else {
            ++removed;
        }
    }
    project.midiControlAssignments = std::move(keptControls);
    return removed;
}

}  // namespace kestio
