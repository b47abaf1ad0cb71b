#pragma once

#include <utility>
#include <vector>

#include "model/project_data.h"

namespace kestio {

// The slots a warm-up plays, as (bank, slot) indices: every slot with a file location, banks
// in index order and slots in index order within a bank.
std::vector<std::pair<int, int>> warmUpList(const ProjectData& project);

}  // namespace kestio
