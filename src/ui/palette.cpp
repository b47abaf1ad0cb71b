#include "ui/palette.h"

#include <algorithm>
#include <cmath>

namespace kestio::ui::palette {

namespace {
int channel(double level) {
    return static_cast<int>(std::lround(std::clamp(level, 0.0, 1.0) * 255.0));
}
}  // namespace

QColor white(double white, double opacity) {
    const int v = channel(white);
    return QColor(v, v, v, channel(opacity));
}

QColor black(double opacity) {
    return QColor(0, 0, 0, channel(opacity));
}

QColor withOpacity(QColor color, double opacity) {
    color.setAlphaF(static_cast<float>(std::clamp(color.alphaF() * opacity, 0.0, 1.0)));
    return color;
}

QColor windowBackground() {
    return white(0.196);
}
QColor primaryLabel() {
    return white(1.0, 0.85);
}
QColor secondaryLabel() {
    return white(1.0, 0.55);
}

QColor red() {
    return QColor(0xFF, 0x45, 0x3A);
}
QColor green() {
    return QColor(0x32, 0xD7, 0x4B);
}
QColor orange() {
    return QColor(0xFF, 0x9F, 0x0A);
}
QColor yellow() {
    return QColor(0xFF, 0xD6, 0x0A);
}
QColor blue() {
    return QColor(0x0A, 0x84, 0xFF);
}
QColor cyan() {
    return QColor(0x64, 0xD2, 0xFF);
}
QColor gray() {
    return QColor(0x98, 0x98, 0x9D);
}

}  // namespace kestio::ui::palette
