#pragma once

#include <cstdint>
#include <vector>

namespace kestio {

// Reduces a stream of stereo sample frames to a fixed number of waveform points. Each point is
// the loudest sample of its stretch of `step` frames, times 3, clipped to 1; the stretch and
// its peak carry on across the buffers the frames arrive in. A last stretch that the stream
// does not complete is dropped, and the points the stream never reached are 0.
class WaveformAccumulator {
  public:
    static constexpr float kGain = 3.0f;

    // `pointCount` at least 1. The stretch is (frames in the media / pointCount) frames, at
    // least 1.
    WaveformAccumulator(int pointCount, std::int64_t mediaFrames);

    std::int64_t step() const { return step_; }
    bool complete() const { return points_.size() >= static_cast<std::size_t>(pointCount_); }

    // Takes one frame given by the larger magnitude of its two channels. Returns true once
    // every point is made; later frames are ignored.
    bool addFrame(float magnitude) {
        if (complete()) {
            return true;
        }
        // NaN never raises the peak.
        if (magnitude > peak_) {
            peak_ = magnitude;
        }
        if (++frameCount_ % step_ == 0) {
            points_.push_back(peak_ * kGain < 1.0f ? peak_ * kGain : 1.0f);
            peak_ = 0.0f;
        }
        return complete();
    }

    // Takes interleaved left/right samples (a trailing lone sample counts as a frame of its
    // own). Returns true once every point is made.
    bool addInterleavedStereo(const float* samples, std::size_t sampleCount);

    // The points, padded with 0 to pointCount.
    std::vector<float> finish() &&;

  private:
    int pointCount_;
    std::int64_t step_;
    std::int64_t frameCount_ = 0;
    float peak_ = 0.0f;
    std::vector<float> points_;
};

}  // namespace kestio
