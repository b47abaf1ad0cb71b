#pragma once

#include <QFont>

#include "model/app_language.h"

namespace kestio::ui {

// The fonts of the views. Sizes are pixel sizes of the design canvas (the canvas is scaled as a
// whole), never point sizes that depend on the screen's resolution.
namespace fonts {

// The family that Japanese text is set in, chosen explicitly so that kanji and kana never come
// from a Chinese or Korean face of the fallback chain.
inline constexpr const char* kJapaneseFamily = "Noto Sans CJK JP";
inline constexpr const char* kLatinFamily = "DejaVu Sans";
inline constexpr const char* kMonoFamily = "DejaVu Sans Mono";

// The interface font for text of the given language: Japanese text in Noto Sans CJK JP, English
// text in the Latin family with Noto Sans CJK JP behind it (for Japanese names shown in English).
QFont system(double pixelSize, QFont::Weight weight, AppLanguage language);
// The same, for the shared manager's current language.
QFont system(double pixelSize, QFont::Weight weight = QFont::Normal);

// The monospaced design of the interface font (readouts); Japanese glyphs fall back to
// Noto Sans CJK JP.
QFont monospaced(double pixelSize, QFont::Weight weight = QFont::Normal);

}  // namespace fonts
}  // namespace kestio::ui
