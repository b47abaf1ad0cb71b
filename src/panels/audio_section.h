#pragma once

#include <QObject>
#include <QString>
#include <array>
#include <optional>
#include <vector>

#include "model/slot_data.h"
#include "model/slot_value_ranges.h"
#include "panels/edit_target.h"
#include "platform/runloop/published.h"
#include "platform/runloop/run_loop.h"

namespace kestio::ui {
class FittedLabel;
class PanelCard;
}  // namespace kestio::ui

namespace kestio::panels {

class EditableValueLabel;
class PanelFacade;
class StyledButton;
class VerticalFader;
class VUMeterView;

// The gain readout's text and parser.
namespace gain {

inline constexpr double kMin = kMasterLevelRange.lower;
inline constexpr double kMax = kMasterLevelRange.upper;

// In single precision: at or below -40 dB "-∞ dB", else "%+.1f dB".
QString format(double gainDB);
// Trims d, D, b, B, blanks and tabs from both ends and reads the rest as a number.
std::optional<double> parse(const QString& text);

}  // namespace gain

// The audio section: the output device's name, the program output's MUTE, the gain of the slot
// loaded in the player on a fader with a typed readout, the level meter with its scale, and the
// choice between RMS and PPM metering. A gain edit writes the slot, marks the project unsaved,
// then applies the slot's volume to the clip on air. MUTE and the meter mode are settings of the
// running program only: they never touch the project.
//
// The panel fills the card it is given (the audio card) and lives as long as it.
class AudioSection : public QObject {
  public:
    AudioSection(PanelFacade& facade, platform::RunLoop& loop, ui::PanelCard& card);
    ~AudioSection() override;

    void refresh();

    // The operator's actions.
    void pressMute();
    void chooseMeterMode(bool peak);

    // What the gain readout shows: the typed value field, or a fixed text.
    bool showsGainField() const;
    QString gainReadoutText() const;

    // The controls, for tests.
    ui::FittedLabel* deviceLine() const { return device_; }
    StyledButton* muteButton() const { return mute_; }
    VerticalFader* fader() const { return fader_; }
    VUMeterView* meter() const { return meter_; }
    EditableValueLabel* gainField() const { return gainField_; }
    StyledButton* modeButton(bool peak) const { return modes_[peak ? 1 : 0]; }

  private:
    void writeGain(double gainDB);
    void build(platform::RunLoop& loop, ui::PanelCard& card);
    void refreshLevels();

    PanelFacade& facade_;
    EditTarget target_;
    ui::FittedLabel* device_ = nullptr;
    StyledButton* mute_ = nullptr;
    VerticalFader* fader_ = nullptr;
    VUMeterView* meter_ = nullptr;
    EditableValueLabel* gainField_ = nullptr;
    QWidget* gainFieldRow_ = nullptr;
    ui::FittedLabel* gainText_ = nullptr;
    std::array<StyledButton*, 2> modes_{};
    std::vector<platform::Subscription> subscriptions_;
};

}  // namespace kestio::panels
