#pragma once

#include <QImage>
#include <QWidget>
#include <vector>

#include "app/panel_menu.h"
#include "app/panel_painting.h"

namespace kestio {
class ShowController;
}

namespace kestio::app {

// What the colour bars and the test tone need of the playback controller and its output.
class SignalOutput {
  public:
    virtual ~SignalOutput() = default;
    // Stops the controller's watchers of the clip on air (clocks, end watcher, still and
    // sound-only timers) and clears its loaded state, so that no post-roll fires later.
    virtual void resetPlayback() = 0;
    // Shows `picture` as a still with neutral colour in the hidden playback slot and cuts to it.
    virtual void showStillAndCut(const QImage& picture) = 0;
    // Empties the output: pending dissolves void, both slots cleared, slot A showing, the layer
    // log line "stopAll".
    virtual void clearOutput() = 0;
    // Starts the test tone at `levelDb`; false when it cannot sound (nothing is left running).
    virtual bool startTone(double levelDb) = 0;
    // Stops the tone and publishes silent meters.
    virtual void stopTone() = 0;
    // Sets the tone's level whether or not it runs.
    virtual void setToneLevel(double levelDb) = 0;
};

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
