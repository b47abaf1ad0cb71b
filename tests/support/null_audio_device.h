#pragma once

// An output device without hardware for tests: nothing plays until the test pulls, and every
// pulled frame is kept for the test to read. The test's thread acts as the render thread.
// Its host time is the test's: by default the seconds pulled so far (so an engine's clock reads
// exactly the frames pulled over the rate), or the host clock it is given (a ManualRunLoop's). It
// has no latency: a block is heard at the host time it is pulled.

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/audio/audio_output_device.h"
#include "platform/runloop/host_clock.h"

namespace kestio::test {

class NullAudioDevice final : public platform::audio::AudioOutputDevice {
  public:
    explicit NullAudioDevice(double sampleRate = 48000.0, uint32_t channels = 2,
                             std::string name = "Null Output",
                             std::shared_ptr<const platform::HostClock> hostClock = nullptr)
        : format_{sampleRate, channels, false},
          rendering_(format_),
          hostClock_(std::move(hostClock)) {
        defaultOutput.set({true, std::move(name), channels, sampleRate});
    }

    platform::HostTime hostNow() const override {
        return hostClock_ ? hostClock_->now()
                          : pulledBase_ + double(pulledFrames_) / rendering_.sampleRate;
    }

    platform::audio::AudioFormat renderFormat() const override { return format_; }

    std::optional<std::string> start(platform::audio::AudioRenderCallback& callback) override {
        if (auto reason = std::exchange(nextStartFailure_, std::nullopt)) {
            return reason;
        }
        callback_ = &callback;
        return std::nullopt;
    }
    void stop() override {
        callback_ = nullptr;
        resting_ = false;
    }
    bool isRunning() const override { return callback_ != nullptr; }

    // Renders `frames` frames as the render thread would (nothing while stopped) and keeps
    // them. Pulling 0 frames lets the graph take in changes without advancing.
    void pull(uint32_t frames) {
        do {
            if (oldFormatFrames_ == 0 && !(rendering_ == format_)) {
                switchRendering();  // the render side takes the new format
            }
            const uint32_t n = oldFormatFrames_ > 0 ? std::min(frames, oldFormatFrames_) : frames;
            renderBlock(n);
            oldFormatFrames_ -= std::min(oldFormatFrames_, n);
            frames -= n;
        } while (frames > 0);
    }

    // Everything pulled so far, one vector per channel.
    const std::vector<std::vector<float>>& captured() const { return captured_; }
    const std::vector<float>& channel(uint32_t c) const { return captured_.at(c); }
    void clearCaptured() { captured_.clear(); }

    // The next start() fails with `reason`.
    void failNextStart(std::string reason) { nextStartFailure_ = std::move(reason); }

    // Becomes a device of another rate and channel count, as when the system's default output
    // changes: the change is published at once, and the render side renders
    // `framesAtOldFormat` more frames at the old format before it takes the new one (captured()
    // then starts again).
    void changeTo(double sampleRate, uint32_t channels, std::string name = "Other Output",
                  uint32_t framesAtOldFormat = 0) {
        format_ = {sampleRate, channels, false};
        oldFormatFrames_ = framesAtOldFormat;
        if (framesAtOldFormat == 0) {
            switchRendering();
        }
        defaultOutput.set({true, std::move(name), channels, sampleRate});
    }

    // The format the render side renders at now.
    platform::audio::AudioFormat renderingFormat() const { return rendering_; }

    // Whether the callback says the device may rest now (false while stopped), and the wakes
    // asked of the device so far.
    bool callbackMayRest() const { return callback_ != nullptr && callback_->mayRest(); }
    void wake() override {
        ++wakes_;
        resting_ = false;
    }
    int wakes() const { return wakes_; }

    // Rests as the real output does (off by default): once its callback may rest after a
    // block, the device asks for no block until it is woken; the frames pulled meanwhile pass
    // as silence, unrendered (the host time goes on).
    void restWhenAllowed(bool rests) { restsWhenAllowed_ = rests; }
    bool resting() const { return resting_; }

  private:
    void switchRendering() {
        pulledBase_ = hostNow();
        pulledFrames_ = 0;
        rendering_ = format_;
        captured_.clear();
    }

    void renderBlock(uint32_t frames) {
        if (callback_ == nullptr) {
            return;
        }
        const uint32_t channels = rendering_.channelCount;
        std::vector<std::vector<float>> block(channels, std::vector<float>(frames));
        std::vector<float*> pointers;
        for (auto& channel : block) {
            pointers.push_back(channel.data());
        }
        const platform::HostTime now = hostNow();
        if (!resting_) {
            callback_->render({pointers.data(), channels, frames, rendering_.sampleRate, now, now});
            resting_ = restsWhenAllowed_ && callback_->mayRest();
        }
        pulledFrames_ += frames;
        captured_.resize(channels);
        for (uint32_t c = 0; c < channels; ++c) {
            captured_[c].insert(captured_[c].end(), block[c].begin(), block[c].end());
        }
    }

    platform::audio::AudioFormat format_;
    platform::audio::AudioFormat rendering_;
    std::shared_ptr<const platform::HostClock> hostClock_;
    platform::HostTime pulledBase_{};
    uint64_t pulledFrames_ = 0;
    uint32_t oldFormatFrames_ = 0;
    platform::audio::AudioRenderCallback* callback_ = nullptr;
    int wakes_ = 0;
    bool restsWhenAllowed_ = false;
    bool resting_ = false;
    std::optional<std::string> nextStartFailure_;
    std::vector<std::vector<float>> captured_;
};

}  // namespace kestio::test
