#include "platform/audio/peaking_filter.h"

#include <algorithm>
#include <cmath>
#include <complex>

namespace kestio::platform::audio {

BiquadCoefficients BiquadCoefficients::peaking(double sampleRate, double frequency,
                                               double bandwidthOctaves, double gainDb) {
    if (!(sampleRate > 0.0) || !std::isfinite(frequency) || !std::isfinite(bandwidthOctaves) ||
        !std::isfinite(gainDb)) {
        return {};
    }
    const double nyquist = sampleRate / 2.0;
    const double f = std::clamp(frequency, 1.0, nyquist * 0.999);
    const double bw = std::clamp(bandwidthOctaves, 0.01, 8.0);
    const double w0 = 2.0 * M_PI * f / sampleRate;
    const double a = std::pow(10.0, gainDb / 40.0);
    const double sinW0 = std::sin(w0);
    const double cosW0 = std::cos(w0);
    const double alpha = sinW0 * std::sinh(std::log(2.0) / 2.0 * bw * w0 / sinW0);

    const double a0 = 1.0 + alpha / a;
    BiquadCoefficients k;
    k.b0 = (1.0 + alpha * a) / a0;
    k.b1 = (-2.0 * cosW0) / a0;
    k.b2 = (1.0 - alpha * a) / a0;
    k.a1 = (-2.0 * cosW0) / a0;
    k.a2 = (1.0 - alpha / a) / a0;
    return k;
}

double BiquadCoefficients::responseDb(double sampleRate, double frequency) const {
    const std::complex<double> z = std::polar(1.0, -2.0 * M_PI * frequency / sampleRate);
    const std::complex<double> num = b0 + b1 * z + b2 * z * z;
    const std::complex<double> den = 1.0 + a1 * z + a2 * z * z;
    return 20.0 * std::log10(std::abs(num / den));
}

}  // namespace kestio::platform::audio
