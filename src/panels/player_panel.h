#pragma once

#include <QColor>
#include <QObject>
#include <QRect>
#include <QString>
#include <array>
#include <optional>
#include <vector>

#include "model/model_enums.h"
#include "platform/runloop/published.h"
#include "platform/runloop/run_loop.h"

class QWidget;

namespace kestio::platform {
class LayerView;
}
namespace kestio::ui {
class PanelCard;
}

namespace kestio::panels {

class PaintedRow;
class PanelFacade;
class StyledButton;

// What the player panel shows, read from the show and the playback controllers.
struct PlayerPanelState {
    bool loaded = false;                   // a slot of the project is loaded in the player
    QString remaining;                     // timecode of the time left in the clip
    bool remainingRed = false;             // a loaded clip in its last ten seconds
    QString clipName;                      // the playback controller's clip name
    QString formatInfo;                    // "[1920x1080 29.97fps]"; empty without clip facts
    std::optional<PostRollMode> postRoll;  // the loaded slot's post-roll
    QString position;                      // "position / duration" as timecodes
    QString inPoint;                       // "IN <timecode>"; empty when not set
    QString outPoint;                      // "OUT <timecode>"; empty when not set
    bool stopEnabled = false;              // something is loaded, or MIDI learn is on
};
PlayerPanelState playerPanelState(PanelFacade& facade);

// The 16:9 rectangle, centred, that fits in a box of `size` (the program picture's letterbox).
QRect letterbox(const QSize& size);

// The player panel: the time left in the clip on air with the STOP button, the clip's name and
// format, the post-roll buttons of the slot loaded in the player, the program picture and the
// position, duration, in and out timecodes. The program picture is the output surface's own
// layer tree shown through a view of this panel, composed on the view's presenter thread.
//
// The panel fills the card it is given (the player card) with its five rows and leaves the
// card's last rows (timeline and transport) to be added after it. It lives as long as the card.
class PlayerPanel : public QObject {
  public:
    static constexpr int kContentWidth = 631;
    static constexpr int kPictureHeight = 308;

    PlayerPanel(PanelFacade& facade, platform::RunLoop& loop, ui::PanelCard& card);
    ~PlayerPanel() override;

    void refresh();
    const PlayerPanelState& state() const { return state_; }

    // The operator's actions.
    void setPostRollMode(PostRollMode mode);
    void pressStop();

    // The parts, for tests.
    StyledButton* stopButton() const { return stop_; }
    StyledButton* postRollButton(PostRollMode mode) const;
    QWidget* headerRow() const;
    QWidget* clipLine() const;
    QWidget* pictureBox() const { return pictureBox_; }
    QWidget* timecodeRow() const;
    platform::LayerView* programView() const { return programView_; }

  private:
    void build(platform::RunLoop& loop, ui::PanelCard& card);

    PanelFacade& facade_;
    PlayerPanelState state_;
    PaintedRow* header_ = nullptr;
    PaintedRow* clipLine_ = nullptr;
    PaintedRow* timecodes_ = nullptr;
    StyledButton* stop_ = nullptr;
    std::array<StyledButton*, 5> postRolls_{};
    QWidget* pictureBox_ = nullptr;
    platform::LayerView* programView_ = nullptr;
    std::vector<platform::Subscription> subscriptions_;
};

}  // namespace kestio::panels
