#include "output/playback_slot.h"

#include "output/audio_engine_controller.h"
#include "output/video_color_compositor.h"
#include "platform/graphics/layer.h"

namespace kestio::output {

ClipPlayerFactory PlaybackSlot::pairedClipPlayers(platform::RunLoop& /*loop*/) {
    return {};  // TODO
}

PlaybackSlot::PlaybackSlot(const SlotServices& services, AudioEngineController& audio)
    : loop_(services.loop),
      media_(services.media),
      compositor_(services.compositor),
      audio_(audio),
      containerLayer_(platform::Layer::create(services.loop)),
      videoLayer_(platform::Layer::create(services.loop)),
      player_(services.media.makeQueuePlayer()),
      playerLayer_(services.media.makePlayerLayer(player_)),
      colorSettingsBox_(std::make_unique<ColorSettingsBox>()) {
    if (services.clipPlayers) {
        clipPlayer_ = services.clipPlayers(player_, audio_);
    }
}

PlaybackSlot::~PlaybackSlot() = default;

platform::media::ClipPlayer::Clip PlaybackSlot::currentClip() const {
    return {};
}

void PlaybackSlot::load(const std::filesystem::path&, double, std::optional<double>,
                        const ColorSettings&) {}
void PlaybackSlot::stopLooping() {}
void PlaybackSlot::startLoop(const std::filesystem::path&, std::shared_ptr<platform::media::Asset>,
                             std::shared_ptr<platform::media::PlayerItem>, double,
                             std::optional<double>, std::function<void()>) {}
void PlaybackSlot::waitForReadyForDisplay(int, std::function<void()>) {}
void PlaybackSlot::showStill(const QImage&, const ColorSettings&) {}
void PlaybackSlot::clear() {}

void PlaybackSlot::startLoopWithRange(std::shared_ptr<platform::media::PlayerItem>, double,
                                      std::optional<platform::media::TimeRange>,
                                      std::function<void()>) {}
void PlaybackSlot::readyPass(std::uint64_t, int) {}
void PlaybackSlot::finishWait(std::uint64_t, bool) {}
void PlaybackSlot::endReadyWait() {}

}  // namespace kestio::output
