#include "panels/vu_scale_labels.h"

#include <QFontMetricsF>
#include <QPainter>

#include "panels/audio_level_scale.h"
#include "ui/fonts.h"
#include "ui/palette.h"

namespace kestio::panels {

std::vector<VUScaleLabels::Tick> VUScaleLabels::standardTicks() {
    return {{12, QStringLiteral("+10")},  {6, QStringLiteral("+6")},
            {0, QStringLiteral("0")},     {-6, QStringLiteral("-6")},
            {-10, QStringLiteral("-10")}, {-20, QStringLiteral("-20")},
            {-30, QStringLiteral("-30")}, {-40, QStringLiteral("-∞")}};
}

VUScaleLabels::VUScaleLabels(std::vector<Tick> ticks, QWidget* parent)
    : QWidget(parent), ticks_(std::move(ticks)) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

double VUScaleLabels::tickY(float db) const {
    return travelY(height(), meterPosition(db));
}

void VUScaleLabels::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    const QFont font = ui::fonts::monospaced(10);
    painter.setFont(font);
    const QFontMetricsF metrics(font);
    for (const Tick& tick : ticks_) {
        const double y = tickY(tick.db);
        const bool zero = tick.db == 0.0f;
        const QSizeF mark = zero ? QSizeF(6, 1.2) : QSizeF(4, 0.8);
        painter.fillRect(QRectF(QPointF(5 - mark.width() / 2, y - mark.height() / 2), mark),
                         ui::palette::white(zero ? 0.7 : 0.45));
        painter.setPen(ui::palette::white(zero ? 0.8 : 0.5));
        const double textWidth = metrics.horizontalAdvance(tick.label);
        const QRectF box(22 - textWidth / 2 - 1, y - metrics.height() / 2, textWidth + 2,
                         metrics.height());
        painter.drawText(box, Qt::AlignCenter, tick.label);
    }
}

}  // namespace kestio::panels
