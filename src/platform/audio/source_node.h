#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/audio/audio_node.h"

namespace kestio::platform::audio {

// Produces sound from a callback. The callback runs on the render thread with `frames` frames
// of `channelCount` non-interleaved channels, already zero-filled, and returns true when it
// produced audio (false leaves silence). It must not allocate, lock, log or touch files. The
// node's output link must carry the format it was made with.
class SourceNode final : public AudioNode {
  public:
    using RenderBlock =
        std::function<bool(uint32_t frames, float* const* channels, uint32_t channelCount)>;

    SourceNode(const AudioFormat& format, RenderBlock render);

    const AudioFormat& format() const { return format_; }

  private:
    uint32_t inputBusCount() const override { return 0; }
    std::shared_ptr<RenderKernel> makeKernel(const KernelSetup& setup) override;
    std::optional<std::string> checkOutputFormat(const AudioFormat& format) const override;

    AudioFormat format_;
    std::shared_ptr<const RenderBlock> render_;
};

}  // namespace kestio::platform::audio
