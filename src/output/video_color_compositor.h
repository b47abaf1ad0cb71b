#pragma once

// Applies a slot's colour values to its pictures. Video is corrected where pictures are
// composed for display, through the player's frame filter: every view of the player (program
// surface and mirror) shows the corrected picture, and the filter runs once per picture
// however many views show it. A still is corrected the same way, where it is composed, through
// its layer's contents filter: once per still and settings version for every view, so a change
// of the values only swaps the filter on the main thread. A still's first picture is corrected
// on the presenter thread that first composes it; a change of the values on a still shown is
// corrected on a worker of the compositor's, while the views keep showing the picture before it.
//
// The correction, in the colour step's working space (linear light, sRGB primaries):
//   1. colour controls (saturation, contrast, brightness), whenever any value differs from
//      its default;
//   2. a hue rotation of hue × π / 180 radians (single precision), when hue is not 0;
//   3. a gamma of c^gamma, when gamma is not 1;
//   4. a gain per channel, when any gain is not 1.
// At the default values (exact equality) nothing runs at all: a picture or a still is shown as
// decoded. A settings version's correction table is built when it first corrects a picture, on
// that picture's thread.

#include <QImage>
#include <functional>
#include <memory>

#include "model/settings_records.h"
#include "platform/graphics/color_filter_chain.h"
#include "platform/graphics/frame_filter.h"
#include "platform/graphics/worker_pool.h"
#include "platform/media/queue_player.h"
#include "platform/runloop/job_threads.h"
#include "platform/runloop/published.h"
#include "platform/runloop/run_loop.h"

namespace kestio::platform {
class Layer;
}

namespace kestio::output {

class ColorSettingsBox;

class VideoColorCompositor {
  public:
    // Completions run on `mainLoop`; picture work is spread over `pool`.
    explicit VideoColorCompositor(platform::RunLoop& mainLoop,
                                  platform::WorkerPool& pool = platform::WorkerPool::shared());

    // True when all eight values equal their defaults exactly.
    static bool isDefault(const ColorSettings& settings);

    // The filter steps for `settings`, in order (none at the defaults).
    static platform::ColorFilterChain filterChain(const ColorSettings& settings);

    // The per-picture step for `settings`: null at the defaults, so that no filter work runs.
    // Immutable and safe on any thread; each call makes a new filter, which the player takes
    // as a new settings version.
    std::shared_ptr<const platform::FrameFilter> frameFilter(const ColorSettings& settings) const;

    // `image` corrected by `settings` (same size; formats as ColorLut::apply).
    QImage applyColorSettings(const QImage& image, const ColorSettings& settings) const;

    // A still corrected whole at once, as composition corrects it: `image` itself at the
    // defaults (or when correcting yields nothing), otherwise a corrected copy.
    QImage applyToStill(const QImage& image, const ColorSettings& settings) const;

    // Corrects every picture `player` shows with `box`'s values. The filter is on the player
    // when this returns, so no picture composed from then on is uncorrected, not even a clip's
    // first; each later change of the box is put on the player at once and shows on the next
    // picture composed, paused or not. `completion` runs afterwards on the main loop (never
    // inside this call), also when there is no player, which is logged and corrects nothing.
    // The player follows the box until the returned subscription ends; ending it leaves the
    // last filter in place.
    [[nodiscard]] platform::Subscription compose(
        const std::shared_ptr<platform::media::QueuePlayer>& player, ColorSettingsBox& box,
        std::function<void()> completion = {}) const;

    // Corrects the still `layer` shows (its contents) with `box`'s values where it is composed:
    // the filter is on the layer when this returns, and each later change of the box swaps it at
    // once (main thread), touching no picture; the still is corrected anew in the background,
    // and shown corrected when that is done.
    // The layer follows the box until the returned subscription ends; ending it leaves the
    // last filter in place. The layer is held weakly.
    [[nodiscard]] platform::Subscription composeStill(const std::shared_ptr<platform::Layer>& layer,
                                                      ColorSettingsBox& box) const;
    // Puts a new filter of the box's values on `layer`, which lets go of the still the old one
    // made (a layer whose still has gone keeps no corrected copy of it).
    void refreshStill(platform::Layer& layer, const ColorSettingsBox& box) const;
    // Blocks until the stills being corrected for new values are done (not from a presenter).
    void finishStillWork() const { stillWorker_->flush(); }

  private:
    platform::RunLoop& mainLoop_;
    platform::WorkerPool& pool_;
    // Makes a still's picture for new values while the old one stays on screen.
    std::shared_ptr<platform::SerialWorker> stillWorker_;
};

}  // namespace kestio::output
