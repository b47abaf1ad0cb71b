#include "panels/meter_bar_view.h"

#include <QLinearGradient>
#include <QPainter>

#include "panels/audio_level_scale.h"
#include "ui/palette.h"

namespace kestio::panels {

namespace {

// Green to red from the bottom edge to the top edge of the whole bar, at `opacity`.
QLinearGradient barGradient(const QRectF& rect, double opacity) {
    namespace p = ui::palette;
    QLinearGradient gradient(rect.bottomLeft(), rect.topLeft());
    gradient.setColorAt(0.0, p::withOpacity(p::green(), opacity));
    gradient.setColorAt(0.48, p::withOpacity(p::green(), opacity));
    gradient.setColorAt(0.615, p::withOpacity(p::yellow(), opacity));
    gradient.setColorAt(0.75, p::withOpacity(p::orange(), opacity));
    gradient.setColorAt(1.0, p::withOpacity(p::red(), opacity));
    return gradient;
}

}  // namespace

MeterBarView::MeterBarView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void MeterBarView::setReading(float level, float peak, bool inactive) {
    if (level == level_ && peak == peak_ && inactive == inactive_) {
        return;
    }
    level_ = level;
    peak_ = peak;
    inactive_ = inactive;
    update();
}

void MeterBarView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    paint(painter, QRectF(rect()), level_, peak_, inactive_);
}

void MeterBarView::paint(QPainter& painter, const QRectF& rect, float level, float peak,
                         bool inactive) {
    if (inactive) {
        painter.fillRect(rect, ui::palette::white(0.12));
        return;
    }
    const double h = rect.height();
    const double travel = h - 2.0 * kTravelInset;
    painter.fillRect(rect, barGradient(rect, 0.18));
    if (level > kMinDB) {
        const double lit = travel * meterPosition(level) + kTravelInset;
        const QRectF litRect(rect.left(), rect.bottom() - lit, rect.width(), lit);
        painter.fillRect(litRect.intersected(rect), barGradient(rect, 1.0));
        if (peak > kMinDB) {
            const double y = rect.top() + h - kTravelInset - travel * meterPosition(peak);
            const QColor marker = peak > 0.0f ? ui::palette::red() : QColor(Qt::white);
            painter.fillRect(QRectF(rect.left(), y - 1.0, rect.width(), 2.0), marker);
        }
    }
}

}  // namespace kestio::panels
