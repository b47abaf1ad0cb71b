#include "panels/vu_meter_view.h"

#include <QHBoxLayout>

#include "panels/meter_bar_view.h"

namespace kestio::panels {

VUMeterView::VUMeterView(platform::RunLoop& runLoop, QWidget* parent)
    : QWidget(parent), runLoop_(runLoop), levels_(meterLevels({})) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(2);
    for (auto& bar : bars_) {
        bar = new MeterBarView;
        row->addWidget(bar, 1);
    }
    refreshBars();
}

void VUMeterView::setLevels(const std::vector<float>& levels) {
    const MeterLevels next = meterLevels(levels);
    if (next == levels_) {
        return;
    }
    levels_ = next;
    hold_.capture(levels_, runLoop_.now());
    refreshBars();
    tickWhileFalling();
}

void VUMeterView::setActiveChannels(int count) {
    activeChannels_ = count;
    refreshBars();
}

void VUMeterView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    tickWhileFalling();
}

void VUMeterView::hideEvent(QHideEvent* event) {
    ticker_.cancel();
    QWidget::hideEvent(event);
}

void VUMeterView::tickWhileFalling() {
    if (ticker_.active() || !isVisible() || hold_.resting()) {
        return;
    }
    ticker_ = runLoop_.every(MeterPeakHold::kTickSeconds, [this] {
        hold_.tick(runLoop_.now());
        refreshBars();
        if (hold_.resting()) {
            ticker_.cancel();
        }
    });
}

void VUMeterView::refreshBars() {
    for (int ch = 0; ch < kMeterChannels; ++ch) {
        const auto i = static_cast<std::size_t>(ch);
        bars_[i]->setReading(levels_[i], hold_.peaks()[i], ch >= activeChannels_);
    }
}

}  // namespace kestio::panels
