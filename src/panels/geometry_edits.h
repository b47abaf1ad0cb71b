#pragma once

#include <QLocale>
#include <QString>
#include <optional>

#include "model/model_enums.h"
#include "model/settings_records.h"
#include "model/slot_value_ranges.h"

namespace kestio::panels {

// The title of a mode's button (the same in both languages).
const char* geometryModeTitle(GeometryMode mode);

// The centre of the output canvas of a resolution, in canvas pixels.
struct CanvasCentre {
    double x = 0;
    double y = 0;
};
CanvasCentre canvasCentre(OutputResolution resolution);

// The position and scale sliders travel over kPositionXRange, kPositionYRange and kScaleRange
// (slot_value_ranges.h); a typed value beyond them is kept to the nearer bound, as a slot read
// from disk is.

// A mode button's edit: Fit to Window centres the picture and sets both scales to 100 %;
// Original centres it and keeps the scales; Custom changes the mode alone. Choosing the mode
// already set edits all the same (a second Fit centres again).
GeometrySettings withMode(GeometrySettings geometry, GeometryMode mode,
                          OutputResolution resolution);

// A scale edit: `value` is stored within kScaleRange. With the ratio lock on and a positive old
// value, the other scale follows in proportion, kept within that range too; from an old value of
// 0 or less there is no proportion and the other scale stays.
GeometrySettings withScaleX(GeometrySettings geometry, double value, bool ratioLocked);
GeometrySettings withScaleY(GeometrySettings geometry, double value, bool ratioLocked);

// The value fields show whole numbers in the user's locale, with its group separator
// ("1,920" in English, "1.920" in German), and read what the locale reads; nothing for text
// that is not a number there, or not finite.
QString geometryFieldText(double value, const QLocale& locale);
std::optional<double> geometryFieldValue(const QString& text, const QLocale& locale);

}  // namespace kestio::panels
