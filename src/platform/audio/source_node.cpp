#include "platform/audio/source_node.h"

#include <cstring>
#include <vector>

#include "platform/audio/render_step.h"

namespace kestio::platform::audio {

namespace {

class SourceKernel final : public RenderKernel {
  public:
    SourceKernel(std::shared_ptr<const SourceNode::RenderBlock> render, const KernelSetup& setup)
        : render_(std::move(render)),
          channels_(setup.output.channelCount),
          maxFrames_(std::max<uint32_t>(setup.maxFrames, 1)),
          out_(std::size_t(channels_) * maxFrames_),
          outPointers_(channels_) {
        for (uint32_t c = 0; c < channels_; ++c) {
            outPointers_[c] = out_.data() + std::size_t(c) * maxFrames_;
        }
    }

    const float* const* render(const RenderStep& step, uint32_t frames) noexcept override {
        clear(frames);
        if (frames > 0 && *render_ && !(*render_)(frames, outPointers_.data(), channels_)) {
            clear(frames);
            step.markSilent();  // the block says it has nothing
        }
        return outPointers_.data();
    }

  private:
    void clear(uint32_t frames) noexcept {
        for (uint32_t c = 0; c < channels_; ++c) {
            std::memset(outPointers_[c], 0, frames * sizeof(float));
        }
    }

    std::shared_ptr<const SourceNode::RenderBlock> render_;
    uint32_t channels_;
    uint32_t maxFrames_;
    std::vector<float> out_;
    std::vector<float*> outPointers_;
};

}  // namespace

SourceNode::SourceNode(const AudioFormat& format, RenderBlock render)
    : format_(format), render_(std::make_shared<const RenderBlock>(std::move(render))) {
    format_.interleaved = false;
}

std::shared_ptr<RenderKernel> SourceNode::makeKernel(const KernelSetup& setup) {
    return std::make_shared<SourceKernel>(render_, setup);
}

std::optional<std::string> SourceNode::checkOutputFormat(const AudioFormat& format) const {
    if (!format.sameStream(format_)) {
        return "a source node's link must carry the format the node renders";
    }
    return std::nullopt;
}

}  // namespace kestio::platform::audio
