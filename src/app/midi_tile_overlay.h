#pragma once

#include <QWidget>
#include <memory>
#include <string>

#include "app/panel_painting.h"

class QMenu;

namespace kestio {
class ShowController;
}

namespace kestio::app {

// The MIDI-assignable tile laid over one control of a panel (STOP, MUTE, PLAY, Pause): it
// follows the control's place and visibility, paints the learn outline and the assignment labels
// of the control's target over it, and lets every click through. In learn mode the control's
// context menu is the tile's single "Clear MIDI Assignment" entry; outside learn mode the
// control's own context handling is left alone.
//
// The overlay is a sibling of the control, in front of it, a little larger so that the outline
// centred on the control's edge is not cut; the control's parent owns it.
class MIDITileOverlay : public QWidget {
  public:
    // The room the overlay takes beyond the control on every side.
    static constexpr int kMargin = 2;

    // `control` must have a parent widget. `show` must outlive the overlay.
    MIDITileOverlay(ShowController& show, QWidget& control, std::string target);

    const std::string& target() const { return target_; }
    // The control's context menu in learn mode; null outside it.
    std::unique_ptr<QMenu> contextMenu();

  protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void follow();

    ShowController& show_;
    QWidget& control_;
    std::string target_;
    RepaintOn repaint_{*this};
};

}  // namespace kestio::app
