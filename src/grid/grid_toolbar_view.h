#pragma once

#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "grid/grid_toolbar_model.h"

namespace kestio::grid {

// The grid's toolbar bar: paints a toolbar face and reports which control was pressed (a
// disabled one reports nothing; a switch group reports its control). It paints in design
// points scaled by `scale`.
class GridToolbarView : public QWidget {
  public:
    struct MIDIStatus {
        bool inConnected = false;
        std::string inMessage;
        bool outConnected = false;
        std::string outMessage;
        bool operator==(const MIDIStatus&) const = default;
    };

    explicit GridToolbarView(QWidget* parent = nullptr);

    void setFace(ToolbarFace face);
    void setMIDIStatus(MIDIStatus status);
    void setScale(double scale);
    const ToolbarFace& face() const { return face_; }

    // Where each item of the face stands, in design points of the bar.
    std::vector<QRectF> itemRects() const;

    std::function<void(ToolbarControl)> onPress;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    bool event(QEvent* event) override;

  private:
    QSizeF itemSize(const ToolbarItem& item) const;
    int itemAt(QPointF designPoint) const;

    ToolbarFace face_;
    MIDIStatus status_;
    double scale_ = 1.0;
};

}  // namespace kestio::grid
