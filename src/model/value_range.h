#pragma once

#include <optional>

namespace kestio {

// The closed range of values a control may write, and a value read from disk is kept within.
struct ValueRange {
    double lower = 0.0;
    double upper = 1.0;

    // Raised to at least the lower bound, then lowered to at most the upper bound (so a range
    // whose bounds cross gives the upper bound). A NaN stays NaN.
    double clamp(double value) const;

    // What a typed number writes: nothing when the text gave no number or a NaN (a NaN in a
    // project value cannot be saved and silences or blanks what reads it), else the number
    // clamped; an infinity gives the bound on its side.
    std::optional<double> committed(std::optional<double> parsed) const;

    friend bool operator==(const ValueRange&, const ValueRange&) = default;
};

}  // namespace kestio
