#pragma once

#include <QRectF>
#include <QWidget>
#include <optional>
#include <string>
#include <vector>

#include "app/panel_menu.h"
#include "app/panel_painting.h"

class QScrollArea;

namespace kestio {
class MIDIInputController;
class MIDIOutputController;
}  // namespace kestio

namespace kestio::app {

class SoundOutputStatus;

// The destination MIDI output uses: the chosen one, else the first listed, else none.
std::optional<std::string> effectiveDestination(const std::optional<std::string>& chosen,
                                                const std::vector<std::string>& available);

// The MIDI status panel without a view. Sources and destinations are listed by position, so
// two with the same name are both shown; a destination is chosen by name, as the output
// controller stores it, so with duplicated names the first of them is the one used.
class MIDIStatusModel {
  public:
    MIDIStatusModel(MIDIInputController& midi, MIDIOutputController& midiOut)
        : midi_(midi), midiOut_(midiOut) {}

    std::vector<std::string> sources() const;
    bool hasSources() const;
    bool inputEnabled() const;
    bool hasDestinations() const;
    // The destination menu's title: the effective destination or "Not Connected".
    std::string destinationLabel() const;
    std::vector<PanelMenuEntry> destinationMenu();

    void toggleInput();
    void refreshSources();
    void refreshDestinations();
    void selectDestination(const std::string& name);

  private:
    MIDIInputController& midi_;
    MIDIOutputController& midiOut_;
};

// The MIDI status card: header with refresh and the MIDI ON / OFF pill, the sources in a
// scroll area without scroll bars (the wheel scrolls it), and the output row with the
// destination menu. It paints the model and routes clicks to it. With `sound`, the header also
// says, after its title, when the sound output was lost, is being reconnected or is back.
class MIDIStatusPanel : public QWidget {
  public:
    MIDIStatusPanel(MIDIInputController& midi, MIDIOutputController& midiOut, QSize size,
                    SoundOutputStatus* sound = nullptr, QWidget* parent = nullptr);

    MIDIStatusModel& model() { return model_; }
    // Where the sound output's notice is drawn: its dot, then its text.
    QRectF soundNoticeRect() const;
    QRectF refreshSourcesRect() const;
    QRectF toggleRect() const;
    QRectF destinationRect() const;
    QRectF refreshDestinationsRect() const;
    // The area between the header and the output row.
    QRectF sourceAreaRect() const;
    // The scroll area of the source rows (hidden while there is no source).
    QScrollArea& sourceList() const { return *sourceList_; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    void updateSources();

    MIDIStatusModel model_;
    QScrollArea* sourceList_;  // a child
    SoundOutputStatus* sound_;
    RepaintOn repaint_{*this};
    std::vector<platform::Subscription> subscriptions_;
};

}  // namespace kestio::app
