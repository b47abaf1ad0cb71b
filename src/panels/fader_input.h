#pragma once

#include <QString>
#include <optional>

#include "model/app_language.h"
#include "ui/value_range.h"

namespace kestio::panels {

// What the gain fader writes for the operator's pointer and typed text.

// The level under a pointer at `y` (points from the top) on a fader of `height`: the position on
// the travel (at or above the top end +12 dB, below the bottom end -40 dB), its level on the
// fader curve, snapped to exactly 0 within half a dB, then clamped into `range`. A fader of 52
// points or less has no travel: no level.
std::optional<double> faderLevelAtPointer(double y, double height, const ui::ValueRange& range);

// The text the typed-value field opens with: "%.1f" of the level, no plus sign ("-6.0", "12.0").
QString faderEntryText(double level);

// The level a typed text commits: the whole text read as a number (nothing trimmed; a unit or a
// blank makes it no number, which commits nothing), clamped into `range`. An infinity commits the
// bound on its side and "nan" the lower bound, so nothing typed ever writes a NaN.
std::optional<double> faderCommittedLevel(const QString& text, const ui::ValueRange& range);

// The range line under the field: "Range: -40 to +12 dB" / "範囲: -40 〜 +12 dB" (the bounds cut
// to whole numbers towards zero; the "+" is fixed text).
QString faderRangeText(const ui::ValueRange& range, AppLanguage language);

}  // namespace kestio::panels
