#pragma once

#include <QSizeF>

#include "grid/slot_cell_look.h"

class QPainter;

namespace kestio::grid {

// Paints a cell's look into the rectangle (0, 0, size) of the painter, in points of the design
// canvas: background, stretched thumbnail, duration badge and post-roll mark, the header with
// the key tag, name and transition mark, then the state frames, badges and MIDI labels.
void paintSlotCell(QPainter& painter, QSizeF size, const SlotCellLook& look);

inline constexpr double kCellCornerRadius = 6;
inline constexpr double kFrameCornerRadius = 4;

}  // namespace kestio::grid
