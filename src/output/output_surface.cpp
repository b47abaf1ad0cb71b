#include "output/output_surface.h"

#include "platform/audio/audio_output_device.h"
#include "platform/graphics/layer.h"

namespace kestio::output {

OutputSurface::OutputSurface(Services services)
    : loop_(services.loop),
      wallClock_(services.wallClock ? services.wallClock
                                    : std::make_shared<platform::SystemWallClock>()),
      engine_(services.audioDevice),
      compositor_(services.loop, services.pool ? *services.pool : platform::WorkerPool::shared()),
      root_(platform::Layer::create(services.loop)) {
    audioA_ = std::make_unique<AudioEngineController>(loop_, engine_, "A");
    audioB_ = std::make_unique<AudioEngineController>(loop_, engine_, "B");
    const SlotServices slotServices{
        loop_, services.media, compositor_,
        services.clipPlayers ? services.clipPlayers : PlaybackSlot::pairedClipPlayers(loop_)};
    slotA_ = std::make_unique<PlaybackSlot>(slotServices, *audioA_);
    slotB_ = std::make_unique<PlaybackSlot>(slotServices, *audioB_);
}

OutputSurface::~OutputSurface() = default;

void OutputSurface::setMonitorSize(platform::SizeF size) {
    monitorSize_ = size;
}
void OutputSurface::layout() {}
void OutputSurface::setViewSize(platform::SizeF) {}
void OutputSurface::reconfigureAudioEngine(std::uint32_t, double) {}
void OutputSurface::applyGeometry(const GeometrySettings&, PlaybackSlot&, double, double) {}
void OutputSurface::cut(PlaybackSlot&) {}
void OutputSurface::dissolve(PlaybackSlot&, double, std::optional<platform::ClockTime>) {}
void OutputSurface::prepareForPlay(bool) {}
void OutputSurface::stopAll() {}
platform::OpacityAnimation OutputSurface::makeOpacityAnimation(float from, float to,
                                                               double duration) {
    platform::OpacityAnimation animation;
    animation.from = from;
    animation.to = to;
    animation.duration = duration;
    return animation;
}
void OutputSurface::layerLog(const std::string&) {}
void OutputSurface::logLayerState(const std::string&) {}
void OutputSurface::placeSlot(PlaybackSlot&, const std::optional<AppliedGeometry>&) {}
std::optional<OutputSurface::AppliedGeometry>& OutputSurface::appliedFor(PlaybackSlot& slot) {
    return &slot == slotA_.get() ? appliedA_ : appliedB_;
}
void OutputSurface::cancelTransitions() {}

}  // namespace kestio::output
