#pragma once

#include "platform/audio/audio_node.h"

namespace kestio::platform::audio {

// The device's end of the graph. The engine links its main mixer here; both formats of this
// node are the device's rate and channel count. Made by the engine; see
// AudioEngine::outputNode().
class OutputNode final : public AudioNode {
  public:
    OutputNode() = default;

    AudioFormat outputFormat(uint32_t bus) const override;
    AudioFormat inputFormat(uint32_t bus) const override { return outputFormat(bus); }

  private:
    uint32_t inputBusCount() const override { return 1; }
    std::shared_ptr<RenderKernel> makeKernel(const KernelSetup& setup) override;
};

}  // namespace kestio::platform::audio
