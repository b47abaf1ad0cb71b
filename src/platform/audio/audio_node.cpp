#include "platform/audio/audio_node.h"

#include "platform/audio/audio_engine.h"
#include "platform/audio/render_step.h"

namespace kestio::platform::audio {

AudioNode::~AudioNode() = default;

void AudioNode::changed() const {
    if (engine_ != nullptr) {
        engine_->wakeOutput();
    }
}

AudioFormat AudioNode::outputFormat(uint32_t bus) const {
    if (bus == 0 && engine_ != nullptr) {
        if (const auto* link = engine_->linkFrom(*this)) {
            return link->format;
        }
    }
    return AudioFormat{0.0, 0, false};
}

AudioFormat AudioNode::inputFormat(uint32_t bus) const {
    if (engine_ != nullptr) {
        if (const auto* link = engine_->linkInto(*this, bus)) {
            return link->format;
        }
    }
    return AudioFormat{0.0, 0, false};
}

std::optional<std::string> AudioNode::installTap(uint32_t bus, uint32_t bufferSize,
                                                 std::optional<AudioFormat> format,
                                                 TapBlock block) {
    if (engine_ == nullptr) {
        return "the node is not attached to an engine";
    }
    if (bus != 0) {
        return "the node has no output bus " + std::to_string(bus);
    }
    return engine_->installTap(*this, bufferSize, format, std::move(block));
}

void AudioNode::removeTap(uint32_t bus) {
    if (engine_ != nullptr && bus == 0) {
        engine_->removeTap(*this);
    }
}

std::shared_ptr<RenderKernel> AudioNode::kernelFor(const KernelSetup& setup) {
    if (!kernel_ || !(kernelSetup_ == setup)) {
        kernel_ = makeKernel(setup);
        kernelSetup_ = setup;
    }
    return kernel_;
}

}  // namespace kestio::platform::audio
