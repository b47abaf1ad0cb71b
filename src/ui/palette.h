#pragma once

#include <QColor>

namespace kestio::ui {

// The colours of the views: one dark scheme, sRGB. Greys are named by their white level
// (0 black, 1 white); the named colours are the dark scheme's system colours.
namespace palette {

// The grey of white level `white` (0 to 1) at the given opacity.
QColor white(double white, double opacity = 1.0);
// Black at the given opacity.
QColor black(double opacity);
// `color` with its opacity multiplied by `opacity`.
QColor withOpacity(QColor color, double opacity);

QColor windowBackground();  // white 0.196
QColor primaryLabel();      // white at opacity 0.85
QColor secondaryLabel();    // white at opacity 0.55

QColor red();
QColor green();
QColor orange();
QColor yellow();
QColor blue();  // also the accent colour
QColor cyan();
QColor gray();

}  // namespace palette
}  // namespace kestio::ui
