#pragma once

// The content of the output window on the second display: the program picture of the output
// surface, drawn on a canvas of a fixed size that is centred in the window and never enlarged.
//
// It decodes nothing. Each of the surface's slots is mirrored as one unit, in the surface's
// stacking order (slot A's unit below slot B's): a slot layer that carries the slot's opacity and
// the container's place on the canvas, holding a video layer that shows the very picture source
// of the slot's player and, above it, a still layer that repeats the slot's still (through the
// same contents filter, so the still is corrected once for both). Observations of the surface's
// layers keep opacity, visibility, stills, their filters, geometry and video gravity in step.
// A unit takes its slot's level together with every fade the slot runs, as the slot has them
// (the same animations from the same begin times), so at every host time it shows the level
// the slot shows: the audience sees the program, frame for frame, however transitions, stops
// and held pictures cross. The mirror plays no transition of its own; the surface's transition
// callbacks only log them. A picture the surface holds between its slots is repeated between
// the units, with the same level and fades.
//
// A window shows rootLayer() through its own presenter and calls layout() after each size
// change. Everything runs on the run loop's (main) thread.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/graphics/geometry.h"
#include "platform/runloop/published.h"
#include "platform/runloop/run_loop.h"
#include "platform/runloop/time_types.h"
#include "platform/runloop/wall_clock.h"

namespace kestio::platform {
class Layer;
}

namespace kestio::output {

class OutputSurface;
class PlaybackSlot;

class ExternalMonitorContentView {
  public:
    // How long after a cross-fade's fades end it is settled.
    static constexpr double kFinishDelay = 0.05;

    // Takes over the surface's onCutStarted and onDissolveStarted, which do nothing once the
    // view is gone. `playerView` must outlive the view; `wallClock` stamps the log lines (null:
    // the system's).
    ExternalMonitorContentView(platform::RunLoop& loop, OutputSurface& playerView,
                               platform::SizeF canvasSize,
                               std::shared_ptr<const platform::WallClock> wallClock = nullptr);
    ~ExternalMonitorContentView();
    ExternalMonitorContentView(const ExternalMonitorContentView&) = delete;
    ExternalMonitorContentView& operator=(const ExternalMonitorContentView&) = delete;

    // The view's own layer (black); its frame is the window's content area.
    const std::shared_ptr<platform::Layer>& rootLayer() const { return root_; }
    // The window's layout pass: the root takes `size`, then the canvas is fitted.
    void layout(platform::SizeF size);

    // The canvas size; after setting a new one, call layoutCanvas().
    platform::SizeF canvasSize() const { return canvasSize_; }
    void setCanvasSize(platform::SizeF size) { canvasSize_ = size; }
    // Fits the canvas into the view: its own size when it fits, else scaled down to fit keeping
    // its aspect; centred. Then maps the slots' geometry onto it.
    void layoutCanvas();

    // Receives every log line, posted to the run loop.
    std::function<void(const std::string& line)> onLog;

    // True from the surface's cross-fade start until kFinishDelay after its fades end.
    bool isDissolving() const { return isDissolving_; }

    // Copies the slots' opacities, hidden flags, stills and geometry at once.
    void syncAll();
    // Maps each slot's place on the surface onto the canvas; any empty size leaves it as it is.
    void updateMirrorFrames();
    // The surface's cut to A (`toA`) or B: logged, the units as the slots are now; a cross-fade
    // under way ends with it.
    void performCut(bool toA);
    // The surface's cross-fade toward A or B (its fades begin at `beginTime`): logged, the units
    // take the slots' fades; the end is logged kFinishDelay after they end.
    void startDissolve(bool toA, float fromOpacity, double duration, platform::HostTime beginTime);

    // The layers, for tests and diagnostics: per slot its unit, video and still layer.
    const std::shared_ptr<platform::Layer>& canvasLayer() const { return canvas_; }
    const std::shared_ptr<platform::Layer>& slotLayer(bool a) const { return mirror(a).unit; }
    const std::shared_ptr<platform::Layer>& mirrorLayer(bool a) const { return mirror(a).video; }
    const std::shared_ptr<platform::Layer>& stillLayer(bool a) const { return mirror(a).still; }

  private:
    struct Mirror {
        PlaybackSlot* source = nullptr;
        std::shared_ptr<platform::Layer> unit;
        std::shared_ptr<platform::Layer> video;
        std::shared_ptr<platform::Layer> still;
        std::vector<platform::Subscription> observations;
    };

    const Mirror& mirror(bool a) const { return a ? a_ : b_; }
    Mirror& mirror(bool a) { return a ? a_ : b_; }
    void buildMirror(Mirror& m, PlaybackSlot& source, double z);
    void observe(Mirror& m);
    void followOpacity(Mirror& m);
    void followContents(Mirror& m);
    // The surface's held picture, with its level and its fades, between the two units.
    void followHeld();
    // Both units and the held picture as the surface has them now.
    void followAll();
    void finishDissolve();
    void log(const std::string& message);
    std::string opacitiesText() const;

    platform::RunLoop& loop_;
    OutputSurface& playerView_;
    platform::SizeF canvasSize_;
    std::shared_ptr<const platform::WallClock> wallClock_;
    std::shared_ptr<platform::Layer> root_;
    std::shared_ptr<platform::Layer> canvas_;
    Mirror a_;
    Mirror b_;
    // While the surface holds a picture (null otherwise).
    std::shared_ptr<platform::Layer> held_;
    platform::Subscription surfaceBounds_;
    bool isDissolving_ = false;
    // The end step of the cross-fade under way. Every transition cancels or replaces it, so only
    // the latest transition's end is logged.
    platform::TimerHandle finish_;

    // Deferred steps and the surface's callbacks hold this weakly.
    std::shared_ptr<ExternalMonitorContentView*> self_ =
        std::make_shared<ExternalMonitorContentView*>(this);
};

}  // namespace kestio::output
