#include "output/video_color_compositor.h"

#include <mutex>
#include <numbers>
#include <utility>
#include <vector>

#include "output/color_settings_box.h"
#include "platform/graphics/color_lut.h"
#include "platform/graphics/contents_filter.h"
#include "platform/graphics/layer.h"
#include "platform/runloop/console.h"

namespace kestio::output {

namespace {

using platform::FrameFilter;

// The table of one settings version, built the first time a picture is corrected with it, on
// that picture's thread: a change of the values costs the main thread no table.
class LazyTable {
  public:
    explicit LazyTable(platform::ColorFilterChain chain) : chain_(std::move(chain)) {}
    const platform::ColorLut& get() const {
        std::call_once(built_, [this] { table_ = platform::ColorLut(chain_); });
        return table_;
    }

  private:
    platform::ColorFilterChain chain_;
    mutable std::once_flag built_;
    mutable platform::ColorLut table_;
};

std::shared_ptr<const FrameFilter> makeFrameFilter(const ColorSettings& settings,
                                                   platform::WorkerPool& pool) {
    if (VideoColorCompositor::isDefault(settings)) {
        return nullptr;
    }
    auto table = std::make_shared<const LazyTable>(VideoColorCompositor::filterChain(settings));
    return std::make_shared<const FrameFilter>(
        [table, &pool](const QImage& picture) { return table->get().apply(picture, pool); },
        [table, &pool](const platform::YuvPicture& picture) {
            return table->get().apply(picture, pool);
        });
}

std::shared_ptr<const platform::ContentsFilter> makeStillFilter(const ColorSettings& settings,
                                                                platform::WorkerPool& pool) {
    auto step = makeFrameFilter(settings, pool);
    return step ? std::make_shared<const platform::ContentsFilter>(*step) : nullptr;
}

// A new version of the values for the still `layer` shows: its picture is made in the
// background while the layer's picture stays as it was.
std::shared_ptr<const platform::ContentsFilter> makeFollowingFilter(
    const ColorSettings& settings, platform::WorkerPool& pool, const platform::Layer& layer,
    platform::ContentsFilter::Runner runner) {
    auto step = makeFrameFilter(settings, pool);
    if (!step) {
        return nullptr;
    }
    std::shared_ptr<const platform::ContentsFilter> before = layer.contentsFilter();
    if (!before) {
        before = platform::ContentsFilter::asIs(layer.contents());
    }
    return std::make_shared<const platform::ContentsFilter>(*step, std::move(before),
                                                            std::move(runner));
}

}  // namespace

VideoColorCompositor::VideoColorCompositor(platform::RunLoop& mainLoop, platform::WorkerPool& pool)
    : mainLoop_(mainLoop), pool_(pool), stillWorker_(std::make_shared<platform::SerialWorker>()) {}

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

platform::Subscription VideoColorCompositor::composeStill(
    const std::shared_ptr<platform::Layer>& layer, ColorSettingsBox& box) const {
    if (!layer) {
        return {};
    }
    layer->setContentsFilter(makeStillFilter(box.value(), pool_));
    std::weak_ptr<platform::Layer> weakLayer = layer;
    return box.onChange([weakLayer, &pool = pool_,
                         worker = std::weak_ptr(stillWorker_)](const ColorSettings& settings) {
        if (auto target = weakLayer.lock()) {
            target->setContentsFilter(
                makeFollowingFilter(settings, pool, *target, [worker](std::function<void()> job) {
                    if (const auto running = worker.lock()) {
                        running->submit(std::move(job));
                    } else {
                        job();
                    }
                }));
        }
    });
}

void VideoColorCompositor::refreshStill(platform::Layer& layer, const ColorSettingsBox& box) const {
    layer.setContentsFilter(makeStillFilter(box.value(), pool_));
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
