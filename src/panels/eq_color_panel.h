#pragma once

#include <QObject>
#include <QPointer>
#include <array>
#include <optional>
#include <vector>

#include "platform/runloop/published.h"
#include "ui/popover.h"  // complete for QPointer<Popover>

class QLineEdit;
class QMenu;
class QStackedWidget;
class QWidget;

namespace kestio::ui {
class FittedLabel;
class PanelCard;
}  // namespace kestio::ui

namespace kestio::panels {

class EQBandSlider;
class PanelFacade;
class StyledButton;

// The EQ and colour panel: a header of two tabs and "reset", over the six equaliser band
// sliders or the eight colour sliders of the slot loaded in the player. Every edit writes the
// slot, marks the project unsaved and then hands the slot's whole equaliser to the sound chain
// of the playback slot on air, or its whole colour settings to the picture on air (the next
// composed picture shows them). With no slot loaded, or under the edit lock, nothing writes.
// A colour row also takes a typed value through its context menu's "Enter Value…".
//
// The panel fills the card it is given (the EQ and colour card) and lives as long as it.
class EqColorPanel : public QObject {
  public:
    EqColorPanel(PanelFacade& facade, ui::PanelCard& card);
    ~EqColorPanel() override;

    void refresh();

    // The operator's actions.
    void selectTab(int tab);
    void reset();
    void setBand(std::size_t band, double value);
    void setColorPosition(std::size_t row, double position);
    void resetRowToDefault(std::size_t row);
    void beginValueEntry(std::size_t row);
    void commitValueEntry();
    void cancelValueEntry();

    // The parts, for tests.
    StyledButton* tabButton(int tab) const { return tabs_[std::size_t(tab == 0 ? 0 : 1)]; }
    StyledButton* resetButton() const { return reset_; }
    EQBandSlider* bandSlider(std::size_t band) const { return bandSliders_[band]; }
    EQBandSlider* colorSlider(std::size_t row) const { return colorSliders_[row]; }
    QString bandReadout(std::size_t band) const;
    QString colorReadout(std::size_t row) const;
    QWidget* content() const;
    QLineEdit* entryField() const { return entryField_; }
    ui::Popover* entryPopover() const { return popover_; }
    QMenu* makeRowMenu(std::size_t row);

  private:
    void build(ui::PanelCard& card);
    QWidget* buildColumn(QWidget* slider, ui::FittedLabel*& readout, const QString& label);
    // The loaded slot when it may be edited (loaded, edit lock off).
    bool editable() const;
    void writeColor(std::size_t row, float value);
    void syncPopover();

    PanelFacade& facade_;
    std::array<StyledButton*, 2> tabs_{};
    StyledButton* reset_ = nullptr;
    QStackedWidget* pages_ = nullptr;
    std::array<EQBandSlider*, 6> bandSliders_{};
    std::array<ui::FittedLabel*, 6> bandReadouts_{};
    std::array<EQBandSlider*, 8> colorSliders_{};
    std::array<ui::FittedLabel*, 8> colorReadouts_{};
    std::array<ui::FittedLabel*, 8> colorLabels_{};
    // The value entry of the colour row it was opened for.
    QPointer<ui::Popover> popover_;
    QLineEdit* entryField_ = nullptr;
    std::optional<std::size_t> popoverRow_;
    std::vector<platform::Subscription> subscriptions_;
};

}  // namespace kestio::panels
