#pragma once

namespace kestio::platform::audio {

// Normalised biquad coefficients (a0 = 1).
struct BiquadCoefficients {
    double b0 = 1.0, b1 = 0.0, b2 = 0.0, a1 = 0.0, a2 = 0.0;

    // The peaking (parametric) filter of the audio EQ cookbook: gain `gainDb` at `frequency`,
    // bandwidth in octaves between the half-gain points. At 0 dB it is exactly transparent.
    // The frequency is kept below the Nyquist frequency of `sampleRate`.
    static BiquadCoefficients peaking(double sampleRate, double frequency, double bandwidthOctaves,
                                      double gainDb);

    // The filter's gain in dB at `frequency`.
    double responseDb(double sampleRate, double frequency) const;
};

// One channel of a biquad in transposed direct form II, in double precision. Coefficients can
// change between samples; the state is kept.
struct BiquadState {
    double s1 = 0.0, s2 = 0.0;

    double process(const BiquadCoefficients& k, double x) {
        const double y = k.b0 * x + s1;
        s1 = k.b1 * x - k.a1 * y + s2;
        s2 = k.b2 * x - k.a2 * y;
        return y;
    }
};

}  // namespace kestio::platform::audio
