#pragma once

#include <QObject>
#include <array>
#include <vector>

#include "model/model_enums.h"
#include "platform/runloop/published.h"

class QLabel;
class QLineEdit;
class QSlider;
class QWidget;

namespace kestio::panels {

class PanelFacade;
class StyledButton;

// The GEOMETRY card's content: the three mode buttons in its title row, and below it the X and
// Y position rows (Original and Custom) and the W% and H% scale rows with the ratio lock
// (Custom). Every edit writes the loaded slot's geometry, hands it to the output (the picture
// moves while a slider is dragged), then marks the project unsaved. A typed value beyond the
// sliders' travel is stored at the nearer end of it, as a slot read from disk is kept there. With
// no slot loaded, or under the edit lock, nothing writes. The ratio lock is a setting of the
// running program: its button never marks the project unsaved.
class GeometrySection : public QObject {
  public:
    // `buttonRow` is the title row the mode buttons are appended to (its layout must be a box
    // layout); `controls` the area the rows fill.
    GeometrySection(PanelFacade& facade, QWidget& buttonRow, QWidget& controls);
    ~GeometrySection() override;

    void refresh();

    // The operator's actions.
    void setGeometryMode(GeometryMode mode);
    void setPosX(double value);
    void setPosY(double value);
    void setScaleX(double value);
    void setScaleY(double value);
    void toggleRatioLock();

    // The parts, for tests: 0 X, 1 Y, 2 W%, 3 H%.
    StyledButton* modeButton(GeometryMode mode) const { return modes_[std::size_t(mode)]; }
    QSlider* slider(int row) const { return sliders_[std::size_t(row)]; }
    QLineEdit* field(int row) const { return fields_[std::size_t(row)]; }
    StyledButton* lockButton() const { return lock_; }
    QWidget* positionRows() const { return positionRows_; }
    QWidget* scaleRow() const { return scaleRow_; }
    QLabel* placeholder() const { return placeholder_; }
    QWidget* controls() const { return controls_; }

  private:
    template <typename Edit>
    void edit(Edit&& change);
    QWidget* buildRow(int row, const char* label, int labelWidth, int fieldWidth, int fontSize);

    PanelFacade& facade_;
    QWidget* controls_;
    std::array<StyledButton*, 3> modes_{};
    std::array<QSlider*, 4> sliders_{};
    std::array<QLineEdit*, 4> fields_{};
    StyledButton* lock_ = nullptr;
    QWidget* positionRows_ = nullptr;
    QWidget* scaleRow_ = nullptr;
    QLabel* placeholder_ = nullptr;
    bool refreshing_ = false;
    std::vector<platform::Subscription> subscriptions_;
};

}  // namespace kestio::panels
