#pragma once

// Measurements on rendered sound: level, frequency and where a tone starts and ends.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "platform/audio/pcm_buffer.h"

namespace kestio::test {

// `frames` samples of a sine: amplitude × sin(2π × frequency × (n + offset) / rate).
std::vector<float> sineWave(double frequency, double rate, std::size_t frames,
                            double amplitude = 1.0, double offset = 0.0);

// A non-interleaved buffer whose every channel holds `samples`.
std::shared_ptr<platform::audio::PcmBuffer> bufferOf(const std::vector<float>& samples, double rate,
                                                     uint32_t channels = 2);
// A non-interleaved buffer holding `channels`, one vector each (all the same length).
std::shared_ptr<platform::audio::PcmBuffer> bufferOf(
    const std::vector<std::vector<float>>& channels, double rate);

double rms(std::span<const float> samples);
double rmsDb(std::span<const float> samples);
double peak(std::span<const float> samples);

// The frequency of a steady tone from its rising zero crossings, each placed by linear
// interpolation between the two samples around it.
double zeroCrossingFrequency(std::span<const float> samples, double rate);

// The same from the median distance between rising zero crossings: a dropout here and there
// (as on a loaded machine's real output) does not move it.
double medianCrossingFrequency(std::span<const float> samples, double rate);

// The amplitude of the component at `frequency` (Goertzel, over the whole span).
double toneAmplitude(std::span<const float> samples, double rate, double frequency);

// How many samples `samples` lag behind the sine sin(2π × frequency × (n + first) / rate),
// in (-half a period, half a period]: 0 when sample n is that sine's sample n + first.
double toneDelay(std::span<const float> samples, double rate, double frequency, double first);

// The largest |x[n+1] - 2x[n] + x[n-1]|: small for a smooth tone, large at a click or gap.
double largestSecondDifference(std::span<const float> samples);

// Index of the first / one past the last sample whose magnitude exceeds `threshold`, or
// samples.size() / 0 when none does.
std::size_t firstAbove(std::span<const float> samples, float threshold);
std::size_t endAbove(std::span<const float> samples, float threshold);

// Where a tone of amplitude `amplitude` first and last reaches half its level, from a 1 ms
// moving RMS centred on each sample; returns {start, one past the end} in samples.
std::pair<double, double> toneSpan(std::span<const float> samples, double rate, double amplitude);

// Where the `length` consecutive samples that hold the most energy begin.
std::size_t loudestWindow(std::span<const float> samples, std::size_t length);

}  // namespace kestio::test
