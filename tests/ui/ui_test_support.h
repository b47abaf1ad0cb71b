#pragma once

#include <QColor>
#include <QImage>
#include <QPoint>
#include <QString>
#include <filesystem>

#include "model/app_language.h"

class QWidget;

namespace kestio::test {

// Sets the language of the shared localisation manager.
void setLanguage(AppLanguage language);

// The folder where tests leave files for a person to look at (screenshots).
std::filesystem::path testOutputDir();

// The widget drawn into an image at one pixel per point, on `background` (so that what the widget
// leaves unpainted reads as that colour).
QImage render(QWidget& widget, const QColor& background = Qt::black);

// Writes the image as <name>.png into the test output folder.
void saveShot(const QImage& image, const QString& name);

// A double-click as the window system delivers it: press, release, double-click, release.
void doubleClick(QWidget& widget, QPoint point);

// The opaque colour that `color` makes over `background`, as 8-bit channels.
QColor over(const QColor& color, const QColor& background);

// True when every channel of `actual` is within `tolerance` of `expected`.
bool near(const QColor& actual, const QColor& expected, int tolerance = 2);

}  // namespace kestio::test
