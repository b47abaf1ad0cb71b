#include "app/slot_panels.h"

#include "app/midi_tile_overlay.h"
#include "app/panel_frames.h"
#include "output/external_monitor_controller.h"
#include "panels/audio_section.h"
#include "panels/clip_settings_panel.h"
#include "panels/eq_color_panel.h"
#include "panels/geometry_section.h"
#include "panels/live_panel_facade.h"
#include "panels/player_panel.h"
#include "panels/styled_button.h"
#include "panels/thumbnail_capture.h"
#include "panels/transport_row.h"
#include "platform/ui/layer_view.h"
#include "ui/panel_card.h"
#include "ui/popover.h"  // eq_color_panel.h hands out a QPointer to it

namespace kestio::app {

SlotPanels::SlotPanels(const PanelFrames& frames, Services s)
    : facade_(std::make_unique<panels::LivePanelFacade>(s.show)),
      capture_(std::make_unique<panels::ThumbnailCapture>(*facade_, s.importer)) {
    ui::PanelCard& playerCard = *frames.card(CanvasPanel::player);
    // The player panel shows the program through a view of its own in its picture row; the
    // frame's stand-in for that row stays empty.
    frames.playerPictureRow()->hide();
    player_ = new panels::PlayerPanel(*facade_, s.loop, playerCard);
    transport_ = new panels::TransportRow(
        *facade_, playerCard, [this](int bank, int slot) { capture_->capture(bank, slot); });
    settingsPanel_ =
        new panels::ClipSettingsPanel(*facade_, *frames.card(CanvasPanel::clipSettingsPanel));
    audio_ = new panels::AudioSection(*facade_, s.loop, *frames.card(CanvasPanel::audio));
    eqColor_ = new panels::EqColorPanel(*facade_, *frames.card(CanvasPanel::eqColor));
    geometry_ =
        new panels::GeometrySection(*facade_, *frames.geometryTitle(), *frames.geometryControls());
    // A layout shows the widgets added to it only on a later turn of the event loop: the mode
    // buttons are shown now, so that the title row is measured with them.
    for (const GeometryMode mode :
         {GeometryMode::fitToWindow, GeometryMode::custom, GeometryMode::originalSize}) {
        geometry_->modeButton(mode)->show();
    }
    frames.fitGeometryControls();

    stopTile_ = new MIDITileOverlay(s.show, *player_->stopButton(), "stop");
    muteTile_ = new MIDITileOverlay(s.show, *audio_->muteButton(), "mute");
    playTile_ =
        new MIDITileOverlay(s.show, *transport_->button(panels::TransportImage::play), "play");
    pauseTile_ =
        new MIDITileOverlay(s.show, *transport_->button(panels::TransportImage::pause), "pause");

    // Drawings are found by what they draw, their pixel size included: the output window takes
    // the program view's picture only while both have the same size, and draws its own
    // otherwise.
    if (platform::LayerView* program = player_->programView()) {
        s.monitor.shareCompositionsWith(program->sharedCompositions());
    }
}

SlotPanels::~SlotPanels() = default;

panels::PanelFacade& SlotPanels::facade() const {
    return *facade_;
}

}  // namespace kestio::app
