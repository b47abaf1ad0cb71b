#pragma once

#include <map>
#include <memory>

#include "platform/audio/audio_node.h"

namespace kestio::platform::audio {

// The engine's main mixer: sums every input at its gain (the volume of the player or source
// node that starts the input's chain) and renders at the output device's format. Each input
// may have its own rate and channel count: channels follow defaultChannelMix (a mono input
// feeds the first two outputs, surround is downmixed) and the rate is converted by a
// windowed-sinc resampler. Made
// by the engine; see AudioEngine::mainMixerNode().
class MixerNode final : public AudioNode {
  public:
    MixerNode() = default;

    AudioFormat outputFormat(uint32_t bus) const override;

    // The largest block an input with link format `from` is asked for when the mixer renders
    // with `setup`.
    static uint32_t inputFramesFor(const AudioFormat& from, const KernelSetup& setup);

  private:
    friend class AudioEngine;

    uint32_t inputBusCount() const override;
    std::shared_ptr<RenderKernel> makeKernel(const KernelSetup& setup) override;
    // The conversion of one input to the mixer's format, kept per source node while its
    // formats are unchanged. Null when the input needs none.
    std::shared_ptr<RenderKernel> converterFor(const AudioNode& source, const AudioFormat& from,
                                               const KernelSetup& setup);
    void forgetConverter(const AudioNode& source) { converters_.erase(&source); }

    std::map<const AudioNode*, std::pair<KernelSetup, std::shared_ptr<RenderKernel>>> converters_;
};

}  // namespace kestio::platform::audio
