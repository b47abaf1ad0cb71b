#pragma once

class QWidget;

namespace kestio::ui {

// Draws `widget` with everything in it at `opacity` (1: as it is), as over the grey of the panel
// card it lies on: a veil of that grey at 1 − `opacity` is laid over the widget, on top of its
// children, and lets every click and wheel turn through. Unlike a QGraphicsEffect, which Qt draws
// at the widget's unscaled place inside a scaled QGraphicsView, the veil is plain widget painting
// and shows wherever the canvas view draws the widget. Dimming a widget whose own content is
// dimmed multiplies the two opacities.
void setDimmed(QWidget& widget, double opacity);

// The opacity `widget` is drawn at by setDimmed (1 when it never was).
double dimmedOpacity(const QWidget& widget);

}  // namespace kestio::ui
