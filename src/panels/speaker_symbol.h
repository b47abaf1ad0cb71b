#pragma once

#include <QColor>
#include <QRectF>

class QPainter;

namespace kestio::panels {

// The loudspeaker of the MUTE button, filling the square centred in `rect`: with two sound waves
// while the output sounds, crossed by a slash while it is muted.
void drawSpeaker(QPainter& painter, const QRectF& rect, const QColor& colour, bool muted);

}  // namespace kestio::panels
