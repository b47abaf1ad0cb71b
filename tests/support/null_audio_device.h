#pragma once

// An output device without hardware for tests: nothing plays until the test pulls, and every
// pulled frame is kept for the test to read. The test's thread acts as the render thread.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/audio/audio_output_device.h"

namespace kestio::test {

class NullAudioDevice final : public platform::audio::AudioOutputDevice {
  public:
    explicit NullAudioDevice(double sampleRate = 48000.0, uint32_t channels = 2,
                             std::string name = "Null Output")
        : format_{sampleRate, channels, false} {
        defaultOutput.set({true, std::move(name), channels, sampleRate});
    }

    platform::audio::AudioFormat renderFormat() const override { return format_; }

    std::optional<std::string> start(platform::audio::AudioRenderCallback& callback) override {
        if (auto reason = std::exchange(nextStartFailure_, std::nullopt)) {
            return reason;
        }
        callback_ = &callback;
        return std::nullopt;
    }
    void stop() override { callback_ = nullptr; }
    bool isRunning() const override { return callback_ != nullptr; }

    // Renders `frames` frames as the render thread would (nothing while stopped) and keeps
    // them. Pulling 0 frames lets the graph take in changes without advancing.
    void pull(uint32_t frames) {
        if (callback_ == nullptr) {
            return;
        }
        std::vector<std::vector<float>> block(format_.channelCount, std::vector<float>(frames));
        std::vector<float*> pointers;
        for (auto& channel : block) {
            pointers.push_back(channel.data());
        }
        callback_->render(pointers.data(), format_.channelCount, frames);
        captured_.resize(format_.channelCount);
        for (uint32_t c = 0; c < format_.channelCount; ++c) {
            captured_[c].insert(captured_[c].end(), block[c].begin(), block[c].end());
        }
    }

    // Everything pulled so far, one vector per channel.
    const std::vector<std::vector<float>>& captured() const { return captured_; }
    const std::vector<float>& channel(uint32_t c) const { return captured_.at(c); }
    void clearCaptured() { captured_.clear(); }

    // The next start() fails with `reason`.
    void failNextStart(std::string reason) { nextStartFailure_ = std::move(reason); }

    // Becomes a device of another rate and channel count, as when the system's default output
    // changes.
    void changeTo(double sampleRate, uint32_t channels, std::string name = "Other Output") {
        format_ = {sampleRate, channels, false};
        captured_.clear();
        defaultOutput.set({true, std::move(name), channels, sampleRate});
    }

  private:
    platform::audio::AudioFormat format_;
    platform::audio::AudioRenderCallback* callback_ = nullptr;
    std::optional<std::string> nextStartFailure_;
    std::vector<std::vector<float>> captured_;
};

}  // namespace kestio::test
