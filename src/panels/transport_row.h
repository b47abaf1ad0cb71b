#pragma once

#include <QObject>
#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "panels/transport_images.h"
#include "platform/runloop/published.h"

class QWidget;

namespace kestio::ui {
class PanelCard;
}

namespace kestio::panels {

class PanelFacade;
class StyledButton;
class TimelineBar;

// The player panel's last two rows: the timeline bar and the eleven transport buttons (go to
// in, set in, clear in, frame back, PLAY, Pause, frame forward, thumbnail, clear out, set out,
// go to out). The buttons act on the slot loaded in the player as it stood at the last redraw.
// Setting or clearing an in or out point writes only that point, unchecked against the other
// one or the clip, and marks the project unsaved; the playback controller reads the points from
// the project as it plays. In MIDI learn, PLAY and Pause arm learning for "play" and "pause"
// instead of acting.
//
// The rows are added to the card given (the player card, after the player panel's rows) and
// live as long as it.
class TransportRow : public QObject {
  public:
    static constexpr int kRowHeight = 42;
    static constexpr int kButtonHeight = 38;
    static constexpr int kInset = 4;

    // `captureThumbnail` takes a thumbnail of (bank, slot).
    TransportRow(PanelFacade& facade, ui::PanelCard& card,
                 std::function<void(int bank, int slot)> captureThumbnail);
    ~TransportRow() override;

    void refresh();

    // The operator's actions.
    void seekToInPoint();
    void seekToOutPoint();
    void setInPoint();
    void clearInPoint();
    void setOutPoint();
    void clearOutPoint();
    void stepFrame(int direction);
    void playPause(const std::string& key, bool play);
    void takeThumbnail();

    // The parts, for tests.
    StyledButton* button(TransportImage image) const;
    TimelineBar* timeline() const { return timeline_; }
    QWidget* buttonRow() const { return row_; }

  private:
    // Writes a point of the slot the row last showed as loaded.
    void writePoint(bool in, std::optional<double> value);

    PanelFacade& facade_;
    std::function<void(int, int)> captureThumbnail_;
    // The loaded slot at the last redraw (bank, slot).
    std::optional<std::pair<int, int>> shown_;
    TimelineBar* timeline_ = nullptr;
    QWidget* row_ = nullptr;
    std::array<StyledButton*, 11> buttons_{};
    std::vector<platform::Subscription> subscriptions_;
};

}  // namespace kestio::panels
