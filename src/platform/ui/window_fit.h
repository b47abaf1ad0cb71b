#pragma once

#include <QMargins>
#include <QRect>
#include <QSize>

class QScreen;
class QWidget;

namespace kestio::platform {

// What the window manager is taken to add around a window (title bar, borders) before it has
// said what it adds.
inline constexpr QMargins kAssumedWindowFrame{8, 40, 8, 8};

// The content rectangle of a top-level window whose content would be `wanted`, placed so that
// the window with its `frame` is seen whole and centred in `available` (a screen's area left
// free by panels and docks): smaller where it must be, never below `least`.
QRect fittedCentred(QSize wanted, QSize least, const QRect& available, const QMargins& frame);

// The screen of the window the operator works in (the active one), else the primary screen:
// where a floating panel opens.
QScreen* activeWindowScreen();

// The frame around `window` as the window manager has said it is; null until it has.
QMargins frameOf(const QWidget& window);

// Places the top-level `window` on `screen` as fittedCentred() says, from `wanted`, its minimum
// size and `frame`.
void placeFittedCentred(QWidget& window, QScreen& screen, QSize wanted, const QMargins& frame);

// Places the top-level `window`, not yet shown, by placeFittedCentred() with the frame assumed,
// and once more with the frame the window manager puts around it, as soon as that is known.
void placeFittedCentredOnceFramed(QWidget& window, QScreen& screen, QSize wanted);

// Makes the top-level `window`, about to be shown for the first time, seen whole on `screen`
// with its frame: where it is too large for the screen's free area it is made smaller and
// centred; once the window manager has framed it, it is made so again if it is not seen whole.
void keepWholeOnScreen(QWidget& window, QScreen& screen);

}  // namespace kestio::platform
