#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <span>
#include <vector>

#include "support/null_audio_device.h"

namespace kestio::test {

// The sound a test pulls from the null device, placed on host time by the test's own account:
// the host time of each pull is noted, and from there every frame lasts `hostSecondsPerFrame`
// (a device slower or faster than host time is modelled by that length). Frames are numbered
// over all that was pulled, also after the device's capture is let go in long runs.
class PulledSound {
  public:
    PulledSound(NullAudioDevice& device, double hostSecondsPerFrame)
        : device_(device), secondsPerFrame_(hostSecondsPerFrame) {}

    // Pulls `frames`, which start playing at host time `host`.
    void pull(uint32_t frames, double host) {
        pulls_.push_back({pulled_, host});
        device_.pull(frames);
        pulled_ += frames;
    }

    // Frames pulled so far.
    uint64_t pulled() const { return pulled_; }

    // The host time at which the device played frame `frame`.
    double hostTimeOf(double frame) const {
        const auto after = std::upper_bound(
            pulls_.begin(), pulls_.end(), frame,
            [](double f, const Pull& p) { return f < static_cast<double>(p.frame); });
        if (after == pulls_.begin()) {
            ADD_FAILURE() << "frame " << frame << " was never pulled";
            return 0.0;
        }
        const Pull& p = *std::prev(after);
        return p.host + (frame - static_cast<double>(p.frame)) * secondsPerFrame_;
    }

    // The left channel from frame `from` to what has been pulled (empty when nothing is).
    std::span<const float> leftFrom(uint64_t from) const {
        EXPECT_GE(from, captureBase_) << "the sound from there was let go";
        if (device_.captured().empty()) {
            return {};
        }
        const auto& left = device_.channel(0);
        const std::size_t at =
            std::min<std::size_t>(left.size(), std::max(from, captureBase_) - captureBase_);
        return std::span<const float>(left).subspan(at);
    }

    // Lets go of the sound captured so far (long runs would otherwise hold minutes of it).
    void dropCapture() {
        if (!device_.captured().empty()) {
            captureBase_ += device_.channel(0).size();
            device_.clearCaptured();
        }
    }

  private:
    struct Pull {
        uint64_t frame;
        double host;
    };

    NullAudioDevice& device_;
    double secondsPerFrame_;
    uint64_t pulled_ = 0;
    uint64_t captureBase_ = 0;  // frames let go from the device's capture
    std::vector<Pull> pulls_;
};

}  // namespace kestio::test
