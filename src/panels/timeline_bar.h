#pragma once

#include <QWidget>
#include <vector>

#include "platform/runloop/published.h"

namespace kestio::panels {

class PanelFacade;

// The player panel's timeline: the position of the clip on air, its in-to-out range with the in
// and out marks and, when the loaded slot has one, its sound's waveform. A tap seeks to the time
// under it; a drag of the playhead shows the time under the pointer (the clip plays on) and
// seeks once, where it is let go. A bar without width takes no input.
class TimelineBar : public QWidget {
  public:
    static constexpr int kHeight = 24;
    static constexpr double kPlayheadSize = 12;

    explicit TimelineBar(PanelFacade& facade, QWidget* parent = nullptr);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    enum class Gesture { none, tap, drag };

    double playheadX() const;
    void dragTo(double x);

    PanelFacade& facade_;
    Gesture gesture_ = Gesture::none;
    std::vector<platform::Subscription> subscriptions_;
};

}  // namespace kestio::panels
