#pragma once

#include <memory>

namespace kestio {
class ShowController;
class ShowImporter;
namespace output {
class ExternalMonitorController;
}
namespace platform {
class RunLoop;
}
namespace panels {
class AudioSection;
class ClipSettingsPanel;
class EqColorPanel;
class GeometrySection;
class LivePanelFacade;
class PanelFacade;
class PlayerPanel;
class ThumbnailCapture;
class TransportRow;
}  // namespace panels
}  // namespace kestio

namespace kestio::app {

class MIDITileOverlay;
class PanelFrames;

// Puts the panels that watch and shape the clip on air into their cards: the player panel with
// its timeline and transport rows, the clip settingsPanel, the audio section, the EQ and colour
// panel and the geometry section, all talking to the show and the playback through one facade.
// STOP, MUTE, PLAY and Pause carry the MIDI-assignable tile. The output window finds the
// drawings of the player panel's program view (a picture of the same pixel size is drawn once).
//
// The panels live with their cards; this object holds what they share (the facade, the
// thumbnail capture) and must outlive the cards: destroy the window first.
class SlotPanels {
  public:
    struct Services {
        platform::RunLoop& loop;
        ShowController& show;
        ShowImporter& importer;
        output::ExternalMonitorController& monitor;
    };

    SlotPanels(const PanelFrames& frames, Services services);
    ~SlotPanels();
    SlotPanels(const SlotPanels&) = delete;
    SlotPanels& operator=(const SlotPanels&) = delete;

    panels::PanelFacade& facade() const;

    // The panels and their tiles, for tests.
    panels::PlayerPanel& player() const { return *player_; }
    panels::TransportRow& transport() const { return *transport_; }
    panels::ClipSettingsPanel& settingsPanel() const { return *settingsPanel_; }
    panels::AudioSection& audio() const { return *audio_; }
    panels::EqColorPanel& eqColor() const { return *eqColor_; }
    panels::GeometrySection& geometry() const { return *geometry_; }
    MIDITileOverlay& stopTile() const { return *stopTile_; }
    MIDITileOverlay& muteTile() const { return *muteTile_; }
    MIDITileOverlay& playTile() const { return *playTile_; }
    MIDITileOverlay& pauseTile() const { return *pauseTile_; }

  private:
    std::unique_ptr<panels::LivePanelFacade> facade_;
    std::unique_ptr<panels::ThumbnailCapture> capture_;
    panels::PlayerPanel* player_ = nullptr;
    panels::TransportRow* transport_ = nullptr;
    panels::ClipSettingsPanel* settingsPanel_ = nullptr;
    panels::AudioSection* audio_ = nullptr;
    panels::EqColorPanel* eqColor_ = nullptr;
    panels::GeometrySection* geometry_ = nullptr;
    MIDITileOverlay* stopTile_ = nullptr;
    MIDITileOverlay* muteTile_ = nullptr;
    MIDITileOverlay* playTile_ = nullptr;
    MIDITileOverlay* pauseTile_ = nullptr;
};

}  // namespace kestio::app
