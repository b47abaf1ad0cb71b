#pragma once

#include <QImage>
#include <QWidget>
#include <vector>

#include "app/panel_menu.h"
#include "app/panel_painting.h"
#include "show/signal_output.h"

namespace kestio {
class ShowController;
}

namespace kestio::app {

// The tone levels offered, in dBFS, in menu order.
inline constexpr int kToneLevels[] = {-12, -14, -16, -18, -20, -22, -24};

// "-20dB": the tone level under the 1kHz title.
std::string toneLevelLabel(double levelDb);

// The utility switches without a view: EDIT LOCK, Colorbar and 1kHz with its level menu. The
// switches are the show's run-time flags, never saved.
class UtilityActions {
  public:
    UtilityActions(ShowController& show, SignalOutput& output) : show_(show), output_(output) {}

    void toggleEditLock();
    // On: the playback is reset, then SMPTE bars (1920 × 1080) cut onto the output. Off: the
    // playback is reset and the output cleared to black; what played before is not restored.
    void toggleColorBars();
    // On: the tone starts at the chosen level; a tone that cannot start leaves the switch off.
    void toggle1kHzTone();
    void setToneLevel(int levelDb);
    std::vector<PanelMenuEntry> toneLevelMenu();

  private:
    ShowController& show_;
    SignalOutput& output_;
};

// The utility column: EDIT LOCK over Colorbar and 1kHz. It paints the show's flags and routes
// presses and the 1kHz context menu to UtilityActions.
class UtilityButtons : public QWidget {
  public:
    enum class Button { editLock, colorBars, tone };

    UtilityButtons(ShowController& show, SignalOutput& output, QSize size,
                   QWidget* parent = nullptr);

    QRectF buttonRect(Button button) const;
    UtilityActions& actions() { return actions_; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    ShowController& show_;
    UtilityActions actions_;
    RepaintOn repaint_{*this};
};

}  // namespace kestio::app
