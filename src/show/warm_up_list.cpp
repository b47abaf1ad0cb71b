#include "show/warm_up_list.h"

namespace kestio {

std::vector<std::pair<int, int>> warmUpList(const ProjectData& project) {
    std::vector<std::pair<int, int>> list;
    for (std::size_t b = 0; b < project.banks.size(); ++b) {
        const auto& slots = project.banks[b].slots;
        for (std::size_t s = 0; s < slots.size(); ++s) {
            if (slots[s].videoURL) {
                list.emplace_back(static_cast<int>(b), static_cast<int>(s));
            }
        }
    }
    return list;
}

}  // namespace kestio
