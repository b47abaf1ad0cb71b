#pragma once

#include <QWidget>
#include <array>
#include <vector>

#include "panels/meter_peak_hold.h"
#include "platform/runloop/run_loop.h"

namespace kestio::panels {

class MeterBarView;

// The eight-channel level meter: one MeterBarView per channel, 2 points apart, equal widths;
// channels from `activeChannels` up are drawn inactive. Each change of the level array raises the
// held peaks; a 0.05-s ticker on the run loop lets them fall. It runs only while the meter is shown
// and a peak is held or falling, so a silent or hidden meter costs nothing.
class VUMeterView : public QWidget {
  public:
    explicit VUMeterView(platform::RunLoop& runLoop, QWidget* parent = nullptr);

    // The published levels (dB, -100 for silence; padded or cut to eight). An array equal to the
    // one shown changes nothing.
    void setLevels(const std::vector<float>& levels);
    void setActiveChannels(int count);

    const MeterLevels& levels() const { return levels_; }
    const MeterLevels& peaks() const { return hold_.peaks(); }
    MeterBarView* bar(int channel) const { return bars_[static_cast<std::size_t>(channel)]; }
    bool isTicking() const { return ticker_.active(); }

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    void refreshBars();
    // Starts the ticker when the meter is shown and a peak has yet to come to rest.
    void tickWhileFalling();

    platform::RunLoop& runLoop_;
    MeterLevels levels_;
    int activeChannels_ = 2;
    MeterPeakHold hold_;
    std::array<MeterBarView*, kMeterChannels> bars_{};
    platform::TimerHandle ticker_;
};

}  // namespace kestio::panels
