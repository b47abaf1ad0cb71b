#include "ui/text_fit.h"

#include <QFontMetricsF>
#include <algorithm>

namespace kestio::ui {

TextFit fitText(const QString& text, const QFont& font, double width, double minimumScale) {
    const double smallest = std::clamp(minimumScale, 0.01, 1.0);
    if (width <= 0.0) {
        return {smallest, QString()};
    }
    const QFontMetricsF metrics(font);
    const double natural = metrics.horizontalAdvance(text);
    if (natural <= width) {
        return {1.0, text};
    }
    const double scale = width / natural;
    if (scale >= smallest) {
        return {scale, text};
    }
    return {smallest, metrics.elidedText(text, Qt::ElideRight, width / smallest)};
}

}  // namespace kestio::ui
