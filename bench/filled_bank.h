#pragma once

// A bank whose slots all hold a clip and a thumbnail, for the panel benchmarks.

#include <QColor>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "show/show_controller.h"
#include "support/gradient_png.h"

namespace kestio::bench {

// A slot thumbnail as a project stores it: a 320 × 180 PNG of a gradient whose hue follows
// `seed`, so neighbouring slots differ.
inline std::vector<std::uint8_t> slotThumbnailPNG(int seed) {
    return test::gradientPNG({320, 180}, {0, 0}, {320, 180},
                             QColor::fromHsv((seed * 37) % 360, 160, 200), QColor(20, 20, 20));
}

// Gives every slot of the bank a clip (named "<n>_Clip <n>", 10 s and up, at `fps` when given)
// and a thumbnail, without marking the project edited.
inline void fillBank(ShowController& show, int bank, int seed, std::optional<double> fps) {
    show.editProject(
        [&](ProjectData& project) {
            auto& slots = project.banks[std::size_t(bank)].slots;
            for (std::size_t i = 0; i < slots.size(); ++i) {
                slots[i].videoURL = "/media/clip" + std::to_string(i) + ".mp4";
                slots[i].name = std::to_string(i + 1) + "_Clip " + std::to_string(i + 1);
                slots[i].clipInfo = ClipInfo{};
                slots[i].clipInfo->duration = 10.0 + double(i);
                if (fps) {
                    slots[i].clipInfo->fps = *fps;
                }
                slots[i].thumbnail = slotThumbnailPNG(seed + int(i));
            }
        },
        false);
}

}  // namespace kestio::bench
