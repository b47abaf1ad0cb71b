#include "platform/audio/output_node.h"

#include "platform/audio/audio_engine.h"
#include "platform/audio/render_step.h"

namespace kestio::platform::audio {

AudioFormat OutputNode::outputFormat(uint32_t bus) const {
    if (bus != 0 || engine() == nullptr) {
        return AudioFormat{0.0, 0, false};
    }
    return engine()->outputFormat();
}

std::shared_ptr<RenderKernel> OutputNode::makeKernel(const KernelSetup& /*setup*/) {
    return nullptr;  // the engine copies the main mixer's output to the device itself
}

}  // namespace kestio::platform::audio
