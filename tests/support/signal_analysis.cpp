#include "signal_analysis.h"

#include <algorithm>
#include <cmath>

namespace kestio::test {

using platform::audio::AudioFormat;
using platform::audio::PcmBuffer;

std::vector<float> sineWave(double frequency, double rate, std::size_t frames, double amplitude,
                            double offset) {
    std::vector<float> samples(frames);
    for (std::size_t n = 0; n < frames; ++n) {
        samples[n] =
            float(amplitude * std::sin(2.0 * M_PI * frequency * (double(n) + offset) / rate));
    }
    return samples;
}

std::shared_ptr<PcmBuffer> bufferOf(const std::vector<float>& samples, double rate,
                                    uint32_t channels) {
    return bufferOf(std::vector<std::vector<float>>(channels, samples), rate);
}

std::shared_ptr<PcmBuffer> bufferOf(const std::vector<std::vector<float>>& channels, double rate) {
    const auto frames = uint32_t(channels.front().size());
    auto buffer = PcmBuffer::make(AudioFormat{rate, uint32_t(channels.size()), false}, frames);
    for (uint32_t c = 0; c < channels.size(); ++c) {
        std::copy(channels[c].begin(), channels[c].end(), buffer->channel(c));
    }
    buffer->setFrameLength(frames);
    return buffer;
}

double rms(std::span<const float> samples) {
    if (samples.empty()) {
        return 0.0;
    }
    double sum = 0.0;
    for (float s : samples) {
        sum += double(s) * s;
    }
    return std::sqrt(sum / double(samples.size()));
}

double rmsDb(std::span<const float> samples) {
    return 20.0 * std::log10(rms(samples));
}

double peak(std::span<const float> samples) {
    double best = 0.0;
    for (float s : samples) {
        best = std::max(best, double(std::abs(s)));
    }
    return best;
}

double zeroCrossingFrequency(std::span<const float> samples, double rate) {
    double first = -1.0;
    double last = -1.0;
    int crossings = 0;
    for (std::size_t n = 1; n < samples.size(); ++n) {
        if (samples[n - 1] < 0.0f && samples[n] >= 0.0f) {
            const double t = double(n - 1) + samples[n - 1] / (samples[n - 1] - samples[n]);
            if (first < 0.0) {
                first = t;
            }
            last = t;
            ++crossings;
        }
    }
    if (crossings < 2) {
        return 0.0;
    }
    return double(crossings - 1) * rate / (last - first);
}

double medianCrossingFrequency(std::span<const float> samples, double rate) {
    std::vector<double> crossings;
    for (std::size_t n = 1; n < samples.size(); ++n) {
        if (samples[n - 1] < 0.0f && samples[n] >= 0.0f) {
            crossings.push_back(double(n - 1) + samples[n - 1] / (samples[n - 1] - samples[n]));
        }
    }
    if (crossings.size() < 3) {
        return 0.0;
    }
    std::vector<double> periods;
    for (std::size_t i = 1; i < crossings.size(); ++i) {
        periods.push_back(crossings[i] - crossings[i - 1]);
    }
    std::nth_element(periods.begin(), periods.begin() + long(periods.size() / 2), periods.end());
    return rate / periods[periods.size() / 2];
}

double toneAmplitude(std::span<const float> samples, double rate, double frequency) {
    const double w = 2.0 * M_PI * frequency / rate;
    double re = 0.0;
    double im = 0.0;
    for (std::size_t n = 0; n < samples.size(); ++n) {
        re += samples[n] * std::cos(w * double(n));
        im -= samples[n] * std::sin(w * double(n));
    }
    return 2.0 * std::hypot(re, im) / double(samples.size());
}

double toneDelay(std::span<const float> samples, double rate, double frequency, double first) {
    const double w = 2.0 * M_PI * frequency / rate;
    double re = 0.0;
    double im = 0.0;
    for (std::size_t n = 0; n < samples.size(); ++n) {
        const double phase = w * (double(n) + first);
        re += samples[n] * std::cos(phase);
        im -= samples[n] * std::sin(phase);
    }
    // For A·sin(w(n + first - d)) the correlation's angle is -π/2 - w·d.
    double angle = -std::atan2(im, re) - M_PI / 2.0;
    angle = std::remainder(angle, 2.0 * M_PI);
    return angle / w;
}

double largestSecondDifference(std::span<const float> samples) {
    double best = 0.0;
    for (std::size_t n = 1; n + 1 < samples.size(); ++n) {
        best = std::max(best, std::abs(double(samples[n + 1]) - 2.0 * samples[n] + samples[n - 1]));
    }
    return best;
}

std::size_t firstAbove(std::span<const float> samples, float threshold) {
    for (std::size_t n = 0; n < samples.size(); ++n) {
        if (std::abs(samples[n]) > threshold) {
            return n;
        }
    }
    return samples.size();
}

std::size_t endAbove(std::span<const float> samples, float threshold) {
    for (std::size_t n = samples.size(); n > 0; --n) {
        if (std::abs(samples[n - 1]) > threshold) {
            return n;
        }
    }
    return 0;
}

std::pair<double, double> toneSpan(std::span<const float> samples, double rate, double amplitude) {
    const auto window = std::size_t(std::max(1.0, rate / 1000.0));
    const double half = amplitude / std::sqrt(2.0) / 2.0;  // half of the tone's RMS
    std::vector<double> level(samples.size(), 0.0);
    double sum = 0.0;
    for (std::size_t n = 0; n < samples.size(); ++n) {
        sum += double(samples[n]) * samples[n];
        if (n >= window) {
            sum -= double(samples[n - window]) * samples[n - window];
        }
        // Centre the window on the sample it describes.
        const std::size_t centre = n >= window / 2 ? n - window / 2 : 0;
        level[centre] = std::sqrt(std::max(sum, 0.0) / double(window));
    }
    double start = -1.0;
    double end = -1.0;
    for (std::size_t n = 0; n < level.size(); ++n) {
        if (level[n] >= half) {
            if (start < 0.0) {
                start = double(n);
            }
            end = double(n + 1);
        }
    }
    return {start, end};
}

std::size_t loudestWindow(std::span<const float> samples, std::size_t length) {
    if (length == 0 || length > samples.size()) {
        return 0;
    }
    double sum = 0.0;
    for (std::size_t n = 0; n < length; ++n) {
        sum += double(samples[n]) * samples[n];
    }
    double best = sum;
    std::size_t at = 0;
    for (std::size_t n = length; n < samples.size(); ++n) {
        sum += double(samples[n]) * samples[n] - double(samples[n - length]) * samples[n - length];
        if (sum > best) {
            best = sum;
            at = n - length + 1;
        }
    }
    return at;
}

}  // namespace kestio::test
