#pragma once

#include <QObject>
#include <QString>
#include <array>
#include <optional>
#include <vector>

#include "model/model_enums.h"
#include "model/slot_data.h"
#include "model/slot_value_ranges.h"
#include "panels/edit_target.h"
#include "platform/runloop/published.h"

namespace kestio::ui {
class PanelCard;
}

namespace kestio::panels {

class CompactSlider;
class EditableValueLabel;
class PanelFacade;
class StyledButton;

// The clip settings panel's texts and scales.
namespace clip_settings {

inline constexpr double kDissolveMin = kDissolveDurationRange.lower;
inline constexpr double kDissolveMax = kDissolveDurationRange.upper;
inline constexpr double kRateMin = kPlayRateRange.lower;
inline constexpr double kRateMax = kPlayRateRange.upper;
// The rate slider runs over log2 of the rate: log2(0.1) to log2(8).
inline constexpr double kRateSliderMin = -3.321928094887362;
inline constexpr double kRateSliderMax = 3.0;

QString formatDissolveTime(double seconds);                    // "1.00 s"
std::optional<double> parseDissolveTime(const QString& text);  // trims s, S and blanks
QString formatPlayRate(double rate);                           // "x1.00"
std::optional<double> parsePlayRate(const QString& text);      // trims x, X and blanks
// The rate a typed value writes: within 0.1 to 8; a NaN gives 0.1.
double fieldRate(double value);
// The rate slider's position of a stored rate: log2 of the rate raised to at least 0.1 (a NaN
// counts as 0.1); a rate above 8 lies past the end, where the slider draws it at the end.
double rateSliderPosition(double rate);
// The rate a slider position writes: 2 to the power of the position, snapped to exactly 1 when
// within 0.05 of it (the band's ends excluded), then kept within 0.1 to 8.
double sliderRate(double position);

}  // namespace clip_settings

// The clip settings panel: the transition of the slot loaded in the player (Cut Go or Dissolve),
// its dissolve time and its play rate (typed, on a logarithmic slider, or reset to 1). Every edit
// writes the slot, then marks the project unsaved; a rate edit then sets the rate of the clip on
// air. The transition and the dissolve time are read when the slot is next played. With no slot
// loaded the controls are shown inactive and write nothing.
//
// The panel fills the card it is given (the clip settings card) and lives as long as it.
class ClipSettingsPanel : public QObject {
  public:
    ClipSettingsPanel(PanelFacade& facade, ui::PanelCard& card);
    ~ClipSettingsPanel() override;

    // Reads the loaded slot again and shows it.
    void refresh();

    // The operator's actions.
    void setTransitionMode(TransitionMode mode);
    void resetPlayRate();

    // The controls, for tests.
    StyledButton* transitionButton(TransitionMode mode) const;
    StyledButton* resetButton() const { return reset_; }
    EditableValueLabel* dissolveField() const { return dissolveField_; }
    EditableValueLabel* rateField() const { return rateField_; }
    CompactSlider* dissolveSlider() const { return dissolveSlider_; }
    CompactSlider* rateSlider() const { return rateSlider_; }

  private:
    void build(ui::PanelCard& card);

    PanelFacade& facade_;
    EditTarget target_;
    std::array<StyledButton*, 2> transitions_{};
    EditableValueLabel* dissolveField_ = nullptr;
    EditableValueLabel* rateField_ = nullptr;
    CompactSlider* dissolveSlider_ = nullptr;
    CompactSlider* rateSlider_ = nullptr;
    StyledButton* reset_ = nullptr;
    std::vector<platform::Subscription> subscriptions_;
};

}  // namespace kestio::panels
