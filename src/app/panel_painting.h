#pragma once

#include <QColor>
#include <QFont>
#include <QRectF>
#include <QString>
#include <QWidget>
#include <vector>

#include "platform/runloop/published.h"

class QPainter;

namespace kestio::app {

// Drawing steps shared by the side panels (they paint themselves at design size).
void fillRounded(QPainter& painter, const QRectF& rect, double radius, const QColor& color);
// A stroke of `width` centred on the rounded rectangle's edge (butt caps, mitre joins).
void strokeRounded(QPainter& painter, const QRectF& rect, double radius, const QColor& color,
                   double width);
void fillDot(QPainter& painter, QPointF centre, double diameter, const QColor& color);
// One line of text in `rect`, cut with "…" when it does not fit.
void drawLine(QPainter& painter, const QRectF& rect, const QString& text, const QFont& font,
              const QColor& color, Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter);
// The width `text` takes in `font`.
double textWidth(const QString& text, const QFont& font);

// Keeps `widget` repainted on every change of the published values.
class RepaintOn {
  public:
    explicit RepaintOn(QWidget& widget) : widget_(widget) {}
    template <class T>
    RepaintOn& operator()(platform::Published<T>& value) {
        subscriptions_.push_back(value.subscribe([w = &widget_](const T&) { w->update(); }));
        return *this;
    }

  private:
    QWidget& widget_;
    std::vector<platform::Subscription> subscriptions_;
};

}  // namespace kestio::app
