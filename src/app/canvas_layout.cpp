#include "app/canvas_layout.h"

#include <algorithm>
#include <cmath>

namespace kestio::app {

const std::array<PanelPlacement, 11>& canvasPlacements() {
    static constexpr std::array<PanelPlacement, 11> placements{{
        {CanvasPanel::projectToolbar, 438, 92, 240, 54},
        {CanvasPanel::bankList, 438, 428, 240, 322},
        {CanvasPanel::player, 643, 528, 788.5, 272},
        {CanvasPanel::clipSettingsPanel, 376, 196, 1307, 106},
        {CanvasPanel::audio, 376, 332, 1307, 370},
        {CanvasPanel::outputMonitor, 230, 130, 1618, 73},
        {CanvasPanel::utilityButtons, 163, 120, 1817.5, 68},
        {CanvasPanel::midiStatus, 397, 70, 1701.5, 179},
        {CanvasPanel::geometry, 397, 116, 1701.5, 278},
        {CanvasPanel::eqColor, 397, 194, 1701.5, 439},
        {CanvasPanel::slotGrid, 1878, 528, 960, 808},
    }};
    return placements;
}

const PanelPlacement& placement(CanvasPanel panel) {
    const auto& all = canvasPlacements();
    return *std::find_if(all.begin(), all.end(),
                         [panel](const PanelPlacement& p) { return p.panel == panel; });
}

double canvasScale(double width, double height) {
    const double scale = std::min(width / kDesignWidth, height / kDesignHeight);
    // A NaN size counts as no size.
    return std::isnan(scale) ? 0.0001 : std::max(scale, 0.0001);
}

}  // namespace kestio::app
