#pragma once

#include <QColor>
#include <QRectF>

class QPainter;

namespace kestio::ui {

// The small single-colour pictures of the views: post-roll and transition marks, badge marks
// and toolbar symbols. Each is drawn as vector artwork filling the square centred in a rect.
enum class Symbol {
    none,
    // post-roll modes
    nextGo,
    freeze,
    loop,
    black,
    jump,
    // transitions
    cut,
    dissolve,
    // badges
    warningTriangleFill,
    checkmarkCircleFill,
    // toolbar
    checkmarkCircle,
    pianoKeys,
    listBullet,
    eye,
    eyeSlash,
    turnRight,
    docOnDoc,
    trash,
    // project toolbar and side panels
    link,
    clockArrowCirclepath,
    arrowClockwise,
    checkmark,
};

void drawSymbol(QPainter& painter, const QRectF& rect, Symbol symbol, const QColor& color);

}  // namespace kestio::ui
