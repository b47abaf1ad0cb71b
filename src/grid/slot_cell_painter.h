#pragma once

#include <QImage>
#include <QSizeF>

#include "grid/slot_cell_look.h"

class QPainter;

namespace kestio::grid {

// Paints a cell's look into the rectangle (0, 0, size) of the painter, in points of the design
// canvas: background, stretched thumbnail, duration badge and post-roll mark, the header with
// the key tag, name and transition mark, then the state frames, badges and MIDI labels.
void paintSlotCell(QPainter& painter, QSizeF size, const SlotCellLook& look);

// The same cell as an image of `pixels` device pixels, `scale` device pixels a design point,
// transparent outside its rounded corners. Cheaper than painting through the rounded clip:
// the corners are cut once at the end.
QImage renderSlotCell(QSize pixels, double scale, const SlotCellLook& look);

inline constexpr double kCellCornerRadius = 6;
inline constexpr double kFrameCornerRadius = 4;

}  // namespace kestio::grid
