#pragma once

namespace kestio::panels {

// The one curve that places levels in dB on the gain fader, the meter bars and the scale marks:
// -40 dB at the bottom of the travel, -20 dB at 30 %, 0 dB at 75 %, +12 dB at the top. On a
// column of height h the travel runs from 26 points above its bottom to 26 points below its top,
// so a mark, the top of a lit bar and the fader knob stand at one height for one level.
inline constexpr double kTravelInset = 26.0;

// The fader's position (0 bottom, 1 top) of a level; the caller clamps the level into its range
// first. Levels below -40 or above +12 give positions outside 0 to 1.
double faderPosition(double level);
// The level of a fader position, the inverse of faderPosition.
double faderLevel(double position);
// The meter's position of a level, in single precision and clamped: at most -40 dB gives 0, more
// than +12 dB gives 1.
float meterPosition(float level);
// The distance from the top of a column of `height` at which `position` lies.
double travelY(double height, double position);

}  // namespace kestio::panels
