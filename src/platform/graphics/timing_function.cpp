#include "platform/graphics/timing_function.h"

#include <cmath>

namespace kestio::platform {

namespace {

// One coordinate of the curve at parameter s, with end points 0 and 1.
double bezier(double p1, double p2, double s) {
    const double u = 1.0 - s;
    return 3.0 * u * u * s * p1 + 3.0 * u * s * s * p2 + s * s * s;
}

double bezierSlope(double p1, double p2, double s) {
    const double u = 1.0 - s;
    return 3.0 * u * u * p1 + 6.0 * u * s * (p2 - p1) + 3.0 * s * s * (1.0 - p2);
}

}  // namespace

double TimingFunction::valueAt(double t) const {
    if (!(t > 0.0)) {
        return 0.0;
    }
    if (t >= 1.0) {
        return 1.0;
    }
    // Find the curve parameter whose x is t: Newton steps from t, then bisection if they
    // do not settle (x is monotonic for control points inside [0, 1]).
    double s = t;
    for (int i = 0; i < 8; ++i) {
        const double err = bezier(x1_, x2_, s) - t;
        if (std::fabs(err) < 1e-12) {
            return bezier(y1_, y2_, s);
        }
        const double slope = bezierSlope(x1_, x2_, s);
        if (std::fabs(slope) < 1e-9) {
            break;
        }
        s -= err / slope;
        if (s < 0.0 || s > 1.0) {
            break;
        }
    }
    double lo = 0.0;
    double hi = 1.0;
    s = t;
    for (int i = 0; i < 60; ++i) {
        const double x = bezier(x1_, x2_, s);
        if (std::fabs(x - t) < 1e-12) {
            break;
        }
        if (x < t) {
            lo = s;
        } else {
            hi = s;
        }
        s = 0.5 * (lo + hi);
    }
    return bezier(y1_, y2_, s);
}

}  // namespace kestio::platform
