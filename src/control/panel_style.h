#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QString>
#include <string>

namespace kestio {

// The look shared by the control panels: a fixed dark scheme, the accent colours, fonts and
// the small symbols drawn in place of icon images.
namespace panel_style {

// An opaque grey of the given white level (0 to 1).
QColor grey(double white);
QColor accentGreen();
QColor accentOrange();
QColor accentCyan();
// "rgba(r, g, b, a)" for style sheets.
QString css(const QColor& color);

// The interface font at a pixel size and weight; Japanese text is set in Noto Sans CJK JP
// (also as the fallback for Japanese names shown in English).
QFont uiFont(int pixelSize, QFont::Weight weight = QFont::Normal);
// The monospaced font.
QFont monoFont(int pixelSize, QFont::Weight weight = QFont::Normal);

enum class Symbol { clear, edit, sparkles, sortArrows };
// A symbol drawn at `size` pixels in `color`.
QIcon symbolIcon(Symbol symbol, const QColor& color, int size);

QString qs(const std::string& text);

}  // namespace panel_style
}  // namespace kestio
