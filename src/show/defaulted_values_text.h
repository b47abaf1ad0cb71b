#pragma once

// The texts that tell the operator which slot members were mended as a show was opened (a value
// of the wrong type or missing, a text naming no value this program knows, a number beyond
// what the inspector sets, a jump target outside the show).

#include <string>
#include <vector>

#include "model/app_language.h"
#include "model/project_coding.h"
#include "model/project_data.h"

namespace kestio {

// One entry per member, the slot counted from 1 as the grid shows it, with its display name,
// what the document held and what was read:
// BANK 2 SLOT 4 (Intro): postRollMode "sideways" → freeze
// BANK 1 SLOT 1: audioSettings.masterLevel 60 → 12
std::vector<std::string> defaultedValueEntries(const ProjectData& project,
                                               const std::vector<DefaultedSlotValue>& defaulted,
                                               AppLanguage language);

// The informative text of the alert: the entries (at most 15, then how many more), and what
// to do about them.
std::string defaultedValuesText(const std::vector<std::string>& entries, AppLanguage language);

}  // namespace kestio
