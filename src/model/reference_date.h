#pragma once

// Points in time stored in the show document: seconds since 2001-01-01 00:00:00 UTC, fractions
// allowed (a JSON number in "data.json").

namespace kestio {

using ReferenceDate = double;

// Seconds between the Unix epoch (1970-01-01 UTC) and the reference date (2001-01-01 UTC).
inline constexpr double kReferenceDateUnixOffset = 978307200.0;

constexpr ReferenceDate referenceDateFromUnixSeconds(double unixSeconds) {
    return unixSeconds - kReferenceDateUnixOffset;
}

constexpr double unixSecondsFromReferenceDate(ReferenceDate date) {
    return date + kReferenceDateUnixOffset;
}

}  // namespace kestio
