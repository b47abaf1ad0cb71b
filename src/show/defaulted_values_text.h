#pragma once

// The texts that tell the operator which slot members a show was opened with at their defaults
// (their stored texts named no value this program knows).

#include <string>
#include <vector>

#include "model/app_language.h"
#include "model/project_coding.h"
#include "model/project_data.h"

namespace kestio {

// One entry per member, the slot counted from 1 as the grid shows it, with its display name:
// BANK 2 SLOT 4 (Intro): postRollMode "sideways" → freeze
std::vector<std::string> defaultedValueEntries(const ProjectData& project,
                                               const std::vector<DefaultedSlotValue>& defaulted);

// The informative text of the alert: the entries (at most 15, then how many more), and what
// to do about them.
std::string defaultedValuesText(const std::vector<std::string>& entries, AppLanguage language);

}  // namespace kestio
