#include "panels/timeline_bar.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

#include "panels/panel_facade.h"
#include "panels/panel_refresh.h"
#include "panels/timeline_scale.h"
#include "ui/palette.h"

namespace kestio::panels {

namespace {

// The blue of the played part of the plain bar.
QColor progressBlue() {
    return QColor::fromRgbF(0.0f, 0.78f, 0.95f);
}

TimelineScale scaleOf(PanelFacade& facade) {
    const auto loaded = loadedSlot(facade);
    return timelineScale(facade.playback().duration().get(), facade.playback().currentTime().get(),
                         loaded ? loaded->data->inPoint : std::nullopt,
                         loaded ? loaded->data->outPoint : std::nullopt);
}

// A mark: a 1.5-point line over the bar's height under a triangle pointing down from the top.
void drawMark(QPainter& p, double x, double height, const QColor& colour) {
    QPen pen(colour, 1.5, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
    pen.setMiterLimit(10);
    p.setPen(pen);
    p.drawLine(QPointF(x, 0), QPointF(x, height));
    p.setPen(Qt::NoPen);
    QPainterPath triangle;
    triangle.moveTo(x - 4, 0);
    triangle.lineTo(x + 4, 0);
    triangle.lineTo(x, 7);
    triangle.closeSubpath();
    p.fillPath(triangle, colour);
}

}  // namespace

TimelineBar::TimelineBar(PanelFacade& facade, QWidget* parent) : QWidget(parent), facade_(facade) {
    setFixedHeight(kHeight);
    refreshOnLoadedSlot(
        subscriptions_, facade_, [this] { update(); }, facade_.playback().currentTime(),
        facade_.playback().duration());
}

double TimelineBar::playheadX() const {
    return width() * scaleOf(facade_).played;
}

void TimelineBar::paintEvent(QPaintEvent*) {
    const double w = width();
    const double h = height();
    if (w <= 0 || h <= 0) {
        return;
    }
    const TimelineScale s = scaleOf(facade_);
    const auto loaded = loadedSlot(facade_);
    const auto* waveform = loaded && drawsWaveform(loaded->data->waveformData)
                               ? &*loaded->data->waveformData
                               : nullptr;
    const double xIn = w * s.inFraction;
    const double xOut = w * s.outFraction;
    const double played = w * s.played;

    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    if (waveform == nullptr) {
        QPainterPath background;
        background.addRoundedRect(QRectF(0, 0, w, h), 3, 3);
        p.fillPath(background, ui::palette::withOpacity(ui::palette::gray(), 0.25));
        if (xIn < xOut) {
            p.fillRect(QRectF(xIn, 0, xOut - xIn, h),
                       ui::palette::withOpacity(ui::palette::green(), 0.18));
        }
        if (played > 0) {
            QPainterPath progress;
            progress.addRoundedRect(QRectF(0, 0, played, h), 3, 3);
            p.fillPath(progress, progressBlue());
        }
    } else {
        // The band covers the span between the points whichever way round they lie.
        p.fillRect(QRectF(std::min(xIn, xOut), 0, std::abs(xOut - xIn), h),
                   ui::palette::withOpacity(ui::palette::green(), 0.08));
        const auto n = waveform->size();
        const double step = std::max(w / double(n), 1.0);
        const QColor playedColour = ui::palette::withOpacity(ui::palette::green(), 0.7);
        const QColor restColour = ui::palette::withOpacity(ui::palette::gray(), 0.7);
        QPen pen;
        pen.setWidthF(std::max(step * 0.7, 1.0));
        pen.setCapStyle(Qt::FlatCap);
        for (std::size_t i = 0; i < n; ++i) {
            const double x = step * double(i) + step / 2;
            const double value = std::isfinite((*waveform)[i]) ? (*waveform)[i] : 0.0;
            const double a = h / 2 * value * 0.6;
            pen.setColor(double(i) / double(n) <= s.played ? playedColour : restColour);
            p.setPen(pen);
            p.drawLine(QPointF(x, h / 2 - a), QPointF(x, h / 2 + a));
        }
        p.setPen(Qt::NoPen);
    }
    if (s.showInMark) {
        drawMark(p, xIn, h, ui::palette::withOpacity(ui::palette::yellow(), 0.9));
    }
    if (s.showOutMark) {
        drawMark(p, xOut, h, ui::palette::withOpacity(ui::palette::orange(), 0.9));
    }
    // The playhead, its centre on the played fraction, with a soft shadow.
    const QPointF centre(played, h / 2);
    const double r = kPlayheadSize / 2;
    for (int ring = 2; ring >= 1; --ring) {
        p.setBrush(ui::palette::black(0.5 / (ring + 1)));
        p.drawEllipse(centre, r + ring, r + ring);
    }
    p.setBrush(Qt::white);
    p.drawEllipse(centre, r, r);
}

void TimelineBar::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || width() <= 0) {
        return;
    }
    const double x = event->position().x();
    if (std::abs(x - playheadX()) <= kPlayheadSize / 2) {
        gesture_ = Gesture::drag;
        dragTo(x);
    } else {
        gesture_ = Gesture::tap;
    }
}

void TimelineBar::mouseMoveEvent(QMouseEvent* event) {
    if (gesture_ == Gesture::drag) {
        dragTo(event->position().x());
    }
}

void TimelineBar::mouseReleaseEvent(QMouseEvent* event) {
    const Gesture gesture = std::exchange(gesture_, Gesture::none);
    if (gesture == Gesture::none || event->button() != Qt::LeftButton) {
        return;
    }
    const auto time = scaleOf(facade_).timeAt(event->position().x(), width());
    if (gesture == Gesture::drag) {
        if (time) {
            facade_.playback().seek(*time);
        }
        facade_.playback().setSeeking(false);
    } else if (time) {
        facade_.playback().seek(*time);
    }
}

void TimelineBar::dragTo(double x) {
    const auto time = scaleOf(facade_).timeAt(x, width());
    if (!time) {
        return;
    }
    facade_.playback().setSeeking(true);
    facade_.playback().currentTime().set(*time);
}

}  // namespace kestio::panels
