#pragma once

#include <optional>

#include "app/canvas_layout.h"
#include "model/model_enums.h"
#include "ui/loaded_slot.h"

class QWidget;

namespace kestio {
class ShowController;
class ShowPlayback;
namespace ui {
class PanelCard;
}
}  // namespace kestio

namespace kestio::app {

class DesignCanvas;

// The frames of the main window's panels on the design canvas. The toolbar, bank list, player,
// clip settingsPanel, audio, GEOMETRY and EQ and colour panels are panel cards of their own style;
// the GEOMETRY card carries its title row above a scroll area without scroll bars. The output
// monitor, the utility buttons and the MIDI status panel keep their places as plain cards until
// they are drawn themselves. The frames keep no state: what they hand their contents is read
// from the show and the playback when asked.
class PanelFrames {
  public:
    PanelFrames(DesignCanvas& canvas, ShowController& show, ShowPlayback& playback);

    // The slot loaded in the player: loaded only when the bank and the slot index are both
    // published; each index 0 when absent.
    ui::LoadedSlot loadedSlot() const;
    // The geometry mode of the loaded slot, none when no slot of the project is loaded.
    std::optional<GeometryMode> geometryMode() const;

    // The card at the panel's place, null for the slot grid.
    ui::PanelCard* card(CanvasPanel panel) const;
    // The player card's row for the program picture (content width, 308 points high).
    QWidget* playerPictureRow() const { return pictureRow_; }
    // The GEOMETRY card's title row (a box layout; the mode buttons go at its end) and its
    // scroll area content.
    QWidget* geometryTitle() const { return geometryTitle_; }
    QWidget* geometryControls() const { return geometryControls_; }
    // Gives the GEOMETRY card's scroll area the height its title row leaves in the card; called
    // again once the row holds its mode buttons.
    void fitGeometryControls() const;

    // The program picture row's place in the player card: below the header, clip name and
    // post-roll rows, above the timecode, timeline and transport rows.
    static constexpr int kPictureTop = 6 + 44 + 3 + 26 + 3 + 32 + 3;
    static constexpr int kPictureHeight = 308;

  private:
    ShowController& show_;
    ShowPlayback& playback_;
    DesignCanvas& canvas_;
    QWidget* pictureRow_ = nullptr;
    QWidget* geometryTitle_ = nullptr;
    QWidget* geometryScroll_ = nullptr;
    QWidget* geometryControls_ = nullptr;
};

}  // namespace kestio::app
