#pragma once

#include <string>

namespace kestio {

// "HH;MM;SS;FF" for a time in seconds at a frame rate rounded to whole frames a second (at least
// 1), no frames dropped, hours not wrapped. A time or rate that is not finite, and values too
// large for the counters, give "00;00;00;00" or the nearest that can be shown.
std::string timecodeString(double seconds, double fps);

}  // namespace kestio
