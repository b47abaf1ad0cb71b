#include "output/video_color_compositor.h"

#include <numbers>
#include <utility>
#include <vector>

#include "output/color_settings_box.h"
#include "platform/graphics/color_lut.h"
#include "platform/runloop/console.h"

namespace kestio::output {

namespace {

using platform::media::FrameFilter;

std::shared_ptr<const FrameFilter> makeFrameFilter(const ColorSettings& settings,
                                                   platform::WorkerPool& pool) {
    if (VideoColorCompositor::isDefault(settings)) {
        return nullptr;
    }
    auto table =
        std::make_shared<const platform::ColorLut>(VideoColorCompositor::filterChain(settings));
    return std::make_shared<const FrameFilter>(
        [table, &pool](const QImage& picture) { return table->apply(picture, pool); },
        [table, &pool](const platform::YuvPicture& picture) {
            return table->apply(picture, pool);
        });
}

}  // namespace

VideoColorCompositor::VideoColorCompositor(platform::RunLoop& mainLoop, platform::WorkerPool& pool)
    : mainLoop_(mainLoop), pool_(pool) {}

bool VideoColorCompositor::isDefault(const ColorSettings& settings) {
    return settings == ColorSettings{};
}

platform::ColorFilterChain VideoColorCompositor::filterChain(const ColorSettings& settings) {
    if (isDefault(settings)) {
        return {};
    }
    std::vector<platform::ColorFilter> filters;
    filters.push_back(
        platform::ColorControls{settings.brightness, settings.contrast, settings.saturation});
    if (settings.hue != 0.0f) {
        filters.push_back(platform::HueAdjust{settings.hue * std::numbers::pi_v<float> / 180.0f});
    }
    if (settings.gamma != 1.0f) {
        filters.push_back(platform::GammaAdjust{settings.gamma});
    }
    if (settings.redGain != 1.0f || settings.greenGain != 1.0f || settings.blueGain != 1.0f) {
        filters.push_back(
            platform::ColorMatrix{settings.redGain, settings.greenGain, settings.blueGain});
    }
    return platform::ColorFilterChain(std::move(filters));
}

std::shared_ptr<const FrameFilter> VideoColorCompositor::frameFilter(
    const ColorSettings& settings) const {
    return makeFrameFilter(settings, pool_);
}

QImage VideoColorCompositor::applyColorSettings(const QImage& image,
                                                const ColorSettings& settings) const {
    return platform::ColorLut(filterChain(settings)).apply(image, pool_);
}

QImage VideoColorCompositor::applyToStill(const QImage& image,
                                          const ColorSettings& settings) const {
    if (isDefault(settings) || image.isNull()) {
        return image;
    }
    QImage corrected = applyColorSettings(image, settings);
    return corrected.isNull() ? image : corrected;
}

platform::Subscription VideoColorCompositor::compose(
    const std::shared_ptr<platform::media::QueuePlayer>& player, ColorSettingsBox& box,
    std::function<void()> completion) const {
    platform::Subscription following;
    if (!player) {
        platform::Console::log(
            "VideoColorCompositor: no player to correct; pictures stay as decoded");
    } else {
        // Put on the player now, before anything is composed with it; only the completion
        // waits for the main loop.
        player->setFrameFilter(makeFrameFilter(box.value(), pool_));
        std::weak_ptr<platform::media::QueuePlayer> weakPlayer = player;
        following = box.onChange([weakPlayer, &pool = pool_](const ColorSettings& settings) {
            if (auto target = weakPlayer.lock()) {
                target->setFrameFilter(makeFrameFilter(settings, pool));
            }
        });
    }
    if (completion) {
        mainLoop_.post(std::move(completion));
    }
    return following;
}

}  // namespace kestio::output
