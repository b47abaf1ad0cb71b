#pragma once

#include <QFont>
#include <QString>

namespace kestio::ui {

// How a one-line text is fitted into a width: drawn at `scale` times its font's size, and cut
// with "…" when even the smallest allowed scale is too wide.
struct TextFit {
    double scale = 1.0;
    QString text;  // the text as drawn (elided or whole)

    friend bool operator==(const TextFit&, const TextFit&) = default;
};

// A text that fits at full size keeps it; a wider one shrinks just enough to fit, but not below
// `minimumScale` (0 to 1); at that scale, what is still too wide is elided at its end. A width of
// 0 or less gives the smallest scale and an empty text.
TextFit fitText(const QString& text, const QFont& font, double width, double minimumScale);

}  // namespace kestio::ui
