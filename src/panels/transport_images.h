#pragma once

#include <QColor>
#include <QRectF>

class QPainter;

namespace kestio::panels {

// The pictures of the eleven transport buttons, left to right, drawn as vector artwork of our
// own in one colour.
enum class TransportImage {
    toInPoint,     // "[◀": go to the in point
    setIn,         // "[" with a dot: set the in point here
    clearIn,       // "[" with a cross: clear the in point
    backFrame,     // "◀|": one frame back
    play,          // "▶"
    pause,         // "❚❚"
    forwardFrame,  // "|▶": one frame forward
    thumbnail,     // a framed picture: take the slot's thumbnail
    clearOut,      // "]" with a cross
    setOut,        // "]" with a dot
    toOutPoint,    // "▶]": go to the out point
};

// Draws the picture filling the square centred in `rect`.
void drawTransportImage(QPainter& painter, const QRectF& rect, TransportImage image,
                        const QColor& colour);

}  // namespace kestio::panels
