#pragma once

#include "model/project_data.h"

namespace kestio {

// Keeps the first use of every MIDI (channel, note) pair of the project and removes every
// later one. The order of precedence: slot input bindings (banks, then slots, then list order)
// before control assignments (stored order). A slot list emptied here becomes absent; lists
// already absent or empty, and output bindings, are left alone. Returns the number removed.
int deduplicateMIDIAssignments(ProjectData& project);

}  // namespace kestio
