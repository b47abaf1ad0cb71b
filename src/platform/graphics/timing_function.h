#pragma once

namespace kestio::platform {

// The pace of an animation: a cubic Bezier from (0, 0) to (1, 1) through the control points
// (x1, y1) and (x2, y2), mapping the fraction of time elapsed to the fraction of the change.
class TimingFunction {
  public:
    constexpr TimingFunction(double x1, double y1, double x2, double y2)
        : x1_(x1), y1_(y1), x2_(x2), y2_(y2) {}

    static constexpr TimingFunction linear() { return {0.0, 0.0, 1.0, 1.0}; }
    // Slow at both ends, symmetric: 0.5 at half time.
    static constexpr TimingFunction easeInEaseOut() { return {0.42, 0.0, 0.58, 1.0}; }

    // The fraction of the change at time fraction `t`; t is clamped to [0, 1].
    double valueAt(double t) const;

    bool operator==(const TimingFunction&) const = default;

  private:
    double x1_, y1_, x2_, y2_;
};

}  // namespace kestio::platform
